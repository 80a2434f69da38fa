// The version-2 login's crypto core: SPAKE2+ on P-256, the verifier record,
// the login messages, and the sealing of session frames.

#include <QtTest>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <cstring>
#include <string>

#include "Pake.h"
#include "SessionCrypto.h"

using namespace scoutrix::proto;
using namespace scoutrix::proto::pake;
using session::SealError;

namespace {

template <class Array>
Array fromHex(const char *hex)
{
    Array a {};
    const QByteArray bytes = QByteArray::fromHex(QByteArray(hex));
    if (std::size_t(bytes.size()) == a.size())
        std::memcpy(a.data(), bytes.constData(), a.size());
    return a;
}

template <class Array>
QByteArray toHex(const Array &a)
{
    return QByteArray(reinterpret_cast<const char *>(a.data()), int(a.size())).toHex();
}

// RFC 9383's test vectors for P256-SHA256-HKDF-SHA256-HMAC-SHA256.
const char kVecContext[] = "SPAKE2+-P256-SHA256-HKDF-SHA256-HMAC-SHA256 Test Vectors";
const char kVecW0[] = "bb8e1bbcf3c48f62c08db243652ae55d3e5586053fca77102994f23ad95491b3";
const char kVecW1[] = "7e945f34d78785b8a3ef44d0df5a1a97d6b3b460409a345ca7830387a74b1dba";
const char kVecL[] = "04eb7c9db3d9a9eb1f8adab81b5794c1f13ae3e225efbe91ea487425854c7fc00f00bfedcb"
                     "d09b2400142d40a14f2064ef31dfaa903b91d1faea7093d835966efd";
const char kVecX[] = "d1232c8e8693d02368976c174e2088851b8365d0d79a9eee709c6a05a2fad539";
const char kVecShareP[] = "04ef3bd051bf78a2234ec0df197f7828060fe9856503579bb1733009042c15c0c1de"
                          "127727f418b5966afadfdd95a6e4591d171056b333dab97a79c7193e341727";
const char kVecY[] = "717a72348a182085109c8d3917d6c43d59b224dc6a7fc4f0483232fa6516d8b3";
const char kVecShareV[] = "04c0f65da0d11927bdf5d560c69e1d7d939a05b0e88291887d679fcadea75810fb5c"
                          "c1ca7494db39e82ff2f50665255d76173e09986ab46742c798a9a68437b048";

const char kVecZ[] = "04bbfce7dd7f277819c8da21544afb7964705569bdf12fb92aa388059408d50091a0"
                     "c5f1d3127f56813b5337f9e4e67e2ca633117a4fbd559946ab474356c41839";
const char kVecV[] = "0458bf27c6bca011c9ce1930e8984a797a3419797b936629a5a937cf2f11c8b9514b"
                     "82b993da8a46e664f23db7c01edc87faa530db01c2ee405230b18997f16b68";
const char kVecTT[]
    = "38000000000000005350414b45322b2d503235362d5348413235362d484b44462d5348413235362d484d41"
      "432d534841323536205465737420566563746f72730600000000000000636c69656e74060000000000000073"
      "6572766572410000000000000004886e2f97ace46e55ba9dd7242579f2993b64e16ef3dcab95afd497333d8f"
      "a12f5ff355163e43ce224e0b0e65ff02ac8e5c7be09419c785e0ca547d55a12e2d20410000000000000004d8"
      "bbd6c639c62937b04d997f38c3770719c629d7014d49a24b4f98baa1292b4907d60aa6bfade45008a636337f"
      "5168c64d9bd36034808cd564490b1e656edbe7410000000000000004ef3bd051bf78a2234ec0df197f782806"
      "0fe9856503579bb1733009042c15c0c1de127727f418b5966afadfdd95a6e4591d171056b333dab97a79c719"
      "3e341727410000000000000004c0f65da0d11927bdf5d560c69e1d7d939a05b0e88291887d679fcadea75810"
      "fb5cc1ca7494db39e82ff2f50665255d76173e09986ab46742c798a9a68437b048410000000000000004bbfc"
      "e7dd7f277819c8da21544afb7964705569bdf12fb92aa388059408d50091a0c5f1d3127f56813b5337f9e4e6"
      "7e2ca633117a4fbd559946ab474356c4183941000000000000000458bf27c6bca011c9ce1930e8984a797a34"
      "19797b936629a5a937cf2f11c8b9514b82b993da8a46e664f23db7c01edc87faa530db01c2ee405230b18997"
      "f16b682000000000000000bb8e1bbcf3c48f62c08db243652ae55d3e5586053fca77102994f23ad95491b3";
const char kVecKMain[] = "4c59e1ccf2cfb961aa31bd9434478a1089b56cd11542f53d3576fb6c2a438a29";
const char kVecKConfirmP[] = "871ae3f7b78445e34438fb284504240239031c39d80ac23eb5ab9be5ad6db58a";
const char kVecKConfirmV[] = "ccd53c7c1fa37b64a462b40db8be101cedcf838950162902054e644b400f1680";
const char kVecConfirmP[] = "926cc713504b9b4d76c9162ded04b5493e89109f6d89462cd33adc46fda27527";
const char kVecConfirmV[] = "9747bcc4f8fe9f63defee53ac9b07876d907d55047e6ff2def2e7529089d3e68";
const char kVecKShared[] = "0c5f8ccd1413423a54f6c1fb26ff01534a87f893779c6e68666d772bfd91f3e7";

Identities vectorIds()
{
    return Identities { std::vector<uint8_t>(kVecContext, kVecContext + sizeof kVecContext - 1),
        "client", "server" };
}

ProverSecret vectorSecret()
{
    return ProverSecret { fromHex<Scalar>(kVecW0), fromHex<Scalar>(kVecW1) };
}

// Cheapest parameters a client accepts, so the tests stay quick.
KdfParams quickKdf()
{
    KdfParams k;
    k.logN = MinLogN;
    k.r = 1;
    return k;
}

struct Outcome
{
    Error device = Error::None;
    Error client = Error::None;
    Error deviceFinish = Error::None;
    SharedKey clientKey {};
    SharedKey deviceKey {};
};

// One whole exchange over the encoded messages, the way the session code will
// run it; one bit of message |leg| may be flipped on its way.
enum class Leg { None, Hello, Params, Share, Reply, Confirm };
Outcome runLogin(const std::string &clientPassword, const VerifierRecord &record,
    Leg leg = Leg::None, int byte = 0)
{
    auto hit = [&](Leg l, std::vector<uint8_t> &wire) {
        if (l == leg && !wire.empty())
            wire[std::size_t(byte) % wire.size()] ^= 0x01;
    };
    Outcome o;
    std::vector<uint8_t> helloWire = encode(Hello2 { "admin" });
    const std::vector<uint8_t> helloSent = helloWire;
    hit(Leg::Hello, helloWire);
    Hello2 hello;
    if (!decode(helloWire, hello)) {
        o.device = Error::BadParameters;
        return o;
    }
    Params2 params;
    params.salt = record.salt;
    params.kdf = record.kdf;
    const std::vector<uint8_t> paramsSent = encode(params);
    std::vector<uint8_t> paramsWire = paramsSent;
    hit(Leg::Params, paramsWire);
    Params2 got;
    if (!decode(paramsWire, got)) {
        o.client = Error::BadParameters;
        return o;
    }

    PakeDevice device(Identities { loginContext(helloWire, paramsSent), hello.user, "" });
    PakeClient client(Identities { loginContext(helloSent, paramsWire), "admin", "" });
    ProverSecret secret;
    o.client = deriveSecret(clientPassword, "admin", "", got.salt, got.kdf, secret);
    if (o.client != Error::None)
        return o;
    Share2 share;
    o.client = client.start(secret, share.shareP);
    std::vector<uint8_t> shareWire = encode(share);
    hit(Leg::Share, shareWire);
    Share2 shareIn;
    if (!decode(shareWire, shareIn)) {
        o.device = Error::BadPoint;
        return o;
    }

    Reply2 reply;
    o.device = device.respond(record, shareIn.shareP, reply.shareV, reply.confirmV);
    if (o.device != Error::None)
        return o;
    std::vector<uint8_t> replyWire = encode(reply);
    hit(Leg::Reply, replyWire);
    Reply2 replyIn;
    if (!decode(replyWire, replyIn) || replyIn.result != 0) {
        o.client = Error::WrongState;
        return o;
    }
    Confirm2 confirm;
    o.client = client.finish(replyIn.shareV, replyIn.confirmV, confirm.confirmP, o.clientKey);
    if (o.client != Error::None)
        return o;
    std::vector<uint8_t> confirmWire = encode(confirm);
    hit(Leg::Confirm, confirmWire);
    Confirm2 confirmIn;
    if (!decode(confirmWire, confirmIn)) {
        o.deviceFinish = Error::ConfirmationMismatch;
        return o;
    }
    o.deviceFinish = device.finish(confirmIn.confirmP, o.deviceKey);
    return o;
}

// w0·M, the share a client would send with x = 0.
Point blindingOnly(const Scalar &w0)
{
    static const uint8_t m[] = { 0x02, 0x88, 0x6e, 0x2f, 0x97, 0xac, 0xe4, 0x6e, 0x55, 0xba, 0x9d,
        0xd7, 0x24, 0x25, 0x79, 0xf2, 0x99, 0x3b, 0x64, 0xe1, 0x6e, 0xf3, 0xdc, 0xab, 0x95, 0xaf,
        0xd4, 0x97, 0x33, 0x3d, 0x8f, 0xa1, 0x2f };
    EC_GROUP *g = EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1);
    EC_POINT *M = EC_POINT_new(g), *r = EC_POINT_new(g);
    BIGNUM *w = BN_bin2bn(w0.data(), int(w0.size()), nullptr);
    Point out {};
    if (EC_POINT_oct2point(g, M, m, sizeof m, nullptr) == 1
        && EC_POINT_mul(g, r, nullptr, M, w, nullptr) == 1)
        EC_POINT_point2oct(g, r, POINT_CONVERSION_UNCOMPRESSED, out.data(), out.size(), nullptr);
    BN_free(w);
    EC_POINT_free(r);
    EC_POINT_free(M);
    EC_GROUP_free(g);
    return out;
}

session::DirectionKey testKey(uint8_t fill)
{
    session::DirectionKey k;
    k.key.fill(fill);
    k.iv.fill(uint8_t(fill ^ 0x5a));
    return k;
}

std::vector<uint8_t> sealed(session::FrameSealer &s, uint32_t seq, const std::vector<uint8_t> &p)
{
    std::vector<uint8_t> frame;
    if (session::sealFrame(s, Type::GetConfigReply, seq, p, frame) != SealError::None)
        frame.clear();
    return frame;
}

SealError openWhole(session::FrameOpener &o, const std::vector<uint8_t> &frame,
    std::vector<uint8_t> &payload)
{
    if (frame.size() < HeaderSize)
        return SealError::TooShort;
    return session::openFrame(
        o, frame.data(), std::vector<uint8_t>(frame.begin() + HeaderSize, frame.end()), payload);
}

} // namespace

Q_DECLARE_METATYPE(Leg)
Q_DECLARE_METATYPE(Point)

class TestPake : public QObject
{
    Q_OBJECT

private slots:
    // RFC 9383's vectors for this suite (P-256, SHA-256, HKDF, HMAC), first
    // as the two objects run them, then step by step.
    void rfcVectorExchange()
    {
        Point L;
        QCOMPARE(verifierFromSecret(vectorSecret(), L), Error::None);
        QCOMPARE(toHex(L), QByteArray(kVecL));

        PakeClient client(vectorIds());
        Point shareP;
        QCOMPARE(client.startWithScalar(vectorSecret(), fromHex<Scalar>(kVecX), shareP),
            Error::None);
        QCOMPARE(toHex(shareP), QByteArray(kVecShareP));

        VerifierRecord record;
        record.w0 = fromHex<Scalar>(kVecW0);
        record.L = L;
        PakeDevice device(vectorIds());
        Point shareV;
        Confirmation confirmV;
        QCOMPARE(device.respondWithScalar(record, fromHex<Scalar>(kVecY), shareP, shareV, confirmV),
            Error::None);
        QCOMPARE(toHex(shareV), QByteArray(kVecShareV));
        QCOMPARE(toHex(confirmV), QByteArray(kVecConfirmV));

        // The whole exchange through both objects: each confirmation is the
        // RFC's, and so is the key both end up with.
        Confirmation confirmP;
        SharedKey clientKey, deviceKey;
        QCOMPARE(client.finish(shareV, confirmV, confirmP, clientKey), Error::None);
        QCOMPARE(toHex(confirmP), QByteArray(kVecConfirmP));
        QCOMPARE(device.finish(confirmP, deviceKey), Error::None);
        QCOMPARE(toHex(clientKey), QByteArray(kVecKShared));
        QCOMPARE(toHex(deviceKey), QByteArray(kVecKShared));
    }

    // Z and V as each side computes them from its own secrets.
    void rfcVectorSharedPoints()
    {
        const Point shareP = fromHex<Point>(kVecShareP), shareV = fromHex<Point>(kVecShareV);
        detail::SharedPoints client, device;
        QCOMPARE(detail::proverPoints(vectorSecret(), fromHex<Scalar>(kVecX), shareV, client),
            Error::None);
        QCOMPARE(toHex(client.Z), QByteArray(kVecZ));
        QCOMPARE(toHex(client.V), QByteArray(kVecV));
        QCOMPARE(detail::verifierPoints(fromHex<Scalar>(kVecW0), fromHex<Point>(kVecL),
                     fromHex<Scalar>(kVecY), shareP, device),
            Error::None);
        QCOMPARE(toHex(device.Z), QByteArray(kVecZ));
        QCOMPARE(toHex(device.V), QByteArray(kVecV));
    }

    // The transcript byte for byte, then every key derived from it.
    void rfcVectorKeySchedule()
    {
        const Point shareP = fromHex<Point>(kVecShareP), shareV = fromHex<Point>(kVecShareV);
        detail::SharedPoints zv;
        zv.Z = fromHex<Point>(kVecZ);
        zv.V = fromHex<Point>(kVecV);
        const std::vector<uint8_t> tt
            = detail::transcript(vectorIds(), shareP, shareV, zv, fromHex<Scalar>(kVecW0));
        QCOMPARE(toHex(tt), QByteArray(kVecTT));

        detail::Keys keys;
        QVERIFY(detail::keySchedule(tt, shareP, shareV, keys));
        QCOMPARE(toHex(keys.kMain), QByteArray(kVecKMain));
        QCOMPARE(toHex(keys.kConfirmP), QByteArray(kVecKConfirmP));
        QCOMPARE(toHex(keys.kConfirmV), QByteArray(kVecKConfirmV));
        QCOMPARE(toHex(keys.confirmP), QByteArray(kVecConfirmP));
        QCOMPARE(toHex(keys.confirmV), QByteArray(kVecConfirmV));
        QCOMPARE(toHex(keys.kShared), QByteArray(kVecKShared));
    }

    void registrationKeepsNoPasswordAndSaltsEachDevice()
    {
        VerifierRecord a, b, c;
        QCOMPARE(registerPassword("739204", "admin", "", quickKdf(), a), Error::None);
        QCOMPARE(registerPassword("739204", "admin", "", quickKdf(), b), Error::None);
        QVERIFY(a.salt != b.salt);
        QVERIFY(a.w0 != b.w0);
        QVERIFY(a.L != b.L);
        // Same salt, same record: a client derives what the device holds.
        QCOMPARE(makeVerifier("739204", "admin", "", a.salt, quickKdf(), c), Error::None);
        QVERIFY(c.w0 == a.w0 && c.L == a.L);
        // The user name is part of the hashed input.
        QCOMPARE(makeVerifier("739204", "admin2", "", a.salt, quickKdf(), c), Error::None);
        QVERIFY(c.w0 != a.w0);
    }

    void clientAndDeviceAgreeOnTheKey()
    {
        VerifierRecord record;
        QCOMPARE(registerPassword("739204", "admin", "", quickKdf(), record), Error::None);
        const Outcome o = runLogin("739204", record);
        QCOMPARE(o.device, Error::None);
        QCOMPARE(o.client, Error::None);
        QCOMPARE(o.deviceFinish, Error::None);
        QCOMPARE(toHex(o.clientKey), toHex(o.deviceKey));
        // A second login gives a fresh key.
        const Outcome again = runLogin("739204", record);
        QCOMPARE(again.deviceFinish, Error::None);
        QVERIFY(again.clientKey != o.clientKey);
    }

    void wrongPasswordIsRefusedByTheClient()
    {
        VerifierRecord record;
        QCOMPARE(registerPassword("739204", "admin", "", quickKdf(), record), Error::None);
        const Outcome o = runLogin("739205", record);
        QCOMPARE(o.device, Error::None); // the device cannot tell yet
        QCOMPARE(o.client, Error::ConfirmationMismatch);
        QCOMPARE(toHex(o.clientKey), toHex(SharedKey {}));
    }

    void deviceRefusesAConfirmationItDidNotExpect()
    {
        VerifierRecord record;
        QCOMPARE(makeVerifier("739204", "admin", "", Salt {}, quickKdf(), record), Error::None);
        ProverSecret secret;
        QCOMPARE(deriveSecret("000000", "admin", "", Salt {}, quickKdf(), secret), Error::None);
        PakeClient client(vectorIds());
        PakeDevice device(vectorIds());
        Point shareP, shareV;
        Confirmation confirmV;
        QCOMPARE(client.start(secret, shareP), Error::None);
        QCOMPARE(device.respond(record, shareP, shareV, confirmV), Error::None);
        // A client with the wrong password never gets a valid confirmation;
        // whatever it sends is refused, and there is no second try.
        Confirmation guess {};
        SharedKey key {};
        QCOMPARE(device.finish(guess, key), Error::ConfirmationMismatch);
        QCOMPARE(toHex(key), toHex(SharedKey {}));
        QCOMPARE(device.finish(guess, key), Error::WrongState);
    }

    void tamperedMessageIsRefused_data()
    {
        QTest::addColumn<Leg>("leg");
        QTest::addColumn<int>("byte");
        QTest::newRow("user name") << Leg::Hello << 3;
        QTest::newRow("salt") << Leg::Params << 9;
        QTest::newRow("hash parameters (r)") << Leg::Params << 37;
        QTest::newRow("reserved byte") << Leg::Params << 39;
        QTest::newRow("shareP x") << Leg::Share << 10;
        QTest::newRow("shareP y") << Leg::Share << 64;
        QTest::newRow("shareV x") << Leg::Reply << 20;
        QTest::newRow("confirmV") << Leg::Reply << 80;
        QTest::newRow("confirmP") << Leg::Confirm << 0;
    }
    void tamperedMessageIsRefused()
    {
        QFETCH(Leg, leg);
        QFETCH(int, byte);
        VerifierRecord record;
        QCOMPARE(registerPassword("739204", "admin", "", quickKdf(), record), Error::None);
        const Outcome o = runLogin("739204", record, leg, byte);
        // Some side refuses; no one ends up with a key the other lacks.
        const bool refused = o.device != Error::None || o.client != Error::None
            || o.deviceFinish != Error::None;
        QVERIFY(refused);
        QVERIFY(o.deviceKey == SharedKey {});
    }

    void invalidPeerPointsAreRefused_data()
    {
        QTest::addColumn<Point>("point");
        Point p {};
        QTest::newRow("all zero (identity encoding)") << p;
        Point compressed = fromHex<Point>(kVecShareP);
        compressed[0] = 0x02;
        QTest::newRow("wrong prefix") << compressed;
        Point offCurve = fromHex<Point>(kVecShareP);
        offCurve[64] ^= 0x01;
        QTest::newRow("off the curve") << offCurve;
        Point bigX {};
        bigX[0] = 0x04;
        std::memset(bigX.data() + 1, 0xff, 64);
        QTest::newRow("coordinates above the field") << bigX;
    }
    void invalidPeerPointsAreRefused()
    {
        QFETCH(Point, point);
        VerifierRecord record;
        record.w0 = fromHex<Scalar>(kVecW0);
        QCOMPARE(verifierFromSecret(vectorSecret(), record.L), Error::None);
        PakeDevice device(vectorIds());
        Point shareV;
        Confirmation confirmV;
        QCOMPARE(device.respond(record, point, shareV, confirmV), Error::BadPoint);

        PakeClient client(vectorIds());
        Point shareP;
        Confirmation confirmP;
        SharedKey key;
        QCOMPARE(client.start(vectorSecret(), shareP), Error::None);
        QCOMPARE(client.finish(point, Confirmation {}, confirmP, key), Error::BadPoint);
    }

    // shareP = w0·M leaves x·P the identity, which would make Z the identity
    // whatever y the device picks.
    void shareThatCancelsToIdentityIsRefused()
    {
        VerifierRecord record;
        record.w0 = fromHex<Scalar>(kVecW0);
        QCOMPARE(verifierFromSecret(vectorSecret(), record.L), Error::None);
        const Point cancelling = blindingOnly(record.w0);
        QVERIFY(cancelling[0] == 0x04);
        PakeDevice device(vectorIds());
        Point shareV;
        Confirmation confirmV;
        QCOMPARE(device.respond(record, cancelling, shareV, confirmV), Error::BadPoint);
    }

    void outOfRangeScalarsAreRefused()
    {
        ProverSecret s = vectorSecret();
        s.w0 = Scalar {};
        PakeClient zero(vectorIds());
        Point shareP;
        QCOMPARE(zero.start(s, shareP), Error::BadScalar);
        s.w0.fill(0xff); // above the group order
        PakeClient big(vectorIds());
        QCOMPARE(big.start(s, shareP), Error::BadScalar);
        // A damaged record on the device is refused, not used.
        VerifierRecord damaged;
        damaged.w0 = fromHex<Scalar>(kVecW0);
        PakeDevice device(vectorIds());
        Point shareV;
        Confirmation confirmV;
        QCOMPARE(device.respond(damaged, fromHex<Point>(kVecShareP), shareV, confirmV),
            Error::BadScalar);
    }

    void stepsOutOfOrderAreRefused()
    {
        PakeClient client(vectorIds());
        Confirmation confirmP;
        SharedKey key;
        QCOMPARE(client.finish(fromHex<Point>(kVecShareV), Confirmation {}, confirmP, key),
            Error::WrongState);
        Point shareP;
        QCOMPARE(client.start(vectorSecret(), shareP), Error::None);
        QCOMPARE(client.start(vectorSecret(), shareP), Error::WrongState);
        QCOMPARE(client.finish(fromHex<Point>(kVecShareV), Confirmation {}, confirmP, key),
            Error::ConfirmationMismatch);
        // One answer per exchange: no retrying another confirmation.
        QCOMPARE(client.finish(fromHex<Point>(kVecShareV), Confirmation {}, confirmP, key),
            Error::WrongState);
        PakeDevice device(vectorIds());
        QCOMPARE(device.finish(Confirmation {}, key), Error::WrongState);
    }

    void hashParametersAreBounded_data()
    {
        QTest::addColumn<int>("logN");
        QTest::addColumn<int>("r");
        QTest::addColumn<int>("p");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("default") << 10 << 8 << 1 << true;
        QTest::newRow("costliest accepted") << int(MaxLogN) << 8 << 1 << true;
        QTest::newRow("too costly") << int(MaxLogN) + 1 << 8 << 1 << false;
        QTest::newRow("huge N") << 63 << 8 << 1 << false;
        QTest::newRow("too weak") << int(MinLogN) - 1 << 8 << 1 << false;
        QTest::newRow("r zero") << 10 << 0 << 1 << false;
        QTest::newRow("r too large") << 10 << 9 << 1 << false;
        QTest::newRow("parallel") << 10 << 8 << 2 << false;
    }
    void hashParametersAreBounded()
    {
        QFETCH(int, logN);
        QFETCH(int, r);
        QFETCH(int, p);
        QFETCH(bool, accepted);
        const KdfParams k { uint8_t(logN), uint8_t(r), uint8_t(p) };
        QCOMPARE(acceptableKdf(k), accepted);
        if (!accepted) {
            ProverSecret s;
            QCOMPARE(deriveSecret("739204", "admin", "", Salt {}, k, s), Error::BadParameters);
        }
    }

    void messagesDecodeStrictly()
    {
        Hello2 h;
        QVERIFY(decode(encode(Hello2 { "admin" }), h));
        QCOMPARE(QString::fromStdString(h.user), QStringLiteral("admin"));
        std::vector<uint8_t> bad = encode(Hello2 { "admin" });
        bad[0] = 1; // a version-1 hello
        QVERIFY(!decode(bad, h));
        bad = encode(Hello2 { "admin" });
        bad.push_back(0);
        QVERIFY(!decode(bad, h));
        bad = { 2, 64 };
        bad.resize(66, 'a');
        QVERIFY(!decode(bad, h));

        Params2 params;
        params.result = -11302;
        params.salt.fill(7);
        Params2 p2;
        QVERIFY(decode(encode(params), p2));
        QCOMPARE(p2.result, -11302);
        QVERIFY(p2.salt == params.salt);
        std::vector<uint8_t> shortParams = encode(params);
        shortParams.pop_back();
        QVERIFY(!decode(shortParams, p2));

        Reply2 reply, r2;
        reply.shareV = fromHex<Point>(kVecShareV);
        reply.confirmV.fill(3);
        QVERIFY(decode(encode(reply), r2));
        QVERIFY(r2.shareV == reply.shareV && r2.confirmV == reply.confirmV);
        Share2 s;
        QVERIFY(!decode(std::vector<uint8_t>(64), s));
        Confirm2 c;
        QVERIFY(!decode(std::vector<uint8_t>(33), c));
    }

    // Session sealing.

    void sessionKeysDifferPerDirectionAndPurpose()
    {
        SharedKey shared;
        shared.fill(0x11);
        session::SessionKeys keys, again, other;
        QVERIFY(session::deriveSessionKeys(shared, keys));
        QVERIFY(session::deriveSessionKeys(shared, again));
        QVERIFY(keys.clientToDevice.key == again.clientToDevice.key);
        QVERIFY(keys.clientToDevice.key != keys.deviceToClient.key);
        QVERIFY(keys.clientToDevice.iv != keys.deviceToClient.iv);
        shared[0] ^= 1;
        QVERIFY(session::deriveSessionKeys(shared, other));
        QVERIFY(other.clientToDevice.key != keys.clientToDevice.key);
    }

    void framesRoundTripInOrder()
    {
        session::FrameSealer sealer(testKey(1));
        session::FrameOpener opener(testKey(1));
        std::vector<uint8_t> record(25344);
        for (std::size_t i = 0; i < record.size(); ++i)
            record[i] = uint8_t(i * 7);
        const std::vector<std::vector<uint8_t>> payloads = { {}, { 1, 2, 3 }, record, record };
        std::vector<std::vector<uint8_t>> frames;
        for (std::size_t i = 0; i < payloads.size(); ++i)
            frames.push_back(sealed(sealer, uint32_t(i + 1), payloads[i]));
        // The same record twice never looks the same on the wire.
        QVERIFY(!frames[2].empty());
        QVERIFY(std::memcmp(frames[2].data() + HeaderSize, frames[3].data() + HeaderSize, 64) != 0);
        QVERIFY(std::search(frames[2].begin(), frames[2].end(), record.begin() + 100,
                    record.begin() + 132)
            == frames[2].end());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            std::vector<uint8_t> plain;
            QCOMPARE(openWhole(opener, frames[i], plain), SealError::None);
            QVERIFY(plain == payloads[i]);
            QCOMPARE(frames[i][4], session::SealedVersion);
        }
        QCOMPARE(opener.framesOpened(), uint64_t(4));
    }

    void anyFlippedBitIsRefused()
    {
        session::FrameSealer sealer(testKey(2));
        const std::vector<uint8_t> frame = sealed(sealer, 9, std::vector<uint8_t>(40, 0xab));
        QCOMPARE(frame.size(), HeaderSize + 40 + session::TagSize);
        for (std::size_t bit = 0; bit < frame.size() * 8; ++bit) {
            std::vector<uint8_t> bent = frame;
            bent[bit / 8] ^= uint8_t(1u << (bit % 8));
            session::FrameOpener opener(testKey(2));
            std::vector<uint8_t> plain;
            const SealError e = openWhole(opener, bent, plain);
            if (e == SealError::None)
                QFAIL(qPrintable(QStringLiteral("bit %1 accepted").arg(bit)));
            QVERIFY(plain.empty());
            QVERIFY(opener.closed());
        }
    }

    void replayAndReorderAreRefused()
    {
        session::FrameSealer sealer(testKey(3));
        const auto first = sealed(sealer, 1, { 1 });
        const auto second = sealed(sealer, 2, { 2 });
        std::vector<uint8_t> plain;
        {
            session::FrameOpener opener(testKey(3));
            QCOMPARE(openWhole(opener, first, plain), SealError::None);
            QCOMPARE(openWhole(opener, first, plain), SealError::Refused);
            // The session is over once a frame fails, even for a good one.
            QCOMPARE(openWhole(opener, second, plain), SealError::Closed);
        }
        {
            session::FrameOpener opener(testKey(3));
            QCOMPARE(openWhole(opener, second, plain), SealError::Refused);
        }
        {
            // A dropped frame is noticed at the next one.
            session::FrameSealer s(testKey(3));
            sealed(s, 1, { 1 });
            const auto after = sealed(s, 2, { 2 });
            session::FrameOpener opener(testKey(3));
            QCOMPARE(openWhole(opener, after, plain), SealError::Refused);
        }
    }

    void wrongDirectionKeyIsRefused()
    {
        SharedKey shared;
        shared.fill(0x42);
        session::SessionKeys keys;
        QVERIFY(session::deriveSessionKeys(shared, keys));
        session::FrameSealer fromClient(keys.clientToDevice);
        const auto frame = sealed(fromClient, 1, { 1, 2, 3 });
        // A device's own frame reflected back to it, or read with the other key.
        session::FrameOpener clientSide(keys.deviceToClient);
        std::vector<uint8_t> plain;
        QCOMPARE(openWhole(clientSide, frame, plain), SealError::Refused);
        session::FrameOpener deviceSide(keys.clientToDevice);
        QCOMPARE(openWhole(deviceSide, frame, plain), SealError::None);
    }

    void framesWithTheWrongShapeAreRefused()
    {
        session::FrameSealer sealer(testKey(4));
        auto frame = sealed(sealer, 1, { 1, 2, 3 });
        std::vector<uint8_t> plain;
        session::FrameOpener a(testKey(4));
        // Body cut short of the length the header announces.
        QCOMPARE(session::openFrame(a, frame.data(),
                     std::vector<uint8_t>(frame.begin() + HeaderSize, frame.end() - 1), plain),
            SealError::Refused);
        session::FrameOpener b(testKey(4));
        QCOMPARE(
            session::openFrame(b, frame.data(), std::vector<uint8_t>(5), plain), SealError::Refused);
        session::FrameOpener c(testKey(4));
        QCOMPARE(c.open(nullptr, 0, frame.data(), session::TagSize - 1, plain),
            SealError::TooShort);
        QCOMPARE(c.open(nullptr, 0, frame.data(), frame.size(), plain), SealError::Closed);
        std::vector<uint8_t> huge;
        QCOMPARE(session::sealFrame(sealer, Type::SetConfig, 2, std::vector<uint8_t>(MaxTcpPayload),
                     huge),
            SealError::TooLong);
        QVERIFY(huge.empty());
    }

    void counterExhaustionStopsTheSession()
    {
        session::FrameSealer sealer(testKey(5), 2);
        session::FrameOpener opener(testKey(5), 2);
        std::vector<uint8_t> plain, frame;
        QCOMPARE(session::sealFrame(sealer, Type::KeepAlive, 1, {}, frame), SealError::None);
        QCOMPARE(openWhole(opener, frame, plain), SealError::None);
        QCOMPARE(session::sealFrame(sealer, Type::KeepAlive, 2, {}, frame), SealError::None);
        QCOMPARE(openWhole(opener, frame, plain), SealError::None);
        QCOMPARE(session::sealFrame(sealer, Type::KeepAlive, 3, {}, frame), SealError::Exhausted);
        QVERIFY(frame.empty());
        QCOMPARE(sealer.framesSealed(), uint64_t(2));
        // The receiver stops at the same count, whatever the sender claims.
        session::FrameSealer rogue(testKey(5), 3);
        for (uint32_t i = 0; i < 3; ++i)
            QCOMPARE(session::sealFrame(rogue, Type::KeepAlive, i, {}, frame), SealError::None);
        QCOMPARE(openWhole(opener, frame, plain), SealError::Exhausted);
    }
};

QTEST_APPLESS_MAIN(TestPake)
#include "tst_pake.moc"
