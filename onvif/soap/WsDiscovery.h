#pragma once

// WS-Discovery of April 2005 (its namespace and action URIs, addressing of
// 2004/08), the dialect cameras speak: a Probe for NetworkVideoTransmitters goes out,
// ProbeMatches come back. Both sides live here so the client and the
// emulator cannot drift apart.

#include "Soap.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scoutrix::onvif::discovery {

inline constexpr const char kProbeAction[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe";
inline constexpr const char kProbeMatchesAction[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches";
inline constexpr const char kDiscoveryTo[] = "urn:schemas-xmlsoap-org:ws:2005:04:discovery";
inline constexpr const char kAnonymous[] = "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";
inline constexpr const char kRfc3986MatchBy[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery/rfc3986";
inline constexpr const char kStrcmpMatchBy[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery/strcmp0";

// A type with its prefix resolved. ns is empty when the sender used a
// prefix it never declared; such a type matches on its local name alone.
struct QName {
    std::string ns;
    std::string local;
    bool operator==(const QName &o) const { return ns == o.ns && local == o.local; }
};
QName networkVideoTransmitter();
QName deviceType(); // tds:Device

// "urn:uuid:" and a random (version 4) UUID.
std::string newMessageId();

struct Probe {
    std::string messageId;
    std::vector<QName> types;
    std::vector<std::string> scopes;
    std::string matchBy; // empty: RFC 3986 prefix matching
};

// The Probe's envelope; an empty messageId gets a fresh one, written back.
std::string buildProbe(Probe &probe);
Result<Probe> parseProbe(std::string_view text, const xml::Limits &limits = {});

struct ProbeMatch {
    std::string address; // EndpointReference/Address, usually urn:uuid:...
    std::vector<QName> types;
    std::vector<std::string> scopes;
    std::vector<std::string> xaddrs;
    std::uint32_t metadataVersion = 0;
};

struct ProbeMatches {
    std::string messageId;
    std::string relatesTo;
    std::uint32_t instanceId = 1;
    std::uint32_t messageNumber = 1;
    std::vector<ProbeMatch> matches;
};

// An empty messageId gets a fresh one, written back.
std::string buildProbeMatches(ProbeMatches &answer);
// Matches without an Address are dropped; everything else a camera got
// slightly wrong (unknown prefixes, a bad MetadataVersion) is kept.
Result<ProbeMatches> parseProbeMatches(std::string_view text, const xml::Limits &limits = {});

// Whether a device offering these types and scopes answers the probe.
bool matches(const Probe &probe, const std::vector<QName> &types, const std::vector<std::string> &scopes);

// onvif://www.onvif.org/<category>/<value>: category is the first path
// segment ("name", "hardware", "location", "mac", "type", "Profile" ...),
// value the rest, percent-decoded.
struct Scope {
    std::string category;
    std::string value;
};
std::optional<Scope> parseScope(std::string_view uri);
// Encodes everything in value but RFC 3986's unreserved characters.
std::string makeScope(std::string_view category, std::string_view value);

struct ScopeInfo {
    std::string name;
    std::string hardware;
    std::string mac;
    std::vector<std::string> locations; // e.g. "city/Berlin"
    std::vector<std::string> profiles;  // e.g. "Streaming", "S", "T"
    std::vector<std::string> types;     // e.g. "video_encoder"
};
ScopeInfo describeScopes(const std::vector<std::string> &scopes);

// %XX sequences decoded; a malformed one is kept as written.
std::string percentDecode(std::string_view text);
std::string percentEncode(std::string_view text);

} // namespace scoutrix::onvif::discovery
