#pragma once

// WS-Security UsernameToken with a password digest, both sides of it.
//
// The client signs with the device's clock, not its own: a camera that
// never saw an NTP server may be hours or years off, and it judges Created
// by its own time. Read the device's time first (GetSystemDateAndTime),
// keep clockOffset(device, local) and pass it to makeUsernameToken.

#include "Soap.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace scoutrix::onvif::wsse {

using Clock = std::chrono::system_clock;

inline constexpr const char kPasswordDigestType[]
    = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0#PasswordDigest";
inline constexpr const char kBase64EncodingType[]
    = "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-soap-message-security-1.0#Base64Binary";

std::string base64Encode(const std::vector<std::uint8_t> &bytes);
// Strict: the standard alphabet, padding only at the end, whitespace
// ignored. nullopt on anything else.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

// "YYYY-MM-DDThh:mm:ssZ", UTC, whole seconds.
std::string formatCreated(Clock::time_point t);
// Accepts that form plus fractional seconds and a "+hh:mm"/"-hh:mm" offset
// in place of Z. nullopt for anything else, including impossible dates
// and times before 1970 or beyond what Clock can hold.
std::optional<Clock::time_point> parseCreated(std::string_view text);

// Base64(SHA-1(nonce + created + password)).
std::string passwordDigest(const std::vector<std::uint8_t> &nonce, std::string_view created,
    std::string_view password);

// Seconds to add to the local clock to get the device's.
std::int64_t clockOffset(Clock::time_point device, Clock::time_point local);

struct UsernameToken {
    std::string username;
    std::string digest;
    std::string nonce; // Base64
    std::string created;
};

// A fresh 16-byte nonce from the system's random source; Created is
// localNow shifted by deviceOffsetSeconds.
UsernameToken makeUsernameToken(const std::string &username, std::string_view password,
    Clock::time_point localNow, std::int64_t deviceOffsetSeconds);
// The same with a caller's nonce, for tests and known answers.
UsernameToken makeUsernameToken(const std::string &username, std::string_view password,
    const std::vector<std::uint8_t> &nonce, Clock::time_point deviceNow);

// Puts a wsse:Security element holding the token into the header.
void addSecurityHeader(pugi::xml_node header, const UsernameToken &token);
void addSecurityHeader(soap::Message &message, const UsernameToken &token);

enum class AuthStatus {
    Ok,
    MissingHeader,   // no Security header or no UsernameToken in it
    Malformed,       // parts missing or unreadable
    UnsupportedType, // a plain-text password or an unknown type
    UnknownUser,
    WrongPassword,
    Stale,           // Created outside the window around the device clock
    Replayed,        // nonce seen before within the window
};
const char *authStatusName(AuthStatus s);

struct AuthResult {
    AuthStatus status = AuthStatus::MissingHeader;
    std::string username;
    std::string reason;
    bool ok() const { return status == AuthStatus::Ok; }
};

// The device's side. One instance per device, shared by its connections.
class Verifier {
public:
    struct Options {
        std::chrono::seconds window {300};
        // Nonces accepted within the last 2 x window; at most this many are
        // kept, the oldest dropped first.
        std::size_t nonceCacheSize = 1024;
    };
    // nullopt for an unknown user.
    using PasswordLookup = std::function<std::optional<std::string>(const std::string &username)>;

    Verifier();
    explicit Verifier(Options options);

    // header is the envelope's Header element (may be empty). A token is
    // refused when the same nonce and Created came before with the same
    // body (the envelope overload) or at all (the header one).
    AuthResult verify(pugi::xml_node header, const PasswordLookup &passwordOf, Clock::time_point deviceNow);
    AuthResult verify(const soap::Envelope &envelope, const PasswordLookup &passwordOf,
        Clock::time_point deviceNow);

    std::size_t rememberedNonces() const;

private:
    struct Seen {
        Clock::time_point at;
        std::string nonce;
    };
    void forgetOlderThan(Clock::time_point limit);
    AuthResult verifyMessage(pugi::xml_node header, const PasswordLookup &passwordOf, Clock::time_point deviceNow,
        std::string_view body);

    Options options_;
    mutable std::mutex mutex_;
    std::deque<Seen> order_;
    std::set<std::string> nonces_;
};

} // namespace scoutrix::onvif::wsse
