#include "WsSecurity.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace scoutrix::onvif::wsse {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool isDigits(std::string_view s, std::size_t at, std::size_t n)
{
    if (at + n > s.size())
        return false;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
    }
    return true;
}

int number(std::string_view s, std::size_t at, std::size_t n)
{
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i)
        v = v * 10 + (s[i] - '0');
    return v;
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// algorithm); avoids timegm and the process time zone.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

unsigned daysInMonth(int y, int m)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

AuthResult fail(AuthStatus s, std::string reason, std::string user = {})
{
    return AuthResult {s, std::move(user), std::move(reason)};
}

bool endsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

std::string base64Encode(const std::vector<std::uint8_t> &bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = unsigned(bytes[i]) << 16 | unsigned(bytes[i + 1]) << 8 | bytes[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (bytes.size() - i == 1) {
        const unsigned v = unsigned(bytes[i]) << 16;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (bytes.size() - i == 2) {
        const unsigned v = unsigned(bytes[i]) << 16 | unsigned(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text)
{
    std::string clean;
    clean.reserve(text.size());
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            clean += c;
    }
    if (clean.size() % 4 != 0)
        return std::nullopt;
    std::size_t pad = 0;
    while (pad < 2 && pad < clean.size() && clean[clean.size() - 1 - pad] == '=')
        ++pad;
    std::vector<std::uint8_t> out;
    out.reserve(clean.size() / 4 * 3);
    unsigned acc = 0;
    int bits = 0;
    for (std::size_t i = 0; i < clean.size() - pad; ++i) {
        const int v = base64Value(clean[i]);
        if (v < 0)
            return std::nullopt;
        acc = (acc << 6) | unsigned(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(std::uint8_t((acc >> bits) & 0xff));
        }
    }
    // Bits left over from padding must be zero for a canonical encoding.
    if (bits > 0 && (acc & ((1u << bits) - 1)) != 0)
        return std::nullopt;
    return out;
}

std::string formatCreated(Clock::time_point t)
{
    const std::time_t secs = Clock::to_time_t(t);
    std::tm tm {};
    gmtime_r(&secs, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
        tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::optional<Clock::time_point> parseCreated(std::string_view s)
{
    // YYYY-MM-DDThh:mm:ss
    if (!isDigits(s, 0, 4) || s.size() < 19 || s[4] != '-' || !isDigits(s, 5, 2) || s[7] != '-'
        || !isDigits(s, 8, 2) || (s[10] != 'T' && s[10] != 't') || !isDigits(s, 11, 2) || s[13] != ':'
        || !isDigits(s, 14, 2) || s[16] != ':' || !isDigits(s, 17, 2))
        return std::nullopt;
    const int year = number(s, 0, 4), month = number(s, 5, 2), day = number(s, 8, 2);
    const int hour = number(s, 11, 2), minute = number(s, 14, 2), second = number(s, 17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || unsigned(day) > daysInMonth(year, month)
        || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::size_t at = 19;
    if (at < s.size() && s[at] == '.') {
        ++at;
        const std::size_t digits = at;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9' && at - digits < 12)
            ++at;
        if (at == digits)
            return std::nullopt;
    }
    std::int64_t offset = 0;
    if (at < s.size() && (s[at] == 'Z' || s[at] == 'z')) {
        ++at;
    } else if (at < s.size() && (s[at] == '+' || s[at] == '-')) {
        if (!isDigits(s, at + 1, 2) || at + 3 >= s.size() || s[at + 3] != ':' || !isDigits(s, at + 4, 2))
            return std::nullopt;
        const int oh = number(s, at + 1, 2), om = number(s, at + 4, 2);
        if (oh > 14 || om > 59)
            return std::nullopt;
        offset = (s[at] == '+' ? 1 : -1) * (oh * 3600 + om * 60);
        at += 6;
    } else {
        // Without a zone the time is ambiguous; a digest over it proves little.
        return std::nullopt;
    }
    if (at != s.size())
        return std::nullopt;
    const std::int64_t secs = daysFromCivil(year, unsigned(month), unsigned(day)) * 86400 + hour * 3600
        + minute * 60 + second - offset;
    // The system clock counts nanoseconds and ends in 2262; a later year
    // would overflow it, and the verifier adds its window on top.
    const std::int64_t last = std::chrono::duration_cast<std::chrono::seconds>(Clock::duration::max()).count()
        - 366 * 86400;
    if (secs > last)
        return std::nullopt;
    return Clock::time_point(std::chrono::seconds(secs));
}

std::string passwordDigest(const std::vector<std::uint8_t> &nonce, std::string_view created,
    std::string_view password)
{
    std::string input(nonce.begin(), nonce.end());
    input.append(created);
    input.append(password);
    std::vector<std::uint8_t> md(SHA_DIGEST_LENGTH);
    unsigned len = 0;
    if (EVP_Digest(input.data(), input.size(), md.data(), &len, EVP_sha1(), nullptr) != 1)
        std::abort();
    md.resize(len);
    return base64Encode(md);
}

std::int64_t clockOffset(Clock::time_point device, Clock::time_point local)
{
    return std::chrono::duration_cast<std::chrono::seconds>(device - local).count();
}

UsernameToken makeUsernameToken(const std::string &username, std::string_view password,
    const std::vector<std::uint8_t> &nonce, Clock::time_point deviceNow)
{
    UsernameToken t;
    t.username = username;
    t.created = formatCreated(deviceNow);
    t.nonce = base64Encode(nonce);
    t.digest = passwordDigest(nonce, t.created, password);
    return t;
}

UsernameToken makeUsernameToken(const std::string &username, std::string_view password,
    Clock::time_point localNow, std::int64_t deviceOffsetSeconds)
{
    std::vector<std::uint8_t> nonce(16);
    if (RAND_bytes(nonce.data(), int(nonce.size())) != 1)
        std::abort(); // no randomness: a predictable nonce must never be sent
    return makeUsernameToken(username, password, nonce, localNow + std::chrono::seconds(deviceOffsetSeconds));
}

void addSecurityHeader(pugi::xml_node header, const UsernameToken &token)
{
    pugi::xml_node sec = xml::addElement(header, "wsse:Security");
    sec.append_attribute("env:mustUnderstand") = "true";
    pugi::xml_node ut = xml::addElement(sec, "wsse:UsernameToken");
    xml::addElement(ut, "wsse:Username", token.username);
    xml::addElement(ut, "wsse:Password", token.digest).append_attribute("Type") = kPasswordDigestType;
    xml::addElement(ut, "wsse:Nonce", token.nonce).append_attribute("EncodingType") = kBase64EncodingType;
    xml::addElement(ut, "wsu:Created", token.created);
}

void addSecurityHeader(soap::Message &message, const UsernameToken &token)
{
    addSecurityHeader(message.header(), token);
}

const char *authStatusName(AuthStatus s)
{
    switch (s) {
    case AuthStatus::Ok: return "ok";
    case AuthStatus::MissingHeader: return "missing header";
    case AuthStatus::Malformed: return "malformed";
    case AuthStatus::UnsupportedType: return "unsupported password type";
    case AuthStatus::UnknownUser: return "unknown user";
    case AuthStatus::WrongPassword: return "wrong password";
    case AuthStatus::Stale: return "stale";
    case AuthStatus::Replayed: return "replayed";
    }
    return "?";
}

Verifier::Verifier() : Verifier(Options {}) {}

Verifier::Verifier(Options options) : options_(options) {}

std::size_t Verifier::rememberedNonces() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return nonces_.size();
}

void Verifier::forgetOlderThan(Clock::time_point limit)
{
    while (!order_.empty() && order_.front().at < limit) {
        nonces_.erase(order_.front().nonce);
        order_.pop_front();
    }
}

AuthResult Verifier::verify(const soap::Envelope &envelope, const PasswordLookup &passwordOf,
    Clock::time_point deviceNow)
{
    return verifyMessage(envelope.header, passwordOf, deviceNow, xml::serialize(envelope.body));
}

AuthResult Verifier::verify(pugi::xml_node header, const PasswordLookup &passwordOf, Clock::time_point deviceNow)
{
    return verifyMessage(header, passwordOf, deviceNow, {});
}

AuthResult Verifier::verifyMessage(pugi::xml_node header, const PasswordLookup &passwordOf,
    Clock::time_point deviceNow, std::string_view body)
{
    const pugi::xml_node security = xml::child(header, "Security");
    const pugi::xml_node token = xml::child(security, "UsernameToken");
    if (!token)
        return fail(AuthStatus::MissingHeader, "no UsernameToken in a Security header");

    const pugi::xml_node userNode = xml::child(token, "Username");
    const pugi::xml_node passwordNode = xml::child(token, "Password");
    const pugi::xml_node nonceNode = xml::child(token, "Nonce");
    const pugi::xml_node createdNode = xml::child(token, "Created");
    const std::string username = xml::trimmedText(userNode);
    if (!userNode || !passwordNode)
        return fail(AuthStatus::Malformed, "UsernameToken without Username or Password", username);
    if (!endsWith(passwordNode.attribute("Type").value(), "#PasswordDigest"))
        return fail(AuthStatus::UnsupportedType, "only password digests are accepted", username);
    if (!nonceNode || !createdNode)
        return fail(AuthStatus::Malformed, "a digest needs both Nonce and Created", username);
    const pugi::xml_attribute encoding = nonceNode.attribute("EncodingType");
    if (encoding && !endsWith(encoding.value(), "#Base64Binary"))
        return fail(AuthStatus::Malformed, "Nonce is not Base64", username);
    const std::string nonceText = xml::trimmedText(nonceNode);
    const auto nonce = base64Decode(nonceText);
    if (!nonce || nonce->empty() || nonce->size() > 64)
        return fail(AuthStatus::Malformed, "Nonce is not 1 to 64 bytes of Base64", username);
    // The digest covers Created exactly as sent.
    const std::string created = createdNode.text().get();
    const auto createdAt = parseCreated(xml::trimmedText(createdNode));
    if (!createdAt)
        return fail(AuthStatus::Malformed, "Created is not a UTC time", username);
    if (*createdAt > deviceNow + options_.window || *createdAt < deviceNow - options_.window)
        return fail(AuthStatus::Stale, "Created " + created + " is outside the accepted window", username);

    const std::optional<std::string> password = passwordOf ? passwordOf(username) : std::nullopt;
    if (!password)
        return fail(AuthStatus::UnknownUser, "no such user", username);
    const std::string expected = passwordDigest(*nonce, created, *password);
    const std::string given = xml::trimmedText(passwordNode);
    if (given.size() != expected.size() || CRYPTO_memcmp(given.data(), expected.data(), expected.size()) != 0)
        return fail(AuthStatus::WrongPassword, "password digest does not match", username);

    // Only tokens that proved the password are remembered, so a stranger
    // cannot flush the cache to make room for a replay.
    std::lock_guard<std::mutex> lock(mutex_);
    forgetOlderThan(deviceNow - 2 * options_.window);
    // Some clients seed their nonce from the clock and send the same one,
    // with the same Created, for every request of a millisecond; what a
    // replay repeats is the whole message, so the body is part of the key.
    unsigned char bodyDigest[EVP_MAX_MD_SIZE];
    unsigned int bodyDigestSize = 0;
    EVP_Digest(body.data(), body.size(), bodyDigest, &bodyDigestSize, EVP_sha256(), nullptr);
    std::string key(nonce->begin(), nonce->end());
    key += '\0' + created + '\0';
    key.append(reinterpret_cast<const char *>(bodyDigest), bodyDigestSize);
    if (nonces_.count(key))
        return fail(AuthStatus::Replayed, "nonce was used before", username);
    while (options_.nonceCacheSize > 0 && order_.size() >= options_.nonceCacheSize) {
        nonces_.erase(order_.front().nonce);
        order_.pop_front();
    }
    if (options_.nonceCacheSize > 0) {
        order_.push_back({deviceNow, key});
        nonces_.insert(key);
    }
    return AuthResult {AuthStatus::Ok, username, {}};
}

} // namespace scoutrix::onvif::wsse
