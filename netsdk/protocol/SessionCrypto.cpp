#include "SessionCrypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <cstring>
#include <limits>
#include <memory>

namespace scoutrix::proto::session {

namespace {

struct CipherCtxFree
{
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

bool hkdfExpand(const pake::SharedKey &ikm, const char *info, uint8_t *out, std::size_t size)
{
    EVP_KDF *kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX *ctx = kdf ? EVP_KDF_CTX_new(kdf) : nullptr;
    EVP_KDF_free(kdf);
    if (!ctx)
        return false;
    char digest[] = "SHA256";
    static const char salt[] = "SXDP session 2";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_KEY, const_cast<uint8_t *>(ikm.data()), ikm.size()),
        OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_SALT, const_cast<char *>(salt), sizeof salt - 1),
        OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_INFO, const_cast<char *>(info), std::strlen(info)),
        OSSL_PARAM_construct_end(),
    };
    const bool ok = EVP_KDF_derive(ctx, out, size, params) == 1;
    EVP_KDF_CTX_free(ctx);
    return ok;
}

void nonceFor(const DirectionKey &key, uint64_t counter, uint8_t nonce[IvSize])
{
    std::memcpy(nonce, key.iv.data(), IvSize);
    for (int i = 0; i < 8; ++i)
        nonce[IvSize - 1 - i] ^= uint8_t(counter >> (8 * i));
}

void wipe(DirectionKey &k)
{
    OPENSSL_cleanse(k.key.data(), k.key.size());
    OPENSSL_cleanse(k.iv.data(), k.iv.size());
}

bool fitsInt(std::size_t n)
{
    return n <= std::size_t(std::numeric_limits<int>::max());
}

} // namespace

bool deriveSessionKeys(const pake::SharedKey &shared, SessionKeys &out)
{
    return hkdfExpand(shared, "client to device key", out.clientToDevice.key.data(), KeySize)
        && hkdfExpand(shared, "client to device iv", out.clientToDevice.iv.data(), IvSize)
        && hkdfExpand(shared, "device to client key", out.deviceToClient.key.data(), KeySize)
        && hkdfExpand(shared, "device to client iv", out.deviceToClient.iv.data(), IvSize);
}

FrameSealer::FrameSealer(const DirectionKey &key, uint64_t frameLimit)
    : m_key(key)
    , m_limit(frameLimit)
{
}

FrameSealer::~FrameSealer()
{
    wipe(m_key);
}

SealError FrameSealer::seal(const uint8_t *aad, std::size_t aadSize, const uint8_t *plain,
    std::size_t plainSize, std::vector<uint8_t> &out)
{
    if (m_counter >= m_limit)
        return SealError::Exhausted;
    if (plainSize > MaxTcpPayload - TagSize || !fitsInt(aadSize))
        return SealError::TooLong;
    uint8_t nonce[IvSize];
    nonceFor(m_key, m_counter, nonce);
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    out.resize(plainSize + TagSize);
    int len = 0;
    const bool ok = ctx
        && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, m_key.key.data(), nonce) == 1
        && (aadSize == 0 || EVP_EncryptUpdate(ctx.get(), nullptr, &len, aad, int(aadSize)) == 1)
        && (plainSize == 0
            || EVP_EncryptUpdate(ctx.get(), out.data(), &len, plain, int(plainSize)) == 1)
        && EVP_EncryptFinal_ex(ctx.get(), out.data() + plainSize, &len) == 1
        && EVP_CIPHER_CTX_ctrl(
               ctx.get(), EVP_CTRL_GCM_GET_TAG, int(TagSize), out.data() + plainSize)
            == 1;
    if (!ok) {
        out.clear();
        return SealError::Internal;
    }
    ++m_counter;
    return SealError::None;
}

FrameOpener::FrameOpener(const DirectionKey &key, uint64_t frameLimit)
    : m_key(key)
    , m_limit(frameLimit)
{
}

FrameOpener::~FrameOpener()
{
    wipe(m_key);
}

SealError FrameOpener::open(const uint8_t *aad, std::size_t aadSize, const uint8_t *sealed,
    std::size_t sealedSize, std::vector<uint8_t> &plain)
{
    plain.clear();
    if (m_closed)
        return SealError::Closed;
    if (m_counter >= m_limit)
        return SealError::Exhausted;
    SealError refusal = SealError::None;
    if (sealedSize < TagSize)
        refusal = SealError::TooShort;
    else if (sealedSize > MaxTcpPayload || !fitsInt(aadSize))
        refusal = SealError::TooLong;
    if (refusal != SealError::None) {
        m_closed = true;
        return refusal;
    }
    const std::size_t cipherSize = sealedSize - TagSize;
    uint8_t nonce[IvSize];
    nonceFor(m_key, m_counter, nonce);
    uint8_t tag[TagSize];
    std::memcpy(tag, sealed + cipherSize, TagSize);
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    std::vector<uint8_t> out(cipherSize);
    int len = 0;
    const bool setUp = ctx
        && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, m_key.key.data(), nonce) == 1
        && (aadSize == 0 || EVP_DecryptUpdate(ctx.get(), nullptr, &len, aad, int(aadSize)) == 1)
        && (cipherSize == 0
            || EVP_DecryptUpdate(ctx.get(), out.data(), &len, sealed, int(cipherSize)) == 1)
        && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, int(TagSize), tag) == 1;
    if (!setUp) {
        m_closed = true;
        return SealError::Internal;
    }
    uint8_t scratch[16];
    if (EVP_DecryptFinal_ex(ctx.get(), scratch, &len) != 1) {
        OPENSSL_cleanse(out.data(), out.size());
        m_closed = true;
        return SealError::Refused;
    }
    ++m_counter;
    plain = std::move(out);
    return SealError::None;
}

SealError sealFrame(FrameSealer &sealer, Type type, uint32_t sequence,
    const std::vector<uint8_t> &payload, std::vector<uint8_t> &frame)
{
    frame.clear();
    if (payload.size() > MaxTcpPayload - TagSize)
        return SealError::TooLong;
    Writer w;
    w.u32(Magic).u8(SealedVersion).u8(uint8_t(type)).u16(0).u32(sequence).u32(
        uint32_t(payload.size() + TagSize));
    std::vector<uint8_t> header = w.take();
    std::vector<uint8_t> body;
    const SealError e
        = sealer.seal(header.data(), header.size(), payload.data(), payload.size(), body);
    if (e != SealError::None)
        return e;
    frame = std::move(header);
    frame.insert(frame.end(), body.begin(), body.end());
    return SealError::None;
}

SealError openFrame(FrameOpener &opener, const uint8_t header[HeaderSize],
    const std::vector<uint8_t> &body, std::vector<uint8_t> &payload)
{
    payload.clear();
    if (opener.closed())
        return SealError::Closed;
    const auto le32 = [](const uint8_t *p) {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    };
    if (le32(header) != Magic || header[4] != SealedVersion || le32(header + 12) != body.size()) {
        opener.close();
        return SealError::Refused;
    }
    return opener.open(header, HeaderSize, body.data(), body.size(), payload);
}

SealError openFrame(FrameOpener &opener, Frame &frame)
{
    std::vector<uint8_t> plain;
    const SealError e = openFrame(opener, frame.header, frame.payload, plain);
    if (e == SealError::None)
        frame.payload = std::move(plain);
    return e;
}

const char *errorText(SealError e)
{
    switch (e) {
    case SealError::None:
        return "no error";
    case SealError::Exhausted:
        return "frame limit of the session key reached";
    case SealError::Refused:
        return "sealed frame refused";
    case SealError::TooShort:
        return "sealed frame shorter than its tag";
    case SealError::TooLong:
        return "sealed frame over the payload limit";
    case SealError::Closed:
        return "session closed after a refused frame";
    case SealError::Internal:
        return "cryptographic library failure";
    }
    return "unknown error";
}

} // namespace scoutrix::proto::session
