#include "Xml.h"

#include <cstring>
#include <sstream>

namespace scoutrix::onvif::xml {

namespace {

// parse_doctype only so a DOCTYPE that slipped past the scan shows up as a
// node and is refused; pugixml never expands entities beyond the five
// predefined ones and character references. Comments and processing
// instructions are dropped. Whitespace-only text is kept when it is an
// element's only content, so " " as a value survives a round trip.
constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol
    | pugi::parse_wconv_attribute | pugi::parse_doctype | pugi::parse_ws_pcdata_single;

bool startsWith(std::string_view s, std::size_t at, std::string_view what)
{
    return s.size() - at >= what.size() && s.compare(at, what.size(), what) == 0;
}

// Markup declarations ("<!DOCTYPE", "<!ENTITY", "<!ELEMENT" ...) have no
// place in SOAP; refusing every "<!" that opens neither a comment nor a
// CDATA section keeps internal subsets and their entities out entirely.
std::optional<std::string> scanDeclarations(std::string_view text)
{
    std::size_t at = 0;
    while ((at = text.find("<!", at)) != std::string_view::npos) {
        if (startsWith(text, at, "<!--")) {
            const std::size_t end = text.find("-->", at + 4);
            if (end == std::string_view::npos)
                return std::string("unterminated comment");
            at = end + 3;
        } else if (startsWith(text, at, "<![CDATA[")) {
            const std::size_t end = text.find("]]>", at + 9);
            if (end == std::string_view::npos)
                return std::string("unterminated CDATA section");
            at = end + 3;
        } else {
            return std::string("document type and entity declarations are not accepted");
        }
    }
    return std::nullopt;
}

// Iterative so that no tree shape can exhaust the stack.
std::optional<std::string> checkTree(const pugi::xml_document &doc, int maxDepth)
{
    pugi::xml_node node = doc.first_child();
    int depth = 1;
    while (node) {
        if (node.type() == pugi::node_doctype)
            return std::string("document type declarations are not accepted");
        if (node.type() == pugi::node_element && depth > maxDepth)
            return "elements nested deeper than " + std::to_string(maxDepth);
        if (node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            --depth;
            if (node == doc)
                return std::nullopt;
        }
        if (node)
            node = node.next_sibling();
    }
    return std::nullopt;
}

// XML 1.0 can carry no C0 control character but tab, LF and CR.
bool isForbiddenControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

bool hasForbiddenControl(std::string_view s)
{
    for (char c : s) {
        if (isForbiddenControl(c))
            return true;
    }
    return false;
}

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

Result<Document> parse(std::string_view text, const Limits &limits, bool fragment)
{
    if (text.size() > limits.maxBytes)
        return Error {"document of " + std::to_string(text.size()) + " bytes is over the limit of "
            + std::to_string(limits.maxBytes)};
    if (text.find('\0') != std::string_view::npos)
        return Error {"document contains a NUL byte"};
    if (auto why = scanDeclarations(text))
        return Error {*why};

    auto doc = std::make_shared<pugi::xml_document>();
    // Always as a fragment: otherwise pugixml silently drops text outside
    // the root element instead of letting us refuse it.
    const unsigned options = kParseOptions | pugi::parse_fragment;
    const pugi::xml_parse_result parsed = doc->load_buffer(text.data(), text.size(), options, pugi::encoding_utf8);
    if (!parsed)
        return Error {std::string("not well-formed XML: ") + parsed.description() + " at offset "
            + std::to_string(parsed.offset)};
    if (auto why = checkTree(*doc, limits.maxDepth))
        return Error {*why};
    if (!fragment) {
        int roots = 0;
        for (pugi::xml_node n = doc->first_child(); n; n = n.next_sibling()) {
            if (n.type() == pugi::node_element)
                ++roots;
            else if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata)
                return Error {"text outside the root element"};
        }
        if (roots != 1)
            return Error {roots == 0 ? "no root element" : "more than one root element"};
    }
    return Document(std::move(doc));
}

std::string xmlText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (!isForbiddenControl(c))
            out += c;
    }
    return out;
}

std::string_view localName(std::string_view qualified)
{
    const std::size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

std::string_view prefixOf(std::string_view qualified)
{
    const std::size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
}

std::string resolvePrefix(pugi::xml_node node, std::string_view prefix)
{
    if (prefix == "xml")
        return "http://www.w3.org/XML/1998/namespace";
    const std::string attribute = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
    for (pugi::xml_node n = node; n && n.type() == pugi::node_element; n = n.parent()) {
        if (pugi::xml_attribute a = n.attribute(attribute.c_str()))
            return a.value();
    }
    return {};
}

std::string namespaceOf(pugi::xml_node node)
{
    return resolvePrefix(node, prefixOf(node.name()));
}

pugi::xml_node child(pugi::xml_node parent, std::string_view local)
{
    for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element && localName(n.name()) == local)
            return n;
    }
    return {};
}

pugi::xml_node descendant(pugi::xml_node from, std::string_view local)
{
    // find_node walks without recursion.
    return from.find_node([local](pugi::xml_node n) {
        return n.type() == pugi::node_element && localName(n.name()) == local;
    });
}

std::vector<pugi::xml_node> children(pugi::xml_node parent, std::string_view local)
{
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element && localName(n.name()) == local)
            out.push_back(n);
    }
    return out;
}

pugi::xml_node firstElement(pugi::xml_node parent)
{
    for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element)
            return n;
    }
    return {};
}

std::optional<std::string> textAt(pugi::xml_node from, std::initializer_list<std::string_view> path)
{
    pugi::xml_node n = from;
    for (std::string_view step : path) {
        n = child(n, step);
        if (!n)
            return std::nullopt;
    }
    return std::string(n.text().get());
}

std::string trimmedText(pugi::xml_node node)
{
    std::string_view t = node.text().get();
    while (!t.empty() && isXmlSpace(t.front()))
        t.remove_prefix(1);
    while (!t.empty() && isXmlSpace(t.back()))
        t.remove_suffix(1);
    return std::string(t);
}

std::vector<std::string> splitList(std::string_view text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && isXmlSpace(text[at]))
            ++at;
        std::size_t end = at;
        while (end < text.size() && !isXmlSpace(text[end]))
            ++end;
        if (end > at)
            out.emplace_back(text.substr(at, end - at));
        at = end;
    }
    return out;
}

pugi::xml_node addElement(pugi::xml_node parent, const char *qualified, std::string_view text)
{
    pugi::xml_node e = parent.append_child(qualified);
    if (!text.empty())
        e.append_child(pugi::node_pcdata).set_value(xmlText(text).c_str());
    return e;
}

std::string serialize(const pugi::xml_node &node)
{
    // Values set straight through pugixml (or copied from a parsed peer's
    // message, where a character reference can carry any control
    // character) are cleaned here as well.
    node.find_node([](pugi::xml_node n) {
        if (n.type() == pugi::node_pcdata && hasForbiddenControl(n.value()))
            n.set_value(xmlText(n.value()).c_str());
        for (pugi::xml_attribute a : n.attributes()) {
            if (hasForbiddenControl(a.value()))
                a.set_value(xmlText(a.value()).c_str());
        }
        return false;
    });
    std::ostringstream out;
    node.print(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    // pugixml writes a carriage return in text as it is, and the reader's
    // end-of-line handling would turn it into a line feed. Serialised
    // markup holds no other raw CR: names cannot, attribute values get a
    // character reference, and parsed CDATA had its CRs normalised.
    std::string raw = out.str();
    std::string escaped;
    escaped.reserve(raw.size());
    for (char c : raw) {
        if (c == '\r')
            escaped += "&#13;";
        else
            escaped += c;
    }
    return escaped;
}

} // namespace scoutrix::onvif::xml
