#include "Pake.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>

#include "Protocol.h"

namespace scoutrix::proto::pake {

namespace {

struct BnCtxFree
{
    void operator()(BN_CTX *c) const { BN_CTX_free(c); }
};
struct BnFree
{
    void operator()(BIGNUM *b) const { BN_clear_free(b); }
};
struct PointFree
{
    void operator()(EC_POINT *p) const { EC_POINT_clear_free(p); }
};
using BnCtxPtr = std::unique_ptr<BN_CTX, BnCtxFree>;
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;
using PointPtr = std::unique_ptr<EC_POINT, PointFree>;

// The RFC's fixed points for P-256, compressed; nobody knows their discrete
// logarithms with respect to the generator.
const uint8_t kM[] = { 0x02, 0x88, 0x6e, 0x2f, 0x97, 0xac, 0xe4, 0x6e, 0x55, 0xba, 0x9d, 0xd7,
    0x24, 0x25, 0x79, 0xf2, 0x99, 0x3b, 0x64, 0xe1, 0x6e, 0xf3, 0xdc, 0xab, 0x95, 0xaf, 0xd4,
    0x97, 0x33, 0x3d, 0x8f, 0xa1, 0x2f };
const uint8_t kN[] = { 0x03, 0xd8, 0xbb, 0xd6, 0xc6, 0x39, 0xc6, 0x29, 0x37, 0xb0, 0x4d, 0x99,
    0x7f, 0x38, 0xc3, 0x77, 0x07, 0x19, 0xc6, 0x29, 0xd7, 0x01, 0x4d, 0x49, 0xa2, 0x4b, 0x4f,
    0x98, 0xba, 0xa1, 0x29, 0x2b, 0x49 };

constexpr std::size_t WideScalarSize = ScalarSize + 8; // 64 extra bits keep the bias negligible

// The group and the two points, built once and only read afterwards.
struct Curve
{
    EC_GROUP *group = nullptr;
    EC_POINT *M = nullptr;
    EC_POINT *N = nullptr;
    BIGNUM *order = nullptr;
    Point mBytes {};
    Point nBytes {};
    bool ok = false;

    Curve()
    {
        group = EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1);
        order = BN_new();
        BN_CTX *ctx = BN_CTX_new();
        if (!group || !order || !ctx || !EC_GROUP_get_order(group, order, ctx)) {
            BN_CTX_free(ctx);
            return;
        }
        M = EC_POINT_new(group);
        N = EC_POINT_new(group);
        ok = M && N && EC_POINT_oct2point(group, M, kM, sizeof kM, ctx) == 1
            && EC_POINT_oct2point(group, N, kN, sizeof kN, ctx) == 1
            && EC_POINT_point2oct(
                   group, M, POINT_CONVERSION_UNCOMPRESSED, mBytes.data(), PointSize, ctx)
                == PointSize
            && EC_POINT_point2oct(
                   group, N, POINT_CONVERSION_UNCOMPRESSED, nBytes.data(), PointSize, ctx)
                == PointSize;
        BN_CTX_free(ctx);
    }
    ~Curve()
    {
        EC_POINT_free(M);
        EC_POINT_free(N);
        BN_free(order);
        EC_GROUP_free(group);
    }
};

const Curve &curve()
{
    static const Curve c;
    return c;
}

BnPtr newSecretBn()
{
    BnPtr b(BN_secure_new());
    if (b)
        BN_set_flags(b.get(), BN_FLG_CONSTTIME);
    return b;
}

// A scalar in [1, order).
bool loadScalar(const Scalar &s, BIGNUM *out)
{
    if (!BN_bin2bn(s.data(), int(s.size()), out))
        return false;
    return !BN_is_zero(out) && BN_cmp(out, curve().order) < 0;
}

bool storeScalar(const BIGNUM *b, Scalar &out)
{
    return BN_bn2binpad(b, out.data(), int(out.size())) == int(out.size());
}

// Only uncompressed points of the curve other than the identity. P-256 has
// cofactor 1, so a point on the curve is in the prime-order group.
Error loadPoint(const Point &bytes, EC_POINT *out, BN_CTX *ctx)
{
    const EC_GROUP *g = curve().group;
    if (bytes[0] != 0x04)
        return Error::BadPoint;
    ERR_set_mark();
    const bool decoded = EC_POINT_oct2point(g, out, bytes.data(), bytes.size(), ctx) == 1;
    ERR_pop_to_mark();
    if (!decoded || EC_POINT_is_at_infinity(g, out) || EC_POINT_is_on_curve(g, out, ctx) != 1)
        return Error::BadPoint;
    return Error::None;
}

bool storePoint(const EC_POINT *p, Point &out, BN_CTX *ctx)
{
    return EC_POINT_point2oct(curve().group, p, POINT_CONVERSION_UNCOMPRESSED, out.data(),
               out.size(), ctx)
        == out.size();
}

bool randomScalar(Scalar &out)
{
    BnPtr b = newSecretBn();
    if (!b)
        return false;
    do {
        if (BN_priv_rand_range(b.get(), curve().order) != 1)
            return false;
    } while (BN_is_zero(b.get()));
    return storeScalar(b.get(), out);
}

void appendLength(std::vector<uint8_t> &out, uint64_t n)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(uint8_t(n >> (8 * i)));
}

void appendField(std::vector<uint8_t> &out, const uint8_t *data, std::size_t size)
{
    appendLength(out, size);
    out.insert(out.end(), data, data + size);
}

void appendField(std::vector<uint8_t> &out, const std::string &s)
{
    appendField(out, reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

bool hkdf(const uint8_t *ikm, std::size_t ikmSize, const char *info, uint8_t *out,
    std::size_t outSize)
{
    EVP_KDF *kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX *ctx = kdf ? EVP_KDF_CTX_new(kdf) : nullptr;
    EVP_KDF_free(kdf);
    if (!ctx)
        return false;
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_KEY, const_cast<uint8_t *>(ikm), ikmSize),
        OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_INFO, const_cast<char *>(info), std::strlen(info)),
        OSSL_PARAM_construct_end(),
    };
    const bool ok = EVP_KDF_derive(ctx, out, outSize, params) == 1;
    EVP_KDF_CTX_free(ctx);
    return ok;
}

bool hmac(const uint8_t *key, std::size_t keySize, const Point &msg, Confirmation &out)
{
    unsigned int len = ConfirmSize;
    return HMAC(EVP_sha256(), key, int(keySize), msg.data(), msg.size(), out.data(), &len)
        && len == ConfirmSize;
}

// share - w0·base, the peer's ephemeral point with the password part removed.
bool unblind(const EC_POINT *share, const BIGNUM *w0, const EC_POINT *base, EC_POINT *out,
    BN_CTX *ctx)
{
    const EC_GROUP *g = curve().group;
    return EC_POINT_mul(g, out, nullptr, base, w0, ctx) == 1 && EC_POINT_invert(g, out, ctx) == 1
        && EC_POINT_add(g, out, share, out, ctx) == 1;
}

// Both sides' Z and V: base = peer - w0·blind, Z = zScalar·base, and V =
// vScalar·vPoint, or vScalar·base when there is no vPoint (the client's
// w1·base against the device's y·L).
Error zAndV(const EC_POINT *peer, const BIGNUM *w0, const EC_POINT *blind, const BIGNUM *zScalar,
    const EC_POINT *vPoint, const BIGNUM *vScalar, BN_CTX *ctx, detail::SharedPoints &out)
{
    const EC_GROUP *g = curve().group;
    PointPtr base(EC_POINT_new(g)), Z(EC_POINT_new(g)), V(EC_POINT_new(g));
    if (!base || !Z || !V || !unblind(peer, w0, blind, base.get(), ctx)
        || EC_POINT_mul(g, Z.get(), nullptr, base.get(), zScalar, ctx) != 1
        || EC_POINT_mul(g, V.get(), nullptr, vPoint ? vPoint : base.get(), vScalar, ctx) != 1)
        return Error::Internal;
    if (EC_POINT_is_at_infinity(g, Z.get()) || EC_POINT_is_at_infinity(g, V.get()))
        return Error::BadPoint;
    return storePoint(Z.get(), out.Z, ctx) && storePoint(V.get(), out.V, ctx) ? Error::None
                                                                              : Error::Internal;
}

template <std::size_t N>
void wipe(std::array<uint8_t, N> &a)
{
    OPENSSL_cleanse(a.data(), a.size());
}

void putU32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

} // namespace

namespace detail {

Error proverPoints(const ProverSecret &secret, const Scalar &x, const Point &shareV,
    SharedPoints &out)
{
    if (!curve().ok)
        return Error::Internal;
    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr xb = newSecretBn(), w0 = newSecretBn(), w1 = newSecretBn();
    PointPtr peer(EC_POINT_new(curve().group));
    if (!ctx || !xb || !w0 || !w1 || !peer)
        return Error::Internal;
    if (!loadScalar(x, xb.get()) || !loadScalar(secret.w0, w0.get())
        || !loadScalar(secret.w1, w1.get()))
        return Error::BadScalar;
    if (const Error e = loadPoint(shareV, peer.get(), ctx.get()); e != Error::None)
        return e;
    // Z = x·(shareV - w0·N), V = w1·(shareV - w0·N)
    return zAndV(peer.get(), w0.get(), curve().N, xb.get(), nullptr, w1.get(), ctx.get(), out);
}

Error verifierPoints(const Scalar &w0, const Point &L, const Scalar &y, const Point &shareP,
    SharedPoints &out)
{
    if (!curve().ok)
        return Error::Internal;
    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr yb = newSecretBn(), w0b = newSecretBn();
    PointPtr peer(EC_POINT_new(curve().group)), Lp(EC_POINT_new(curve().group));
    if (!ctx || !yb || !w0b || !peer || !Lp)
        return Error::Internal;
    if (!loadScalar(y, yb.get()) || !loadScalar(w0, w0b.get()))
        return Error::BadScalar;
    if (loadPoint(L, Lp.get(), ctx.get()) != Error::None)
        return Error::BadScalar; // a damaged record, not the peer's fault
    if (const Error e = loadPoint(shareP, peer.get(), ctx.get()); e != Error::None)
        return e;
    // Z = y·(shareP - w0·M), V = y·L
    return zAndV(peer.get(), w0b.get(), curve().M, yb.get(), Lp.get(), yb.get(), ctx.get(), out);
}

std::vector<uint8_t> transcript(const Identities &ids, const Point &shareP, const Point &shareV,
    const SharedPoints &zv, const Scalar &w0)
{
    std::vector<uint8_t> tt;
    tt.reserve(8 * 10 + ids.context.size() + ids.prover.size() + ids.verifier.size()
        + 6 * PointSize + ScalarSize);
    appendField(tt, ids.context.data(), ids.context.size());
    appendField(tt, ids.prover);
    appendField(tt, ids.verifier);
    appendField(tt, curve().mBytes.data(), PointSize);
    appendField(tt, curve().nBytes.data(), PointSize);
    appendField(tt, shareP.data(), PointSize);
    appendField(tt, shareV.data(), PointSize);
    appendField(tt, zv.Z.data(), PointSize);
    appendField(tt, zv.V.data(), PointSize);
    appendField(tt, w0.data(), ScalarSize);
    return tt;
}

bool keySchedule(
    const std::vector<uint8_t> &tt, const Point &shareP, const Point &shareV, Keys &out)
{
    SHA256(tt.data(), tt.size(), out.kMain.data());
    uint8_t confirmKeys[2 * KeySize];
    const bool ok
        = hkdf(out.kMain.data(), KeySize, "ConfirmationKeys", confirmKeys, sizeof confirmKeys)
        && hkdf(out.kMain.data(), KeySize, "SharedKey", out.kShared.data(), out.kShared.size());
    std::memcpy(out.kConfirmP.data(), confirmKeys, KeySize);
    std::memcpy(out.kConfirmV.data(), confirmKeys + KeySize, KeySize);
    OPENSSL_cleanse(confirmKeys, sizeof confirmKeys);
    return ok && hmac(out.kConfirmP.data(), KeySize, shareV, out.confirmP)
        && hmac(out.kConfirmV.data(), KeySize, shareP, out.confirmV);
}

void wipe(SharedPoints &zv)
{
    OPENSSL_cleanse(zv.Z.data(), zv.Z.size());
    OPENSSL_cleanse(zv.V.data(), zv.V.size());
}

void wipe(Keys &k)
{
    static_assert(std::is_trivially_copyable_v<Keys>, "wiped as plain bytes");
    OPENSSL_cleanse(&k, sizeof k);
}

} // namespace detail

const char *errorText(Error e)
{
    switch (e) {
    case Error::None:
        return "no error";
    case Error::BadPoint:
        return "peer value is not a valid curve point";
    case Error::BadScalar:
        return "scalar out of range";
    case Error::BadParameters:
        return "password-hash parameters refused";
    case Error::ConfirmationMismatch:
        return "confirmation does not match";
    case Error::WrongState:
        return "login step out of order";
    case Error::Internal:
        return "cryptographic library failure";
    }
    return "unknown error";
}

bool acceptableKdf(const KdfParams &kdf)
{
    return kdf.logN >= MinLogN && kdf.logN <= MaxLogN && kdf.r >= 1 && kdf.r <= 8 && kdf.p == 1;
}

bool equalConstantTime(const uint8_t *a, const uint8_t *b, std::size_t size)
{
    return CRYPTO_memcmp(a, b, size) == 0;
}

Error deriveSecret(const std::string &password, const std::string &idProver,
    const std::string &idVerifier, const Salt &salt, const KdfParams &kdf, ProverSecret &out)
{
    if (!acceptableKdf(kdf))
        return Error::BadParameters;
    if (!curve().ok)
        return Error::Internal;
    std::vector<uint8_t> input;
    appendField(input, password);
    appendField(input, idProver);
    appendField(input, idVerifier);
    uint8_t wide[2 * WideScalarSize];
    const bool hashed = EVP_PBE_scrypt(reinterpret_cast<const char *>(input.data()),
                            input.size(), salt.data(), salt.size(), uint64_t(1) << kdf.logN,
                            kdf.r, kdf.p, 0, wide, sizeof wide)
        == 1;
    OPENSSL_cleanse(input.data(), input.size());
    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr wide0 = newSecretBn(), wide1 = newSecretBn(), w = newSecretBn();
    bool ok = hashed && ctx && wide0 && wide1 && w
        && BN_bin2bn(wide, int(WideScalarSize), wide0.get())
        && BN_bin2bn(wide + WideScalarSize, int(WideScalarSize), wide1.get())
        && BN_nnmod(w.get(), wide0.get(), curve().order, ctx.get()) && !BN_is_zero(w.get())
        && storeScalar(w.get(), out.w0)
        && BN_nnmod(w.get(), wide1.get(), curve().order, ctx.get()) && !BN_is_zero(w.get())
        && storeScalar(w.get(), out.w1);
    OPENSSL_cleanse(wide, sizeof wide);
    return ok ? Error::None : Error::Internal;
}

Error verifierFromSecret(const ProverSecret &secret, Point &L)
{
    if (!curve().ok)
        return Error::Internal;
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr w1 = newSecretBn();
    if (!ctx || !w1)
        return Error::Internal;
    if (!loadScalar(secret.w1, w1.get()))
        return Error::BadScalar;
    PointPtr p(EC_POINT_new(curve().group));
    return p && EC_POINT_mul(curve().group, p.get(), w1.get(), nullptr, nullptr, ctx.get()) == 1
            && storePoint(p.get(), L, ctx.get())
        ? Error::None
        : Error::Internal;
}

Error makeVerifier(const std::string &password, const std::string &idProver,
    const std::string &idVerifier, const Salt &salt, const KdfParams &kdf, VerifierRecord &out)
{
    ProverSecret secret;
    Error e = deriveSecret(password, idProver, idVerifier, salt, kdf, secret);
    if (e == Error::None)
        e = verifierFromSecret(secret, out.L);
    if (e == Error::None) {
        out.salt = salt;
        out.kdf = kdf;
        out.w0 = secret.w0;
    }
    wipe(secret.w0);
    wipe(secret.w1);
    return e;
}

Error registerPassword(const std::string &password, const std::string &idProver,
    const std::string &idVerifier, const KdfParams &kdf, VerifierRecord &out)
{
    Salt salt;
    if (RAND_bytes(salt.data(), int(salt.size())) != 1)
        return Error::Internal;
    return makeVerifier(password, idProver, idVerifier, salt, kdf, out);
}

PakeClient::PakeClient(Identities ids)
    : m_ids(std::move(ids))
{
}

PakeClient::~PakeClient()
{
    wipe(m_secret.w0);
    wipe(m_secret.w1);
    wipe(m_x);
}

Error PakeClient::start(const ProverSecret &secret, Point &shareP)
{
    if (m_state != State::Fresh)
        return Error::WrongState;
    Scalar x;
    if (!curve().ok || !randomScalar(x))
        return Error::Internal;
    const Error e = startWithScalar(secret, x, shareP);
    wipe(x);
    return e;
}

Error PakeClient::startWithScalar(const ProverSecret &secret, const Scalar &x, Point &shareP)
{
    if (m_state != State::Fresh)
        return Error::WrongState;
    if (!curve().ok)
        return Error::Internal;
    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr xb = newSecretBn(), w0 = newSecretBn(), w1 = newSecretBn();
    PointPtr share(EC_POINT_new(curve().group));
    if (!ctx || !xb || !w0 || !w1 || !share)
        return Error::Internal;
    if (!loadScalar(x, xb.get()) || !loadScalar(secret.w0, w0.get())
        || !loadScalar(secret.w1, w1.get()))
        return Error::BadScalar;
    // shareP = x·P + w0·M
    if (EC_POINT_mul(curve().group, share.get(), xb.get(), curve().M, w0.get(), ctx.get()) != 1
        || !storePoint(share.get(), shareP, ctx.get()))
        return Error::Internal;
    m_secret = secret;
    m_x = x;
    m_shareP = shareP;
    m_state = State::Started;
    return Error::None;
}

Error PakeClient::finish(
    const Point &shareV, const Confirmation &confirmV, Confirmation &confirmP, SharedKey &key)
{
    if (m_state != State::Started)
        return Error::WrongState;
    // One answer per exchange: whatever comes of it, this state is spent.
    m_state = State::Done;
    detail::SharedPoints zv;
    Error result = detail::proverPoints(m_secret, m_x, shareV, zv);
    wipe(m_x);
    if (result == Error::BadScalar)
        result = Error::Internal; // our own scalars were checked in start()
    if (result != Error::None)
        return result;
    std::vector<uint8_t> tt = detail::transcript(m_ids, m_shareP, shareV, zv, m_secret.w0);
    detail::wipe(zv);
    detail::Keys keys;
    const bool derived = detail::keySchedule(tt, m_shareP, shareV, keys);
    OPENSSL_cleanse(tt.data(), tt.size());
    if (!derived) {
        result = Error::Internal;
    } else if (!equalConstantTime(keys.confirmV.data(), confirmV.data(), ConfirmSize)) {
        result = Error::ConfirmationMismatch;
    } else {
        confirmP = keys.confirmP;
        key = keys.kShared;
    }
    detail::wipe(keys);
    return result;
}

PakeDevice::PakeDevice(Identities ids)
    : m_ids(std::move(ids))
{
}

PakeDevice::~PakeDevice()
{
    wipe(m_key);
    wipe(m_expectedConfirmP);
}

Error PakeDevice::respond(const VerifierRecord &record, const Point &shareP, Point &shareV,
    Confirmation &confirmV)
{
    if (m_state != State::Fresh)
        return Error::WrongState;
    Scalar y;
    if (!curve().ok || !randomScalar(y))
        return Error::Internal;
    const Error e = respondWithScalar(record, y, shareP, shareV, confirmV);
    wipe(y);
    return e;
}

Error PakeDevice::respondWithScalar(const VerifierRecord &record, const Scalar &y,
    const Point &shareP, Point &shareV, Confirmation &confirmV)
{
    if (m_state != State::Fresh)
        return Error::WrongState;
    if (!curve().ok)
        return Error::Internal;
    m_state = State::Done; // until everything below succeeds
    detail::SharedPoints zv;
    if (const Error e = detail::verifierPoints(record.w0, record.L, y, shareP, zv);
        e != Error::None)
        return e;
    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr yb = newSecretBn(), w0 = newSecretBn();
    PointPtr share(EC_POINT_new(curve().group));
    // shareV = y·P + w0·N; both scalars were checked above.
    const bool shared = ctx && yb && w0 && share && loadScalar(y, yb.get())
        && loadScalar(record.w0, w0.get())
        && EC_POINT_mul(curve().group, share.get(), yb.get(), curve().N, w0.get(), ctx.get())
            == 1
        && storePoint(share.get(), shareV, ctx.get());
    if (!shared) {
        detail::wipe(zv);
        return Error::Internal;
    }
    std::vector<uint8_t> tt = detail::transcript(m_ids, shareP, shareV, zv, record.w0);
    detail::wipe(zv);
    detail::Keys keys;
    const bool derived = detail::keySchedule(tt, shareP, shareV, keys);
    OPENSSL_cleanse(tt.data(), tt.size());
    if (derived) {
        confirmV = keys.confirmV;
        m_expectedConfirmP = keys.confirmP;
        m_key = keys.kShared;
        m_state = State::Responded;
    }
    detail::wipe(keys);
    return derived ? Error::None : Error::Internal;
}

Error PakeDevice::finish(const Confirmation &confirmP, SharedKey &key)
{
    if (m_state != State::Responded)
        return Error::WrongState;
    m_state = State::Done;
    const bool match
        = equalConstantTime(m_expectedConfirmP.data(), confirmP.data(), ConfirmSize);
    if (match)
        key = m_key;
    wipe(m_key);
    return match ? Error::None : Error::ConfirmationMismatch;
}

std::vector<uint8_t> encode(const Hello2 &m)
{
    std::vector<uint8_t> out;
    const std::size_t n = std::min(m.user.size(), MaxUserName);
    out.push_back(2); // login mode 2
    out.push_back(uint8_t(n));
    out.insert(out.end(), m.user.begin(), m.user.begin() + std::ptrdiff_t(n));
    return out;
}

std::vector<uint8_t> encode(const Params2 &m)
{
    std::vector<uint8_t> out;
    putU32(out, uint32_t(m.result));
    out.insert(out.end(), m.salt.begin(), m.salt.end());
    out.push_back(m.kdf.logN);
    out.push_back(m.kdf.r);
    out.push_back(m.kdf.p);
    out.push_back(0);
    return out;
}

std::vector<uint8_t> encode(const Share2 &m)
{
    return std::vector<uint8_t>(m.shareP.begin(), m.shareP.end());
}

std::vector<uint8_t> encode(const Reply2 &m)
{
    std::vector<uint8_t> out;
    putU32(out, uint32_t(m.result));
    out.insert(out.end(), m.shareV.begin(), m.shareV.end());
    out.insert(out.end(), m.confirmV.begin(), m.confirmV.end());
    return out;
}

std::vector<uint8_t> encode(const Confirm2 &m)
{
    return std::vector<uint8_t>(m.confirmP.begin(), m.confirmP.end());
}

bool decode(const std::vector<uint8_t> &p, Hello2 &m)
{
    Reader r(p);
    uint8_t mode = 0, n = 0;
    if (!r.u8(mode) || mode != 2 || !r.u8(n) || n > MaxUserName || r.left() != n)
        return false;
    m.user.assign(reinterpret_cast<const char *>(p.data() + 2), n);
    return true;
}

bool decode(const std::vector<uint8_t> &p, Params2 &m)
{
    Reader r(p);
    uint8_t reserved = 0;
    return r.i32(m.result) && r.bytes(m.salt.data(), m.salt.size()) && r.u8(m.kdf.logN)
        && r.u8(m.kdf.r) && r.u8(m.kdf.p) && r.u8(reserved) && r.atEnd();
}

bool decode(const std::vector<uint8_t> &p, Share2 &m)
{
    Reader r(p);
    return r.bytes(m.shareP.data(), m.shareP.size()) && r.atEnd();
}

bool decode(const std::vector<uint8_t> &p, Reply2 &m)
{
    Reader r(p);
    return r.i32(m.result) && r.bytes(m.shareV.data(), m.shareV.size())
        && r.bytes(m.confirmV.data(), m.confirmV.size()) && r.atEnd();
}

bool decode(const std::vector<uint8_t> &p, Confirm2 &m)
{
    Reader r(p);
    return r.bytes(m.confirmP.data(), m.confirmP.size()) && r.atEnd();
}

std::vector<uint8_t> loginContext(
    const std::vector<uint8_t> &helloPayload, const std::vector<uint8_t> &paramsPayload)
{
    static const char label[] = "SXDP login 2 SPAKE2+-P256-SHA256-HKDF-SHA256-HMAC-SHA256";
    std::vector<uint8_t> out(label, label + sizeof label - 1);
    appendField(out, helloPayload.data(), helloPayload.size());
    appendField(out, paramsPayload.data(), paramsPayload.size());
    return out;
}

} // namespace scoutrix::proto::pake
