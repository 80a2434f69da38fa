#pragma once

// SOAP 1.2 envelopes: built with pugixml so that every text value is
// escaped by the serialiser, and parsed through xml::parse so that hostile
// answers are refused before they are walked.

#include "Xml.h"

#include <string>
#include <string_view>
#include <vector>

namespace scoutrix::onvif::soap {

namespace ns {
inline constexpr const char env[] = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char soap11[] = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char tds[] = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr const char trt[] = "http://www.onvif.org/ver10/media/wsdl";
inline constexpr const char timg[] = "http://www.onvif.org/ver20/imaging/wsdl";
inline constexpr const char tt[] = "http://www.onvif.org/ver10/schema";
inline constexpr const char ter[] = "http://www.onvif.org/ver10/error";
inline constexpr const char wsa[] = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr const char wsd[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
// Read as well: a namespace some older code wrote the discovery elements in.
inline constexpr const char wsd200408[] = "http://schemas.xmlsoap.org/ws/2004/08/discovery";
inline constexpr const char dn[] = "http://www.onvif.org/ver10/network/wsdl";
inline constexpr const char wsse[]
    = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd";
inline constexpr const char wsu[]
    = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd";
} // namespace ns

struct Namespace {
    const char *prefix;
    const char *uri;
};
// The prefixes this layer writes; an envelope declares those it uses.
const std::vector<Namespace> &knownNamespaces();
// The URI a known prefix stands for, or nullptr.
const char *namespaceForPrefix(std::string_view prefix);

// An outgoing envelope. Fill header() and body() with xml::addElement or
// appendFragment, then toString(). The Header element is only written when
// something was put in it.
class Message {
public:
    Message();
    Message(const Message &) = delete;
    Message &operator=(const Message &) = delete;

    pugi::xml_node header();
    pugi::xml_node body();
    pugi::xml_node envelope() const;

    // Parses a fragment of trusted markup (e.g. "<tds:GetDeviceInformation/>")
    // and appends a copy to parent. Use it for structure, never to carry
    // user text: that goes through xml::addElement.
    Result<pugi::xml_node> appendFragment(pugi::xml_node parent, std::string_view fragment);

    // Declares every known prefix used anywhere in the message on the
    // Envelope element and serialises it.
    std::string toString();

private:
    pugi::xml_document doc_;
    pugi::xml_node envelope_;
    pugi::xml_node header_;
    pugi::xml_node body_;
};

struct Fault {
    // Local names of the QNames: "Sender", "Receiver", ...
    std::string code;
    // Outermost first: e.g. {"InvalidArgVal", "NoProfile"}.
    std::vector<std::string> subcodes;
    std::string reason;
    // The Detail element's text, trimmed, when it has any.
    std::string detail;
};

struct Envelope {
    xml::Document doc;
    bool soap12 = true;
    pugi::xml_node header;  // empty when the envelope has none
    pugi::xml_node body;
    pugi::xml_node payload; // the Body's first element
    std::string payloadName;
    std::string payloadNamespace;
    std::optional<Fault> fault;

    bool isFault() const { return fault.has_value(); }
};

// Accepts a SOAP 1.2 envelope and, because some older firmware still
// answers that way, a SOAP 1.1 one (soap12 tells which). A Fault in the
// Body is parsed into fault; the envelope itself is still a success.
Result<Envelope> parseEnvelope(std::string_view text, const xml::Limits &limits = {});

// The body of a 1.2 fault; code is "Sender" or "Receiver" (or another
// env: code), subcodes are written as ter: QNames.
std::string buildFault(const Fault &fault);

} // namespace scoutrix::onvif::soap
