#pragma once

// XML from devices and clients is untrusted: a camera on the installer's
// network may answer anything. Every document goes through parse() here,
// which refuses what the SOAP layer never needs (DTDs, entity declarations,
// huge or absurdly deep documents) before anyone walks the tree.
// Lookups go by local name, because devices pick their own prefixes.

#include <pugixml.hpp>

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scoutrix::onvif {

struct Error {
    std::string reason;
};

// A value or the reason there is none.
template <class T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error.reason)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T &value() { return *value_; }
    const T &value() const { return *value_; }
    T *operator->() { return &*value_; }
    const T *operator->() const { return &*value_; }
    T &operator*() { return *value_; }
    const T &operator*() const { return *value_; }
    const std::string &error() const { return error_; }

private:
    std::optional<T> value_;
    std::string error_;
};

namespace xml {

struct Limits {
    std::size_t maxBytes = 1024 * 1024;
    int maxDepth = 64;
};

// Owns the parsed tree; nodes taken from it live as long as it does.
using Document = std::shared_ptr<pugi::xml_document>;

// Refuses: more than limits.maxBytes, any DOCTYPE or ENTITY declaration,
// elements nested deeper than limits.maxDepth (the root is depth 1), text
// pugixml cannot parse, and anything but exactly one root element.
// With fragment set, several top-level elements (or none) are allowed.
Result<Document> parse(std::string_view text, const Limits &limits = {}, bool fragment = false);

// "tt:Name" -> "Name"; "Name" -> "Name".
std::string_view localName(std::string_view qualified);
std::string_view prefixOf(std::string_view qualified);

// The namespace the node's prefix is bound to, looking at the node and its
// ancestors; empty when the prefix is not declared.
std::string namespaceOf(pugi::xml_node node);
// The namespace a prefix is bound to in the scope of node ("" for the
// default namespace).
std::string resolvePrefix(pugi::xml_node node, std::string_view prefix);

// First element child / descendant (document order, not node itself) with
// this local name; an empty node when none.
pugi::xml_node child(pugi::xml_node parent, std::string_view local);
pugi::xml_node descendant(pugi::xml_node from, std::string_view local);
std::vector<pugi::xml_node> children(pugi::xml_node parent, std::string_view local);
pugi::xml_node firstElement(pugi::xml_node parent);

// Follows element children by local name; nullopt when a step is missing.
std::optional<std::string> textAt(pugi::xml_node from, std::initializer_list<std::string_view> path);
// Text of the node with surrounding XML whitespace removed.
std::string trimmedText(pugi::xml_node node);

// Splits an xs:list (whitespace-separated) value.
std::vector<std::string> splitList(std::string_view text);

// The text with the control characters XML 1.0 cannot carry (C0 other
// than tab, LF, CR; NUL included) left out.
std::string xmlText(std::string_view text);

// Adds an element whose text is stored as given (less what xmlText drops)
// and escaped on output.
pugi::xml_node addElement(pugi::xml_node parent, const char *qualified, std::string_view text = {});

// Serialises without a declaration and without indentation. Control
// characters XML 1.0 cannot carry are removed from the tree first; CR is
// written as a character reference so that it survives the round trip.
std::string serialize(const pugi::xml_node &node);

} // namespace xml
} // namespace scoutrix::onvif
