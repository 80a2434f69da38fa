#pragma once
// Login, version 2: SPAKE2+ (RFC 9383) on P-256 with SHA-256, HKDF-SHA256 and
// HMAC-SHA256. The client knows the password; the device keeps only a
// verifier record (w0 and L = w1·P, made from the password and a per-device
// salt). Neither a passive listener nor a party posing as either side learns
// anything it can test passwords against offline; each exchange is worth one
// online guess. docs/device-protocol.md ("Login, version 2") is the design.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scoutrix::proto::pake {

constexpr std::size_t ScalarSize = 32;
constexpr std::size_t PointSize = 65; // uncompressed SEC1: 04 ‖ x ‖ y
constexpr std::size_t ConfirmSize = 32;
constexpr std::size_t SharedKeySize = 32;
constexpr std::size_t SaltSize = 32;
constexpr std::size_t MaxUserName = 63;

using Scalar = std::array<uint8_t, ScalarSize>;
using Point = std::array<uint8_t, PointSize>;
using Confirmation = std::array<uint8_t, ConfirmSize>;
using SharedKey = std::array<uint8_t, SharedKeySize>;
using Salt = std::array<uint8_t, SaltSize>;

enum class Error {
    None,
    BadPoint, // not a point of the curve, the identity, or badly encoded
    BadScalar, // zero or not below the group order
    BadParameters, // password-hash parameters outside what a client accepts
    ConfirmationMismatch, // the peer does not hold the same password
    WrongState, // a step called out of order or twice
    Internal, // libcrypto failed (out of memory)
};
const char *errorText(Error e);

// scrypt parameters of the password hash. A device sends its own with the
// salt; a client refuses anything costlier than MaxLogN, so a rogue device
// cannot make a batch login crawl.
struct KdfParams
{
    uint8_t logN = 10; // N = 1024
    uint8_t r = 8;
    uint8_t p = 1;
};
constexpr uint8_t MinLogN = 10;
constexpr uint8_t MaxLogN = 14;
bool acceptableKdf(const KdfParams &kdf);

// w0 and w1, both reduced modulo the group order, from the password as the
// RFC frames it: len(pw) ‖ pw ‖ len(idProver) ‖ idProver ‖ len(idVerifier) ‖
// idVerifier, hashed with scrypt into 2 × 40 bytes.
struct ProverSecret
{
    Scalar w0 {};
    Scalar w1 {};
};
Error deriveSecret(const std::string &password, const std::string &idProver,
    const std::string &idVerifier, const Salt &salt, const KdfParams &kdf, ProverSecret &out);

// What a device stores per user instead of the password.
struct VerifierRecord
{
    Salt salt {};
    KdfParams kdf;
    Scalar w0 {};
    Point L {};
};
Error makeVerifier(const std::string &password, const std::string &idProver,
    const std::string &idVerifier, const Salt &salt, const KdfParams &kdf, VerifierRecord &out);
// A fresh random salt each time: registering the same password twice gives
// two unrelated records.
Error registerPassword(const std::string &password, const std::string &idProver,
    const std::string &idVerifier, const KdfParams &kdf, VerifierRecord &out);
Error verifierFromSecret(const ProverSecret &secret, Point &L);

// Both sides feed the same context: a protocol label followed by the encoded
// hello and parameters messages, so neither can be changed unnoticed.
struct Identities
{
    std::vector<uint8_t> context;
    std::string prover;
    std::string verifier;
};

// The client (RFC "prover").
class PakeClient
{
public:
    explicit PakeClient(Identities ids);
    ~PakeClient();
    PakeClient(const PakeClient &) = delete;
    PakeClient &operator=(const PakeClient &) = delete;

    Error start(const ProverSecret &secret, Point &shareP);
    // Fixed x, for the RFC's vectors only.
    Error startWithScalar(const ProverSecret &secret, const Scalar &x, Point &shareP);
    // Checks the device's confirmation before handing out anything.
    Error finish(const Point &shareV, const Confirmation &confirmV, Confirmation &confirmP,
        SharedKey &key);

private:
    Identities m_ids;
    ProverSecret m_secret;
    Scalar m_x {};
    Point m_shareP {};
    enum class State { Fresh, Started, Done } m_state = State::Fresh;
};

// The device (RFC "verifier").
class PakeDevice
{
public:
    explicit PakeDevice(Identities ids);
    ~PakeDevice();
    PakeDevice(const PakeDevice &) = delete;
    PakeDevice &operator=(const PakeDevice &) = delete;

    // After respond() succeeds the exchange counts as a guess against the
    // user's lockout until finish() accepts the client's confirmation: a
    // client can test its one guess against confirmV without ever answering.
    Error respond(const VerifierRecord &record, const Point &shareP, Point &shareV,
        Confirmation &confirmV);
    Error respondWithScalar(const VerifierRecord &record, const Scalar &y, const Point &shareP,
        Point &shareV, Confirmation &confirmV);
    Error finish(const Confirmation &confirmP, SharedKey &key);

private:
    Identities m_ids;
    Confirmation m_expectedConfirmP {};
    SharedKey m_key {};
    enum class State { Fresh, Responded, Done } m_state = State::Fresh;
};

// The steps inside one exchange, each on its own so every intermediate value
// can be held against the RFC's test vectors. Only the two classes above use
// them in the product.
namespace detail {

constexpr std::size_t KeySize = 32; // SHA-256 output: K_main and each confirmation key
using Key = std::array<uint8_t, KeySize>;

struct SharedPoints
{
    Point Z {};
    Point V {};
};
// Client: Z = x·(shareV − w0·N), V = w1·(shareV − w0·N).
Error proverPoints(const ProverSecret &secret, const Scalar &x, const Point &shareV,
    SharedPoints &out);
// Device: Z = y·(shareP − w0·M), V = y·L. A bad L is the record's fault
// (BadScalar); a bad shareP is the peer's (BadPoint).
Error verifierPoints(const Scalar &w0, const Point &L, const Scalar &y, const Point &shareP,
    SharedPoints &out);

// TT: context, identities, M, N, both shares, Z, V and w0, each behind its
// 8-byte little-endian length.
std::vector<uint8_t> transcript(const Identities &ids, const Point &shareP, const Point &shareV,
    const SharedPoints &zv, const Scalar &w0);

struct Keys
{
    Key kMain {};
    Key kConfirmP {};
    Key kConfirmV {};
    Confirmation confirmP {}; // HMAC(K_confirmP, shareV), sent by the client
    Confirmation confirmV {}; // HMAC(K_confirmV, shareP), sent by the device
    SharedKey kShared {};
};
// K_main = SHA-256(TT); K_confirmP ‖ K_confirmV = HKDF(nil, K_main,
// "ConfirmationKeys"); K_shared = HKDF(nil, K_main, "SharedKey").
bool keySchedule(
    const std::vector<uint8_t> &tt, const Point &shareP, const Point &shareV, Keys &out);

void wipe(SharedPoints &zv);
void wipe(Keys &k);

} // namespace detail

// Messages of the version-2 login, in the frame types docs/device-protocol.md
// gives them. Each decode is strict: short or over-long payloads fail.
struct Hello2
{
    std::string user;
};
struct Params2
{
    int32_t result = 0;
    Salt salt {};
    KdfParams kdf;
};
struct Share2
{
    Point shareP {};
};
struct Reply2
{
    int32_t result = 0;
    Point shareV {};
    Confirmation confirmV {};
};
struct Confirm2
{
    Confirmation confirmP {};
};

std::vector<uint8_t> encode(const Hello2 &m);
std::vector<uint8_t> encode(const Params2 &m);
std::vector<uint8_t> encode(const Share2 &m);
std::vector<uint8_t> encode(const Reply2 &m);
std::vector<uint8_t> encode(const Confirm2 &m);
bool decode(const std::vector<uint8_t> &p, Hello2 &m);
bool decode(const std::vector<uint8_t> &p, Params2 &m);
bool decode(const std::vector<uint8_t> &p, Share2 &m);
bool decode(const std::vector<uint8_t> &p, Reply2 &m);
bool decode(const std::vector<uint8_t> &p, Confirm2 &m);

// The context both sides build from the first two messages as sent.
std::vector<uint8_t> loginContext(
    const std::vector<uint8_t> &helloPayload, const std::vector<uint8_t> &paramsPayload);

bool equalConstantTime(const uint8_t *a, const uint8_t *b, std::size_t size);

} // namespace scoutrix::proto::pake
