#include "Json.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace scoutrix::json {

namespace {

const Value &nullValue()
{
    static const Value v;
    return v;
}

class Parser
{
public:
    explicit Parser(const std::string &t)
        : m_t(t)
    {
    }

    bool run(Value &out, std::string &error)
    {
        skip();
        if (!value(out, 0) || (skip(), m_i != m_t.size())) {
            if (m_error.empty())
                m_error = "unexpected text after the value";
            error = where() + m_error;
            return false;
        }
        return true;
    }

private:
    std::string where() const
    {
        int line = 1, col = 1;
        for (std::size_t i = 0; i < m_i && i < m_t.size(); ++i) {
            if (m_t[i] == '\n') {
                ++line;
                col = 1;
            } else {
                ++col;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(col) + ": ";
    }
    bool fail(const char *what)
    {
        if (m_error.empty())
            m_error = what;
        return false;
    }
    void skip()
    {
        while (m_i < m_t.size()
            && (m_t[m_i] == ' ' || m_t[m_i] == '\t' || m_t[m_i] == '\n' || m_t[m_i] == '\r'))
            ++m_i;
    }
    bool literal(const char *word)
    {
        std::size_t n = 0;
        while (word[n]) {
            if (m_i + n >= m_t.size() || m_t[m_i + n] != word[n])
                return fail("unknown word");
            ++n;
        }
        m_i += n;
        return true;
    }
    bool value(Value &out, int depth)
    {
        if (depth > 64)
            return fail("nested too deeply");
        if (m_i >= m_t.size())
            return fail("value expected");
        const char c = m_t[m_i];
        if (c == '{')
            return object(out, depth);
        if (c == '[')
            return array(out, depth);
        if (c == '"') {
            std::string s;
            if (!string(s))
                return false;
            out = Value(std::move(s));
            return true;
        }
        if (c == 't') {
            out = Value(true);
            return literal("true");
        }
        if (c == 'f') {
            out = Value(false);
            return literal("false");
        }
        if (c == 'n') {
            out = Value();
            return literal("null");
        }
        return number(out);
    }
    bool number(Value &out)
    {
        const std::size_t start = m_i;
        if (m_i < m_t.size() && m_t[m_i] == '-')
            ++m_i;
        if (m_i >= m_t.size() || !std::isdigit(static_cast<unsigned char>(m_t[m_i])))
            return fail("value expected");
        if (m_t[m_i] == '0' && m_i + 1 < m_t.size()
            && std::isdigit(static_cast<unsigned char>(m_t[m_i + 1])))
            return fail("leading zero in number");
        auto digits = [&] {
            const std::size_t b = m_i;
            while (m_i < m_t.size() && std::isdigit(static_cast<unsigned char>(m_t[m_i])))
                ++m_i;
            return m_i > b;
        };
        digits();
        if (m_i < m_t.size() && m_t[m_i] == '.') {
            ++m_i;
            if (!digits())
                return fail("digit expected after the decimal point");
        }
        if (m_i < m_t.size() && (m_t[m_i] == 'e' || m_t[m_i] == 'E')) {
            ++m_i;
            if (m_i < m_t.size() && (m_t[m_i] == '+' || m_t[m_i] == '-'))
                ++m_i;
            if (!digits())
                return fail("digit expected in the exponent");
        }
        const double v = std::strtod(m_t.substr(start, m_i - start).c_str(), nullptr);
        if (!std::isfinite(v))
            return fail("number out of range");
        out = Value(v);
        return true;
    }
    static void utf8(std::string &s, uint32_t cp)
    {
        if (cp < 0x80) {
            s += char(cp);
        } else if (cp < 0x800) {
            s += char(0xc0 | (cp >> 6));
            s += char(0x80 | (cp & 0x3f));
        } else if (cp < 0x10000) {
            s += char(0xe0 | (cp >> 12));
            s += char(0x80 | ((cp >> 6) & 0x3f));
            s += char(0x80 | (cp & 0x3f));
        } else {
            s += char(0xf0 | (cp >> 18));
            s += char(0x80 | ((cp >> 12) & 0x3f));
            s += char(0x80 | ((cp >> 6) & 0x3f));
            s += char(0x80 | (cp & 0x3f));
        }
    }
    bool hex4(uint32_t &v)
    {
        if (m_i + 4 > m_t.size())
            return fail("short \\u escape");
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const char h = m_t[m_i++];
            v <<= 4;
            if (h >= '0' && h <= '9')
                v |= uint32_t(h - '0');
            else if (h >= 'a' && h <= 'f')
                v |= uint32_t(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                v |= uint32_t(h - 'A' + 10);
            else
                return fail("bad \\u escape");
        }
        return true;
    }
    bool string(std::string &out)
    {
        ++m_i; // opening quote
        for (;;) {
            if (m_i >= m_t.size())
                return fail("unterminated string");
            const char c = m_t[m_i++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return fail("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_i >= m_t.size())
                return fail("unterminated string");
            const char e = m_t[m_i++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                uint32_t cp;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xd800 && cp < 0xdc00) {
                    uint32_t lo;
                    if (m_i + 2 > m_t.size() || m_t[m_i] != '\\' || m_t[m_i + 1] != 'u')
                        return fail("lone surrogate");
                    m_i += 2;
                    if (!hex4(lo) || lo < 0xdc00 || lo >= 0xe000)
                        return fail("lone surrogate");
                    cp = 0x10000 + ((cp - 0xd800) << 10) + (lo - 0xdc00);
                } else if (cp >= 0xdc00 && cp < 0xe000) {
                    return fail("lone surrogate");
                }
                utf8(out, cp);
                break;
            }
            default:
                return fail("unknown escape");
            }
        }
    }
    bool array(Value &out, int depth)
    {
        ++m_i;
        out = Value::array();
        skip();
        if (m_i < m_t.size() && m_t[m_i] == ']') {
            ++m_i;
            return true;
        }
        for (;;) {
            Value item;
            skip();
            if (!value(item, depth + 1))
                return false;
            out.push(std::move(item));
            skip();
            if (m_i < m_t.size() && m_t[m_i] == ',') {
                ++m_i;
                continue;
            }
            if (m_i < m_t.size() && m_t[m_i] == ']') {
                ++m_i;
                return true;
            }
            return fail("',' or ']' expected");
        }
    }
    bool object(Value &out, int depth)
    {
        ++m_i;
        out = Value::object();
        skip();
        if (m_i < m_t.size() && m_t[m_i] == '}') {
            ++m_i;
            return true;
        }
        for (;;) {
            skip();
            if (m_i >= m_t.size() || m_t[m_i] != '"')
                return fail("member name expected");
            std::string key;
            if (!string(key))
                return false;
            if (out.has(key))
                return fail("member given twice");
            skip();
            if (m_i >= m_t.size() || m_t[m_i] != ':')
                return fail("':' expected");
            ++m_i;
            skip();
            Value v;
            if (!value(v, depth + 1))
                return false;
            out.set(key, std::move(v));
            skip();
            if (m_i < m_t.size() && m_t[m_i] == ',') {
                ++m_i;
                continue;
            }
            if (m_i < m_t.size() && m_t[m_i] == '}') {
                ++m_i;
                return true;
            }
            return fail("',' or '}' expected");
        }
    }

    const std::string &m_t;
    std::size_t m_i = 0;
    std::string m_error;
};

void writeValue(const Value &v, bool pretty, int indent, std::string &out)
{
    const std::string pad = pretty ? std::string(std::size_t(indent + 2), ' ') : std::string();
    const std::string endPad = pretty ? std::string(std::size_t(indent), ' ') : std::string();
    const char *nl = pretty ? "\n" : "";
    switch (v.kind()) {
    case Value::Kind::Null:
        out += "null";
        break;
    case Value::Kind::Bool:
        out += v.asBool() ? "true" : "false";
        break;
    case Value::Kind::Number: {
        const double d = v.asNumber();
        char buf[32];
        if (std::floor(d) == d && std::fabs(d) < 9e15)
            std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(d));
        else
            std::snprintf(buf, sizeof buf, "%.17g", d);
        out += buf;
        break;
    }
    case Value::Kind::String:
        out += quote(v.asString());
        break;
    case Value::Kind::Array:
        if (v.items().empty()) {
            out += "[]";
            break;
        }
        out += '[';
        out += nl;
        for (std::size_t i = 0; i < v.items().size(); ++i) {
            out += pad;
            writeValue(v.items()[i], pretty, indent + 2, out);
            if (i + 1 < v.items().size())
                out += ',';
            out += nl;
        }
        out += endPad + ']';
        break;
    case Value::Kind::Object:
        if (v.members().empty()) {
            out += "{}";
            break;
        }
        out += '{';
        out += nl;
        for (std::size_t i = 0; i < v.members().size(); ++i) {
            out += pad + quote(v.members()[i].first) + (pretty ? ": " : ":");
            writeValue(v.members()[i].second, pretty, indent + 2, out);
            if (i + 1 < v.members().size())
                out += ',';
            out += nl;
        }
        out += endPad + '}';
        break;
    }
}

} // namespace

const Value &Value::operator[](const std::string &key) const
{
    for (const auto &m : m_members) {
        if (m.first == key)
            return m.second;
    }
    return nullValue();
}

bool Value::has(const std::string &key) const
{
    for (const auto &m : m_members) {
        if (m.first == key)
            return true;
    }
    return false;
}

Value &Value::set(const std::string &key, Value v)
{
    m_kind = Kind::Object;
    for (auto &m : m_members) {
        if (m.first == key) {
            m.second = std::move(v);
            return *this;
        }
    }
    m_members.emplace_back(key, std::move(v));
    return *this;
}

Value &Value::push(Value v)
{
    m_kind = Kind::Array;
    m_items.push_back(std::move(v));
    return *this;
}

bool parse(const std::string &text, Value &out, std::string &error)
{
    return Parser(text).run(out, error);
}

std::string write(const Value &v, bool pretty)
{
    std::string out;
    writeValue(v, pretty, 0, out);
    if (pretty)
        out += '\n';
    return out;
}

std::string quote(const std::string &s)
{
    std::string out = "\"";
    for (const char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
                out += buf;
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

} // namespace scoutrix::json
