#include "WsDiscovery.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace scoutrix::onvif::discovery {

namespace {

std::vector<QName> parseTypes(pugi::xml_node typesNode)
{
    std::vector<QName> out;
    for (const std::string &word : xml::splitList(typesNode.text().get())) {
        const std::string_view prefix = xml::prefixOf(word);
        // An unprefixed QName in a list takes the default namespace.
        out.push_back({xml::resolvePrefix(typesNode, prefix), std::string(xml::localName(word))});
    }
    return out;
}

// Writes QNames with the known prefixes, declaring any other namespace on
// the element itself.
void writeTypes(pugi::xml_node parent, const char *name, const std::vector<QName> &types)
{
    pugi::xml_node node = xml::addElement(parent, name);
    std::string text;
    int extra = 0;
    for (const QName &t : types) {
        std::string prefix;
        for (const soap::Namespace &n : soap::knownNamespaces()) {
            if (t.ns == n.uri)
                prefix = n.prefix;
        }
        if (prefix.empty() && !t.ns.empty()) {
            for (pugi::xml_attribute a : node.attributes()) {
                if (t.ns == a.value())
                    prefix = std::string(xml::localName(a.name()));
            }
            if (prefix.empty()) {
                prefix = "ns" + std::to_string(extra++);
                node.append_attribute(("xmlns:" + prefix).c_str()) = t.ns.c_str();
            }
        }
        if (!text.empty())
            text += ' ';
        text += prefix.empty() ? t.local : prefix + ':' + t.local;
    }
    if (!text.empty())
        node.text().set(text.c_str());
}

std::string joinList(const std::vector<std::string> &items)
{
    std::string out;
    for (const std::string &s : items) {
        if (!out.empty())
            out += ' ';
        out += s;
    }
    return out;
}

void addAddressing(soap::Message &m, const std::string &messageId, const char *action, const char *to,
    const std::string &relatesTo)
{
    pugi::xml_node h = m.header();
    xml::addElement(h, "wsa:MessageID", messageId);
    if (!relatesTo.empty())
        xml::addElement(h, "wsa:RelatesTo", relatesTo);
    xml::addElement(h, "wsa:To", to).append_attribute("env:mustUnderstand") = "true";
    xml::addElement(h, "wsa:Action", action).append_attribute("env:mustUnderstand") = "true";
}

Result<soap::Envelope> discoveryEnvelope(std::string_view text, const xml::Limits &limits, const char *expected)
{
    auto env = soap::parseEnvelope(text, limits);
    if (!env)
        return env;
    if (env->isFault())
        return Error {"device answered with a fault: " + env->fault->reason};
    if (env->payloadName != expected
        || (env->payloadNamespace != soap::ns::wsd && env->payloadNamespace != soap::ns::wsd200408))
        return Error {"expected a " + std::string(expected) + ", got " + env->payloadName + " in \""
            + env->payloadNamespace + "\""};
    return env;
}

bool iequal(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

struct SplitUri {
    std::string_view scheme;
    std::string_view authority;
    std::vector<std::string> segments; // decoded, empty ones dropped
};

std::optional<SplitUri> splitUri(std::string_view uri)
{
    const std::size_t colon = uri.find("://");
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    SplitUri s;
    s.scheme = uri.substr(0, colon);
    std::string_view rest = uri.substr(colon + 3);
    const std::size_t slash = rest.find('/');
    s.authority = rest.substr(0, slash);
    if (slash != std::string_view::npos) {
        std::string_view path = rest.substr(slash + 1);
        // Query and fragment take no part in scope matching.
        path = path.substr(0, path.find_first_of("?#"));
        std::size_t at = 0;
        while (at <= path.size()) {
            const std::size_t end = std::min(path.find('/', at), path.size());
            if (end > at)
                s.segments.push_back(percentDecode(path.substr(at, end - at)));
            at = end + 1;
        }
    }
    return s;
}

bool scopeMatches(std::string_view wanted, std::string_view offered, const std::string &matchBy)
{
    if (matchBy == kStrcmpMatchBy)
        return wanted == offered;
    if (!matchBy.empty() && matchBy != kRfc3986MatchBy)
        return false;
    const auto w = splitUri(wanted);
    const auto o = splitUri(offered);
    if (!w || !o)
        return wanted == offered;
    if (!iequal(w->scheme, o->scheme) || !iequal(w->authority, o->authority)
        || w->segments.size() > o->segments.size())
        return false;
    for (std::size_t i = 0; i < w->segments.size(); ++i) {
        if (w->segments[i] != o->segments[i])
            return false;
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

QName networkVideoTransmitter()
{
    return {soap::ns::dn, "NetworkVideoTransmitter"};
}

QName deviceType()
{
    return {soap::ns::tds, "Device"};
}

std::string newMessageId()
{
    unsigned char b[16];
    if (RAND_bytes(b, sizeof b) != 1)
        std::abort(); // identical message ids would cross answers between probes
    b[6] = (b[6] & 0x0f) | 0x40;
    b[8] = (b[8] & 0x3f) | 0x80;
    char out[48];
    std::snprintf(out, sizeof out,
        "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1], b[2],
        b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return out;
}

std::string buildProbe(Probe &probe)
{
    if (probe.messageId.empty())
        probe.messageId = newMessageId();
    soap::Message m;
    addAddressing(m, probe.messageId, kProbeAction, kDiscoveryTo, {});
    pugi::xml_node p = xml::addElement(m.body(), "wsd:Probe");
    if (!probe.types.empty())
        writeTypes(p, "wsd:Types", probe.types);
    if (!probe.scopes.empty()) {
        pugi::xml_node s = xml::addElement(p, "wsd:Scopes", joinList(probe.scopes));
        if (!probe.matchBy.empty())
            s.append_attribute("MatchBy") = probe.matchBy.c_str();
    }
    return m.toString();
}

Result<Probe> parseProbe(std::string_view text, const xml::Limits &limits)
{
    auto env = discoveryEnvelope(text, limits, "Probe");
    if (!env)
        return Error {env.error()};
    Probe p;
    p.messageId = xml::trimmedText(xml::child(env->header, "MessageID"));
    if (p.messageId.empty())
        return Error {"Probe without a MessageID"};
    p.types = parseTypes(xml::child(env->payload, "Types"));
    const pugi::xml_node scopes = xml::child(env->payload, "Scopes");
    p.scopes = xml::splitList(scopes.text().get());
    p.matchBy = scopes.attribute("MatchBy").value();
    return p;
}

std::string buildProbeMatches(ProbeMatches &answer)
{
    if (answer.messageId.empty())
        answer.messageId = newMessageId();
    soap::Message m;
    addAddressing(m, answer.messageId, kProbeMatchesAction, kAnonymous, answer.relatesTo);
    pugi::xml_node seq = xml::addElement(m.header(), "wsd:AppSequence");
    seq.append_attribute("InstanceId") = answer.instanceId;
    seq.append_attribute("MessageNumber") = answer.messageNumber;
    pugi::xml_node list = xml::addElement(m.body(), "wsd:ProbeMatches");
    for (const ProbeMatch &match : answer.matches) {
        pugi::xml_node pm = xml::addElement(list, "wsd:ProbeMatch");
        xml::addElement(xml::addElement(pm, "wsa:EndpointReference"), "wsa:Address", match.address);
        writeTypes(pm, "wsd:Types", match.types);
        xml::addElement(pm, "wsd:Scopes", joinList(match.scopes));
        xml::addElement(pm, "wsd:XAddrs", joinList(match.xaddrs));
        xml::addElement(pm, "wsd:MetadataVersion", std::to_string(match.metadataVersion));
    }
    return m.toString();
}

Result<ProbeMatches> parseProbeMatches(std::string_view text, const xml::Limits &limits)
{
    auto env = discoveryEnvelope(text, limits, "ProbeMatches");
    if (!env)
        return Error {env.error()};
    ProbeMatches a;
    a.messageId = xml::trimmedText(xml::child(env->header, "MessageID"));
    a.relatesTo = xml::trimmedText(xml::child(env->header, "RelatesTo"));
    if (pugi::xml_node seq = xml::child(env->header, "AppSequence")) {
        a.instanceId = seq.attribute("InstanceId").as_uint();
        a.messageNumber = seq.attribute("MessageNumber").as_uint();
    }
    for (pugi::xml_node pm : xml::children(env->payload, "ProbeMatch")) {
        ProbeMatch m;
        m.address = xml::trimmedText(xml::child(xml::child(pm, "EndpointReference"), "Address"));
        if (m.address.empty())
            continue;
        m.types = parseTypes(xml::child(pm, "Types"));
        m.scopes = xml::splitList(xml::child(pm, "Scopes").text().get());
        m.xaddrs = xml::splitList(xml::child(pm, "XAddrs").text().get());
        const std::string version = xml::trimmedText(xml::child(pm, "MetadataVersion"));
        char *end = nullptr;
        const unsigned long v = std::strtoul(version.c_str(), &end, 10);
        if (!version.empty() && version[0] != '-' && end && *end == '\0' && v <= 0xffffffffUL)
            m.metadataVersion = std::uint32_t(v);
        a.matches.push_back(std::move(m));
    }
    return a;
}

bool matches(const Probe &probe, const std::vector<QName> &types, const std::vector<std::string> &scopes)
{
    for (const QName &want : probe.types) {
        bool found = false;
        for (const QName &have : types) {
            if (want.local == have.local && (want.ns.empty() || have.ns.empty() || want.ns == have.ns))
                found = true;
        }
        if (!found)
            return false;
    }
    for (const std::string &want : probe.scopes) {
        bool found = false;
        for (const std::string &have : scopes) {
            if (scopeMatches(want, have, probe.matchBy))
                found = true;
        }
        if (!found)
            return false;
    }
    return true;
}

std::string percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string percentEncode(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' || u == '.'
            || u == '_' || u == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

std::optional<Scope> parseScope(std::string_view uri)
{
    static const std::string_view kPrefix = "onvif://www.onvif.org/";
    if (uri.size() <= kPrefix.size() || !iequal(uri.substr(0, kPrefix.size()), kPrefix))
        return std::nullopt;
    std::string_view rest = uri.substr(kPrefix.size());
    const std::size_t slash = rest.find('/');
    Scope s;
    s.category = percentDecode(rest.substr(0, slash));
    if (slash != std::string_view::npos)
        s.value = percentDecode(rest.substr(slash + 1));
    if (s.category.empty())
        return std::nullopt;
    return s;
}

std::string makeScope(std::string_view category, std::string_view value)
{
    return "onvif://www.onvif.org/" + std::string(category) + "/" + percentEncode(value);
}

ScopeInfo describeScopes(const std::vector<std::string> &scopes)
{
    ScopeInfo info;
    for (const std::string &uri : scopes) {
        const auto s = parseScope(uri);
        if (!s)
            continue;
        if (s->category == "name" && info.name.empty())
            info.name = s->value;
        else if (s->category == "hardware" && info.hardware.empty())
            info.hardware = s->value;
        else if (s->category == "mac" && info.mac.empty())
            info.mac = s->value;
        else if (s->category == "location")
            info.locations.push_back(s->value);
        else if (s->category == "Profile" || s->category == "profile")
            info.profiles.push_back(s->value);
        else if (s->category == "type")
            info.types.push_back(s->value);
    }
    return info;
}

} // namespace scoutrix::onvif::discovery
