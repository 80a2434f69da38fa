#pragma once
// A small JSON value with a strict reader and a writer, enough for fleet and
// state files. Objects keep their member order so written files diff well.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace scoutrix::json {

class Value
{
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Value() = default;
    Value(bool b)
        : m_kind(Kind::Bool)
        , m_bool(b)
    {
    }
    Value(int v)
        : m_kind(Kind::Number)
        , m_number(v)
    {
    }
    Value(int64_t v)
        : m_kind(Kind::Number)
        , m_number(double(v))
    {
    }
    Value(double v)
        : m_kind(Kind::Number)
        , m_number(v)
    {
    }
    Value(const char *s)
        : m_kind(Kind::String)
        , m_string(s)
    {
    }
    Value(std::string s)
        : m_kind(Kind::String)
        , m_string(std::move(s))
    {
    }
    static Value array()
    {
        Value v;
        v.m_kind = Kind::Array;
        return v;
    }
    static Value object()
    {
        Value v;
        v.m_kind = Kind::Object;
        return v;
    }

    Kind kind() const { return m_kind; }
    bool isNull() const { return m_kind == Kind::Null; }
    bool isBool() const { return m_kind == Kind::Bool; }
    bool isNumber() const { return m_kind == Kind::Number; }
    bool isString() const { return m_kind == Kind::String; }
    bool isArray() const { return m_kind == Kind::Array; }
    bool isObject() const { return m_kind == Kind::Object; }

    bool asBool() const { return m_bool; }
    double asNumber() const { return m_number; }
    const std::string &asString() const { return m_string; }
    const std::vector<Value> &items() const { return m_items; }
    const std::vector<std::pair<std::string, Value>> &members() const { return m_members; }

    // Object access: null when absent (or when this is no object).
    const Value &operator[](const std::string &key) const;
    bool has(const std::string &key) const;
    Value &set(const std::string &key, Value v);
    Value &push(Value v);

private:
    Kind m_kind = Kind::Null;
    bool m_bool = false;
    double m_number = 0;
    std::string m_string;
    std::vector<Value> m_items;
    std::vector<std::pair<std::string, Value>> m_members;
};

// Strict RFC 8259 text; on failure |error| names the line and column.
bool parse(const std::string &text, Value &out, std::string &error);
std::string write(const Value &v, bool pretty = true);
// A JSON string literal, quotes included.
std::string quote(const std::string &s);

} // namespace scoutrix::json
