#include "Soap.h"

#include <set>

namespace scoutrix::onvif::soap {

const std::vector<Namespace> &knownNamespaces()
{
    static const std::vector<Namespace> list {
        {"env", ns::env}, {"tds", ns::tds}, {"trt", ns::trt}, {"timg", ns::timg}, {"tt", ns::tt},
        {"ter", ns::ter}, {"wsa", ns::wsa}, {"wsd", ns::wsd}, {"dn", ns::dn}, {"wsse", ns::wsse},
        {"wsu", ns::wsu},
    };
    return list;
}

const char *namespaceForPrefix(std::string_view prefix)
{
    for (const Namespace &n : knownNamespaces()) {
        if (prefix == n.prefix)
            return n.uri;
    }
    return nullptr;
}

Message::Message()
{
    envelope_ = doc_.append_child("env:Envelope");
    body_ = envelope_.append_child("env:Body");
}

pugi::xml_node Message::header()
{
    if (!header_)
        header_ = envelope_.insert_child_before("env:Header", body_);
    return header_;
}

pugi::xml_node Message::body()
{
    return body_;
}

pugi::xml_node Message::envelope() const
{
    return envelope_;
}

Result<pugi::xml_node> Message::appendFragment(pugi::xml_node parent, std::string_view fragment)
{
    auto parsed = xml::parse(fragment, {}, true);
    if (!parsed)
        return Error {parsed.error()};
    pugi::xml_node first;
    for (pugi::xml_node n = (*parsed)->first_child(); n; n = n.next_sibling()) {
        pugi::xml_node copy = parent.append_copy(n);
        if (!first)
            first = copy;
    }
    return first;
}

std::string Message::toString()
{
    std::set<std::string, std::less<>> used;
    auto note = [&used](std::string_view qualified) {
        const std::string_view prefix = xml::prefixOf(qualified);
        if (!prefix.empty() && prefix != "xmlns")
            used.emplace(prefix);
    };
    // Prefixes appear in element and attribute names, and in QName values
    // such as wsd:Types and fault codes.
    envelope_.find_node([&](pugi::xml_node n) {
        if (n.type() == pugi::node_element) {
            note(n.name());
            for (pugi::xml_attribute a : n.attributes())
                note(a.name());
        } else if (n.type() == pugi::node_pcdata) {
            for (const std::string &word : xml::splitList(n.value()))
                note(word);
        }
        return false;
    });
    note(envelope_.name());
    for (const Namespace &n : knownNamespaces()) {
        const std::string attribute = std::string("xmlns:") + n.prefix;
        if (used.count(n.prefix) && !envelope_.attribute(attribute.c_str()))
            envelope_.append_attribute(attribute.c_str()) = n.uri;
    }
    return xml::serialize(doc_);
}

namespace {

std::string qnameLocal(pugi::xml_node valueElement)
{
    return std::string(xml::localName(xml::trimmedText(valueElement)));
}

Fault parseFault(pugi::xml_node fault, bool soap12)
{
    Fault f;
    if (soap12) {
        pugi::xml_node code = xml::child(fault, "Code");
        f.code = qnameLocal(xml::child(code, "Value"));
        // Subcodes nest; the depth limit of the parser bounds this walk.
        for (pugi::xml_node sub = xml::child(code, "Subcode"); sub; sub = xml::child(sub, "Subcode"))
            f.subcodes.push_back(qnameLocal(xml::child(sub, "Value")));
        f.reason = xml::trimmedText(xml::child(xml::child(fault, "Reason"), "Text"));
        f.detail = xml::trimmedText(xml::child(fault, "Detail"));
        if (f.detail.empty()) {
            if (pugi::xml_node text = xml::descendant(xml::child(fault, "Detail"), "Text"))
                f.detail = xml::trimmedText(text);
        }
    } else {
        f.code = qnameLocal(xml::child(fault, "faultcode"));
        f.reason = xml::trimmedText(xml::child(fault, "faultstring"));
        f.detail = xml::trimmedText(xml::child(fault, "detail"));
    }
    return f;
}

} // namespace

Result<Envelope> parseEnvelope(std::string_view text, const xml::Limits &limits)
{
    auto parsed = xml::parse(text, limits);
    if (!parsed)
        return Error {parsed.error()};
    Envelope e;
    e.doc = std::move(*parsed);
    const pugi::xml_node root = e.doc->document_element();
    if (xml::localName(root.name()) != "Envelope")
        return Error {std::string("root element is ") + root.name() + ", not a SOAP Envelope"};
    const std::string rootNs = xml::namespaceOf(root);
    if (rootNs == ns::env)
        e.soap12 = true;
    else if (rootNs == ns::soap11)
        e.soap12 = false;
    else
        return Error {"Envelope in unknown namespace \"" + rootNs + "\""};

    for (pugi::xml_node n = xml::firstElement(root); n; n = n.next_sibling()) {
        if (n.type() != pugi::node_element)
            continue;
        const std::string_view local = xml::localName(n.name());
        if (local == "Header" && !e.header && !e.body)
            e.header = n;
        else if (local == "Body" && !e.body)
            e.body = n;
        else
            return Error {std::string("unexpected element ") + n.name() + " in the Envelope"};
    }
    if (!e.body)
        return Error {"Envelope has no Body"};
    e.payload = xml::firstElement(e.body);
    if (!e.payload)
        return Error {"Body is empty"};
    e.payloadName = std::string(xml::localName(e.payload.name()));
    e.payloadNamespace = xml::namespaceOf(e.payload);
    if (e.payloadName == "Fault" && e.payloadNamespace == rootNs)
        e.fault = parseFault(e.payload, e.soap12);
    return e;
}

std::string buildFault(const Fault &fault)
{
    Message m;
    pugi::xml_node f = xml::addElement(m.body(), "env:Fault");
    pugi::xml_node code = xml::addElement(f, "env:Code");
    xml::addElement(code, "env:Value", "env:" + fault.code);
    pugi::xml_node parent = code;
    for (const std::string &sub : fault.subcodes) {
        parent = xml::addElement(parent, "env:Subcode");
        xml::addElement(parent, "env:Value", "ter:" + sub);
    }
    pugi::xml_node reason = xml::addElement(f, "env:Reason");
    xml::addElement(reason, "env:Text", fault.reason).append_attribute("xml:lang") = "en";
    if (!fault.detail.empty())
        xml::addElement(xml::addElement(f, "env:Detail"), "env:Text", fault.detail);
    return m.toString();
}

} // namespace scoutrix::onvif::soap
