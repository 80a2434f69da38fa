// libFuzzer target: the SOAP layer's readers, which face whatever a camera
// (or anything posing as one) sends: the envelope and fault parser, the
// device's UsernameToken check, the WS-Discovery Probe and ProbeMatches
// parsers and the scope decoder. Whatever they accept must survive being
// written again by our own builders, and any text must come back from an
// envelope exactly as it went in.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Soap.h"
#include "WsDiscovery.h"
#include "WsSecurity.h"
#include "Xml.h"

using namespace scoutrix::onvif;

namespace {

// The seeds' tokens were made for this instant, so the accepting path and
// the replay path are both reached.
const wsse::Clock::time_point kDeviceNow = wsse::Clock::time_point(std::chrono::seconds(1773480413));

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void envelopes(std::string_view text)
{
    static wsse::Verifier verifier;
    auto env = soap::parseEnvelope(text);
    if (!env)
        return;
    const auto lookup = [](const std::string &user) -> std::optional<std::string> {
        if (user == "admin")
            return std::string("S3cret&<pass>");
        return std::nullopt;
    };
    const wsse::AuthResult r = verifier.verify(*env, lookup, kDeviceNow);
    check(r.ok() == (r.status == wsse::AuthStatus::Ok));
    if (env->fault) {
        const auto back = soap::parseEnvelope(soap::buildFault(*env->fault));
        check(back.ok() && back->isFault());
    }
}

void discoveryMessages(std::string_view text)
{
    if (auto probe = discovery::parseProbe(text)) {
        const std::string again = discovery::buildProbe(*probe);
        const auto back = discovery::parseProbe(again);
        check(back.ok() && back->types.size() <= probe->types.size());
        discovery::matches(*probe, {discovery::networkVideoTransmitter()}, {"onvif://www.onvif.org/name/x"});
    }
    if (auto answer = discovery::parseProbeMatches(text)) {
        for (const discovery::ProbeMatch &m : answer->matches) {
            discovery::describeScopes(m.scopes);
            check(!m.address.empty());
        }
        const auto back = discovery::parseProbeMatches(discovery::buildProbeMatches(*answer));
        check(back.ok() && back->matches.size() <= answer->matches.size());
    }
}

void textRoundTrip(std::string_view text)
{
    soap::Message m;
    pugi::xml_node set = xml::addElement(m.body(), "tds:SetHostname");
    xml::addElement(set, "tds:Name", text);
    set.append_attribute("Note") = std::string(text).c_str();
    const auto back = soap::parseEnvelope(m.toString());
    check(back.ok());
    const std::string expected = xml::xmlText(text);
    check(xml::textAt(back->payload, {"Name"}).value_or("\x01") == expected);
    check(back->payload.attribute("Note").value() == xml::xmlText(std::string(text).c_str()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    envelopes(text);
    discoveryMessages(text);
    if (size < 4096)
        textRoundTrip(text);
    wsse::parseCreated(text);
    wsse::base64Decode(text);
    discovery::parseScope(text);
    return 0;
}
