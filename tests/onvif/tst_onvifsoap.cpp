// The SOAP layer under the ONVIF backend and the emulator's ONVIF devices:
// hostile XML, envelopes and faults, escaping, the UsernameToken digest and
// its check on the device, and WS-Discovery in both directions.

#include <QtTest>

#include <string>
#include <vector>

#include "Soap.h"
#include "WsDiscovery.h"
#include "WsSecurity.h"
#include "Xml.h"

using namespace scoutrix::onvif;
using Clock = std::chrono::system_clock;

namespace {

QString q(const std::string &s)
{
    return QString::fromStdString(s);
}

std::string repeat(const std::string &s, int n)
{
    std::string out;
    out.reserve(s.size() * std::size_t(n));
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

std::string nested(int depth)
{
    return repeat("<a>", depth) + repeat("</a>", depth);
}

std::string sample(const char *name)
{
    QFile f(QStringLiteral(SCOUTRIX_SOURCE_DIR "/tests/onvif/samples/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing sample %s", name);
    return f.readAll().toStdString();
}

Clock::time_point at(std::int64_t secondsSinceEpoch)
{
    return Clock::time_point(std::chrono::seconds(secondsSinceEpoch));
}

} // namespace

class TestOnvifSoap : public QObject {
    Q_OBJECT

private slots:
    void hostileXmlIsRefused_data();
    void hostileXmlIsRefused();
    void limitsHoldAtTheirEdges();
    void entitiesAreNeverExpanded();
    void envelopeWithTimeIsRead();
    void faultsAreStructured();
    void envelopeShapesRefused_data();
    void envelopeShapesRefused();
    void hostileTextRoundTrips_data();
    void hostileTextRoundTrips();
    void messageDeclaresWhatItUses();
    void digestKnownAnswer();
    void base64AndCreatedAreStrict();
    void tokenUsesTheDeviceClock();
    void deviceChecksTokens();
    void nonceCacheStaysBounded();
    void probeRoundTrip();
    void cameraProbeMatchesAreRead();
    void probeMatchingRules();
    void scopesAreDecoded();
};

void TestOnvifSoap::hostileXmlIsRefused_data()
{
    QTest::addColumn<QByteArray>("doc");
    QTest::addColumn<QString>("reason");

    const QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n"
                              " <!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
                              " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
                              "]>\n<lolz>&lol3;</lolz>";
    QTest::newRow("billion laughs") << laughs << "declarations";
    QTest::newRow("external entity")
        << QByteArray("<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r>&x;</r>") << "declarations";
    QTest::newRow("parameter entity")
        << QByteArray("<!DOCTYPE r [<!ENTITY % p SYSTEM \"http://127.0.0.1:9/x.dtd\"> %p;]><r/>")
        << "declarations";
    QTest::newRow("bare doctype") << QByteArray("<!DOCTYPE html><html/>") << "declarations";
    QTest::newRow("lowercase doctype") << QByteArray("<!doctype r><r/>") << "declarations";
    QTest::newRow("doctype after a comment")
        << QByteArray("<!-- hi --><!DOCTYPE r SYSTEM \"x\"><r/>") << "declarations";
    QTest::newRow("100k levels") << QByteArray::fromStdString(nested(100000)) << "nested deeper";
    QTest::newRow("over the cap")
        << QByteArray::fromStdString("<r>" + std::string(1024 * 1024, 'x') + "</r>") << "over the limit";
    QTest::newRow("truncated") << QByteArray("<env:Envelope><env:Body><tds:Get") << "not well-formed";
    QTest::newRow("garbage") << QByteArray("\x89PNG\r\n\x1a\n\xff\xfe") << "";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("NUL inside") << QByteArray("<r>a\0b</r>", 10) << "NUL";
    QTest::newRow("two roots") << QByteArray("<a/><b/>") << "more than one root";
    QTest::newRow("text after root") << QByteArray("<a/>tail") << "";
    QTest::newRow("unterminated comment") << QByteArray("<r/><!-- <!DOCTYPE") << "comment";
    QTest::newRow("mismatched tags") << QByteArray("<a><b></a></b>") << "not well-formed";
}

void TestOnvifSoap::hostileXmlIsRefused()
{
    QFETCH(QByteArray, doc);
    QFETCH(QString, reason);
    const auto parsed = xml::parse(std::string_view(doc.constData(), std::size_t(doc.size())));
    QVERIFY(!parsed);
    QVERIFY2(q(parsed.error()).contains(reason), parsed.error().c_str());
    // The envelope parser says the same, and says it rather than crashing.
    const auto env = soap::parseEnvelope(std::string_view(doc.constData(), std::size_t(doc.size())));
    QVERIFY(!env);
    QVERIFY(!env.error().empty());
}

void TestOnvifSoap::limitsHoldAtTheirEdges()
{
    QVERIFY(xml::parse(nested(64)));
    QVERIFY(!xml::parse(nested(65)));
    xml::Limits tight;
    tight.maxDepth = 3;
    tight.maxBytes = 20;
    QVERIFY(xml::parse("<a><b><c/></b></a>", tight));
    QVERIFY(!xml::parse("<a><b><c><d/></c></b></a>", tight));
    QVERIFY(xml::parse(std::string(20 - 7, ' ') + "<a></a>", tight));
    QVERIFY(!xml::parse(std::string(21 - 7, ' ') + "<a></a>", tight));
    // Declarations named inside comments and CDATA are only text.
    const auto ok = xml::parse("<!-- <!DOCTYPE x> --><r><![CDATA[<!ENTITY y \"z\">]]></r>");
    QVERIFY2(ok, ok.error().c_str());
    QCOMPARE(q((*ok)->document_element().text().get()), QStringLiteral("<!ENTITY y \"z\">"));
}

void TestOnvifSoap::entitiesAreNeverExpanded()
{
    // An undeclared reference must never turn into anything but its
    // characters, and the predefined ones and character references decode.
    const auto parsed = xml::parse("<r><a>&lol9;</a><b>&lt;&amp;&#x41;&#66;</b></r>");
    QVERIFY2(parsed, parsed.error().c_str());
    const pugi::xml_node r = (*parsed)->document_element();
    QCOMPARE(q(xml::textAt(r, {"a"}).value()), QStringLiteral("&lol9;"));
    QCOMPARE(q(xml::textAt(r, {"b"}).value()), QStringLiteral("<&AB"));
}

void TestOnvifSoap::envelopeWithTimeIsRead()
{
    const auto env = soap::parseEnvelope(sample("get-system-date-and-time.xml"));
    QVERIFY2(env, env.error().c_str());
    QVERIFY(env->soap12);
    QVERIFY(!env->isFault());
    QVERIFY(env->header);
    QCOMPARE(q(env->payloadName), QStringLiteral("GetSystemDateAndTimeResponse"));
    QCOMPARE(q(env->payloadNamespace), QString(soap::ns::tds));
    const pugi::xml_node utc = xml::descendant(env->payload, "UTCDateTime");
    QVERIFY(utc);
    QCOMPARE(q(xml::namespaceOf(utc)), QString(soap::ns::tt));
    QCOMPARE(q(xml::textAt(utc, {"Date", "Year"}).value()), QStringLiteral("2026"));
    QCOMPARE(q(xml::textAt(utc, {"Time", "Second"}).value()), QStringLiteral("53"));
    QCOMPARE(q(xml::textAt(env->payload, {"SystemDateAndTime", "TimeZone", "TZ"}).value()),
        QStringLiteral("CST-8"));
    QVERIFY(!xml::textAt(utc, {"Date", "Era"}));
}

void TestOnvifSoap::faultsAreStructured()
{
    const auto env = soap::parseEnvelope(sample("fault-no-profile.xml"));
    QVERIFY2(env, env.error().c_str());
    QVERIFY(env->isFault());
    QCOMPARE(q(env->fault->code), QStringLiteral("Sender"));
    QCOMPARE(env->fault->subcodes, (std::vector<std::string> {"InvalidArgVal", "NoProfile"}));
    QCOMPARE(q(env->fault->reason), QStringLiteral("The requested profile token ProfileToken does not exist."));
    QCOMPARE(q(env->fault->detail), QStringLiteral("Profile_9 <unknown>"));

    // What the emulator sends reads back the same, hostile reason included.
    soap::Fault f {"Sender", {"NotAuthorized", "SenderNotAuthorized"}, "Sender </s:Text> not <authorized> & \"gone\"", {}};
    const auto back = soap::parseEnvelope(soap::buildFault(f));
    QVERIFY2(back, back.error().c_str());
    QVERIFY(back->isFault());
    QCOMPARE(q(back->fault->code), QStringLiteral("Sender"));
    QCOMPARE(back->fault->subcodes, f.subcodes);
    QCOMPARE(q(back->fault->reason), q(f.reason));

    // Older firmware answers in SOAP 1.1.
    const auto old = soap::parseEnvelope(
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
        "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Client</faultcode><faultstring>Unauthorized</faultstring>"
        "</SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>");
    QVERIFY2(old, old.error().c_str());
    QVERIFY(!old->soap12);
    QVERIFY(old->isFault());
    QCOMPARE(q(old->fault->code), QStringLiteral("Client"));
    QCOMPARE(q(old->fault->reason), QStringLiteral("Unauthorized"));

    // A Fault element from another namespace is payload, not a SOAP fault.
    const auto lookalike = soap::parseEnvelope(
        "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" xmlns:x=\"urn:x\"><e:Body>"
        "<x:Fault/></e:Body></e:Envelope>");
    QVERIFY(lookalike);
    QVERIFY(!lookalike->isFault());
}

void TestOnvifSoap::envelopeShapesRefused_data()
{
    QTest::addColumn<QString>("doc");
    QTest::addColumn<QString>("reason");
    const QString open = "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\">";
    QTest::newRow("not an envelope") << "<html><body/></html>" << "not a SOAP Envelope";
    QTest::newRow("unbound prefix") << "<e:Envelope><e:Body><x/></e:Body></e:Envelope>" << "unknown namespace";
    QTest::newRow("foreign namespace")
        << "<e:Envelope xmlns:e=\"urn:other\"><e:Body><x/></e:Body></e:Envelope>" << "unknown namespace";
    QTest::newRow("no body") << open + "<e:Header/></e:Envelope>" << "no Body";
    QTest::newRow("empty body") << open + "<e:Body> </e:Body></e:Envelope>" << "Body is empty";
    QTest::newRow("header after body") << open + "<e:Body><x/></e:Body><e:Header/></e:Envelope>" << "unexpected";
    QTest::newRow("two bodies") << open + "<e:Body><x/></e:Body><e:Body><y/></e:Body></e:Envelope>"
                                << "unexpected";
}

void TestOnvifSoap::envelopeShapesRefused()
{
    QFETCH(QString, doc);
    QFETCH(QString, reason);
    const auto env = soap::parseEnvelope(doc.toStdString());
    QVERIFY(!env);
    QVERIFY2(q(env.error()).contains(reason), env.error().c_str());
}

void TestOnvifSoap::hostileTextRoundTrips_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("closing tag") << "</tds:Name><tds:Admin>true</tds:Admin>" << "";
    QTest::newRow("CDATA end") << "a]]>b<![CDATA[c" << "";
    QTest::newRow("entities as text") << "&amp; &lt; &#65; &lol;" << "";
    QTest::newRow("quotes") << "\"it's\" 'fine'" << "";
    QTest::newRow("line ends") << "one\r\ntwo\rthree\nfour\tfive" << "";
    QTest::newRow("only a space") << " " << "";
    QTest::newRow("surrounding spaces") << "  Gate 1  " << "";
    QTest::newRow("non-ASCII") << QString::fromUtf8("Eingang Süd – 入口") << "";
    QTest::newRow("control characters dropped") << QString("a\x01" "b\x1f" "c") << "abc";
}

void TestOnvifSoap::hostileTextRoundTrips()
{
    QFETCH(QString, value);
    QFETCH(QString, expected);
    if (expected.isEmpty())
        expected = value;
    soap::Message m;
    pugi::xml_node set = xml::addElement(m.body(), "tds:SetHostname");
    xml::addElement(set, "tds:Name", value.toStdString());
    xml::addElement(set, "tds:After", "marker");
    const std::string wire = m.toString();

    const auto env = soap::parseEnvelope(wire);
    QVERIFY2(env, (env.error() + "\n" + wire).c_str());
    QCOMPARE(q(env->payloadName), QStringLiteral("SetHostname"));
    const std::vector<pugi::xml_node> names = xml::children(env->payload, "Name");
    QCOMPARE(names.size(), std::size_t(1));
    QCOMPARE(q(names[0].text().get()), expected);
    QVERIFY(!xml::child(names[0], "Admin"));
    QCOMPARE(q(xml::textAt(env->payload, {"After"}).value()), QStringLiteral("marker"));
}

void TestOnvifSoap::messageDeclaresWhatItUses()
{
    soap::Message m;
    QVERIFY(m.appendFragment(m.body(), "<tds:GetSystemDateAndTime/>"));
    const std::string plain = m.toString();
    QVERIFY(plain.find("xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\"") != std::string::npos);
    QVERIFY(plain.find("xmlns:env=") != std::string::npos);
    QVERIFY(plain.find("xmlns:trt") == std::string::npos);
    QVERIFY(plain.find("Header") == std::string::npos);
    const auto env = soap::parseEnvelope(plain);
    QVERIFY2(env, env.error().c_str());
    QCOMPARE(q(env->payloadNamespace), QString(soap::ns::tds));

    // Attribute values set straight through pugixml keep their whitespace
    // characters and lose only what XML cannot carry.
    soap::Message attr;
    xml::addElement(attr.body(), "tds:X").append_attribute("Note") = "a\tb\nc\rd\x01" "e \"<&>'";
    const auto attrBack = soap::parseEnvelope(attr.toString());
    QVERIFY2(attrBack, attrBack.error().c_str());
    QCOMPARE(q(attrBack->payload.attribute("Note").value()), QStringLiteral("a\tb\nc\rde \"<&>'"));

    soap::Message other;
    QVERIFY(!other.appendFragment(other.body(), "<!DOCTYPE x><x/>"));
    QVERIFY(!other.appendFragment(other.body(), "<trt:GetProfiles>"));
    const auto two = other.appendFragment(other.body(), "<trt:GetProfiles/><tt:Extra>x</tt:Extra>");
    QVERIFY(two);
    QCOMPARE(q((*two).name()), QStringLiteral("trt:GetProfiles"));
    const std::string both = other.toString();
    QVERIFY(both.find("xmlns:trt=") != std::string::npos && both.find("xmlns:tt=") != std::string::npos);
}

void TestOnvifSoap::digestKnownAnswer()
{
    // python3: base64.b64encode(hashlib.sha1(nonce + created + password).digest())
    const std::vector<std::uint8_t> nonce {0xb2, 0xf1, 0xe5, 0xc4, 0x7a, 0x9d, 0x03, 0xe6, 0xf8, 0xa1, 0xc2,
        0xd4, 0xe5, 0xb7, 0xa9, 0xc0};
    const std::string password = "P\xc3\xa4ssw0rd<&>";
    QCOMPARE(q(wsse::passwordDigest(nonce, "2026-03-14T09:26:53Z", password)),
        QStringLiteral("kZDJVEzuQRniF7MppbpniDjJL4A="));
    const wsse::UsernameToken t = wsse::makeUsernameToken("admin", password, nonce, at(1773480413));
    QCOMPARE(q(t.created), QStringLiteral("2026-03-14T09:26:53Z"));
    QCOMPARE(q(t.nonce), QStringLiteral("svHlxHqdA+b4ocLU5bepwA=="));
    QCOMPARE(q(t.digest), QStringLiteral("kZDJVEzuQRniF7MppbpniDjJL4A="));
}

void TestOnvifSoap::base64AndCreatedAreStrict()
{
    for (int n = 0; n < 8; ++n) {
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < n; ++i)
            bytes.push_back(std::uint8_t(0xfd - 37 * i));
        const auto back = wsse::base64Decode(wsse::base64Encode(bytes));
        QVERIFY(back && *back == bytes);
    }
    QVERIFY(wsse::base64Decode(" svHl xHqd\nA+b4ocLU5bepwA== "));
    QVERIFY(!wsse::base64Decode("svHlxHqdA+b4ocLU5bepwA="));
    QVERIFY(!wsse::base64Decode("sv=lxHqd"));
    QVERIFY(!wsse::base64Decode("svHl*Hqd"));
    QVERIFY(!wsse::base64Decode("QR=="));   // non-zero bits under the padding
    QVERIFY(!wsse::base64Decode("Q==="));

    QCOMPARE(wsse::parseCreated("2026-03-14T09:26:53Z"), std::optional<Clock::time_point>(at(1773480413)));
    QCOMPARE(wsse::parseCreated("2026-03-14T09:26:53.123456Z"), std::optional<Clock::time_point>(at(1773480413)));
    QCOMPARE(wsse::parseCreated("2026-03-14T17:26:53+08:00"), std::optional<Clock::time_point>(at(1773480413)));
    QCOMPARE(wsse::parseCreated("2000-02-29T23:59:59Z"), std::optional<Clock::time_point>(at(951868799)));
    for (const char *bad : {"2026-03-14T09:26:53", "2026-02-29T00:00:00Z", "2026-13-01T00:00:00Z",
             "2026-03-14 09:26:53Z", "2026-03-14T24:00:00Z", "2026-03-14T09:26:53Zjunk", "2026-03-14T09:26:53.Z",
             "1969-12-31T23:59:59Z", "2026-03-14T09:26:53+8:00", "", "5928-03-14T09:26:53Z",
             "9999-12-31T23:59:59-14:00"})
        QVERIFY2(!wsse::parseCreated(bad), bad);
    QCOMPARE(q(wsse::formatCreated(at(951868799))), QStringLiteral("2000-02-29T23:59:59Z"));
}

void TestOnvifSoap::tokenUsesTheDeviceClock()
{
    // The device runs 2 h 3 min 4 s behind the PC.
    const Clock::time_point local = at(1773480413);
    const Clock::time_point device = local - std::chrono::seconds(7384);
    const std::int64_t offset = wsse::clockOffset(device, local);
    QCOMPARE(offset, std::int64_t(-7384));
    const wsse::UsernameToken a = wsse::makeUsernameToken("admin", "pw", local, offset);
    const wsse::UsernameToken b = wsse::makeUsernameToken("admin", "pw", local, offset);
    QCOMPARE(q(a.created), q(wsse::formatCreated(device)));
    QCOMPARE(wsse::base64Decode(a.nonce)->size(), std::size_t(16));
    QVERIFY(a.nonce != b.nonce);

    // And the device, judging by its own clock, accepts it.
    soap::Message m;
    wsse::addSecurityHeader(m, a);
    xml::addElement(m.body(), "tds:GetUsers");
    const auto env = soap::parseEnvelope(m.toString());
    QVERIFY2(env, env.error().c_str());
    wsse::Verifier v;
    const auto lookup = [](const std::string &u) { return u == "admin" ? std::optional<std::string>("pw") : std::nullopt; };
    QCOMPARE(v.verify(*env, lookup, device).status, wsse::AuthStatus::Ok);
    // Signed with the PC's own clock it would have been stale.
    QCOMPARE(v.verify(*env, lookup, local).status, wsse::AuthStatus::Stale);
}

void TestOnvifSoap::deviceChecksTokens()
{
    const Clock::time_point now = at(1773480413);
    const auto lookup = [](const std::string &u) -> std::optional<std::string> {
        if (u == "admin")
            return std::string("S3cret&<pass>");
        return std::nullopt;
    };
    std::uint8_t counter = 0;
    const auto request = [&](const std::string &user, const std::string &password, Clock::time_point created) {
        std::vector<std::uint8_t> nonce(16, ++counter);
        soap::Message m;
        wsse::addSecurityHeader(m, wsse::makeUsernameToken(user, password, nonce, created));
        xml::addElement(m.body(), "tds:GetDeviceInformation");
        return m.toString();
    };
    const auto check = [&](wsse::Verifier &v, const std::string &wire, Clock::time_point deviceNow) {
        const auto env = soap::parseEnvelope(wire);
        if (!env)
            return wsse::AuthResult {wsse::AuthStatus::Malformed, {}, env.error()};
        return v.verify(*env, lookup, deviceNow);
    };

    wsse::Verifier v;
    const std::string good = request("admin", "S3cret&<pass>", now);
    const wsse::AuthResult ok = check(v, good, now);
    QVERIFY2(ok.ok(), ok.reason.c_str());
    QCOMPARE(q(ok.username), QStringLiteral("admin"));
    QCOMPARE(check(v, good, now + std::chrono::seconds(30)).status, wsse::AuthStatus::Replayed);

    // A wrong password does not use up its nonce: the same nonce with the
    // right password is still accepted.
    counter = 100;
    QCOMPARE(check(v, request("admin", "s3cret&<pass>", now), now).status, wsse::AuthStatus::WrongPassword);
    counter = 100;
    QCOMPARE(check(v, request("admin", "S3cret&<pass>", now), now).status, wsse::AuthStatus::Ok);

    QCOMPARE(check(v, request("root", "S3cret&<pass>", now), now).status, wsse::AuthStatus::UnknownUser);
    QCOMPARE(check(v, request("admin", "S3cret&<pass>", now - std::chrono::seconds(301)), now).status,
        wsse::AuthStatus::Stale);
    QCOMPARE(check(v, request("admin", "S3cret&<pass>", now + std::chrono::seconds(301)), now).status,
        wsse::AuthStatus::Stale);
    QCOMPARE(check(v, request("admin", "S3cret&<pass>", now - std::chrono::seconds(300)), now).status,
        wsse::AuthStatus::Ok);
    QCOMPARE(check(v, request("admin", "S3cret&<pass>", now + std::chrono::seconds(300)), now).status,
        wsse::AuthStatus::Ok);

    soap::Message bare;
    xml::addElement(bare.body(), "tds:GetDeviceInformation");
    QCOMPARE(check(v, bare.toString(), now).status, wsse::AuthStatus::MissingHeader);

    const std::string head = "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" "
                             "xmlns:s=\"urn:s\"><e:Header><s:Security><s:UsernameToken><s:Username>admin</s:Username>";
    const std::string tail = "</s:UsernameToken></s:Security></e:Header><e:Body><x/></e:Body></e:Envelope>";
    const std::string digest = std::string("<s:Password Type=\"") + wsse::kPasswordDigestType + "\">x</s:Password>";
    const std::string created = "<s:Created>2026-03-14T09:26:53Z</s:Created>";
    const struct {
        std::string token;
        wsse::AuthStatus status;
    } broken[] = {
        {"<s:Password Type=\"...#PasswordText\">S3cret&amp;&lt;pass></s:Password>", wsse::AuthStatus::UnsupportedType},
        {digest + created, wsse::AuthStatus::Malformed},
        {digest + "<s:Nonce>!!!!</s:Nonce>" + created, wsse::AuthStatus::Malformed},
        {digest + "<s:Nonce EncodingType=\"...#HexBinary\">AAAA</s:Nonce>" + created, wsse::AuthStatus::Malformed},
        {digest + "<s:Nonce>AAAA</s:Nonce><s:Created>yesterday</s:Created>", wsse::AuthStatus::Malformed},
        // A year the clock cannot hold is unreadable, not a far-future time.
        {digest + "<s:Nonce>AAAA</s:Nonce><s:Created>5928-03-14T09:26:53Z</s:Created>", wsse::AuthStatus::Malformed},
        {"", wsse::AuthStatus::Malformed},
    };
    for (const auto &b : broken)
        QCOMPARE(check(v, head + b.token + tail, now).status, b.status);
}

void TestOnvifSoap::nonceCacheStaysBounded()
{
    wsse::Verifier::Options o;
    o.nonceCacheSize = 3;
    o.window = std::chrono::seconds(60);
    wsse::Verifier v(o);
    const auto lookup = [](const std::string &) { return std::optional<std::string>("pw"); };
    const Clock::time_point now = at(1773480413);
    const auto verifyAt = [&](std::uint8_t n, Clock::time_point created, Clock::time_point deviceNow) {
        soap::Message m;
        wsse::addSecurityHeader(m, wsse::makeUsernameToken("u", "pw", std::vector<std::uint8_t>(8, n), created));
        xml::addElement(m.body(), "tds:GetUsers");
        return v.verify(*soap::parseEnvelope(m.toString()), lookup, deviceNow).status;
    };
    for (std::uint8_t n = 1; n <= 5; ++n)
        QCOMPARE(verifyAt(n, now, now), wsse::AuthStatus::Ok);
    QCOMPARE(v.rememberedNonces(), std::size_t(3));
    QCOMPARE(verifyAt(5, now, now), wsse::AuthStatus::Replayed);
    // Two windows later every nonce has aged out, and any replay of them
    // would be stale anyway.
    const Clock::time_point later = now + std::chrono::seconds(121);
    QCOMPARE(verifyAt(5, now, later), wsse::AuthStatus::Stale);
    QCOMPARE(verifyAt(9, later, later), wsse::AuthStatus::Ok);
    QCOMPARE(v.rememberedNonces(), std::size_t(1));
}

void TestOnvifSoap::probeRoundTrip()
{
    discovery::Probe probe;
    probe.types = {discovery::networkVideoTransmitter()};
    const std::string wire = discovery::buildProbe(probe);
    QVERIFY(QRegularExpression("^urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
                .match(q(probe.messageId))
                .hasMatch());
    discovery::Probe second;
    discovery::buildProbe(second);
    QVERIFY(second.messageId != probe.messageId);

    const auto parsed = discovery::parseProbe(wire);
    QVERIFY2(parsed, parsed.error().c_str());
    QCOMPARE(q(parsed->messageId), q(probe.messageId));
    QCOMPARE(parsed->types.size(), std::size_t(1));
    QVERIFY(parsed->types[0] == discovery::networkVideoTransmitter());
    QVERIFY(wire.find(discovery::kProbeAction) != std::string::npos);

    // The device answers, relating its answer to the probe.
    discovery::ProbeMatches answer;
    answer.relatesTo = parsed->messageId;
    answer.messageNumber = 7;
    discovery::ProbeMatch m;
    m.address = "urn:uuid:aa000000-0000-4000-8000-000000000021";
    m.types = {discovery::networkVideoTransmitter(), discovery::deviceType(), {"urn:vendor:x", "Doorbell"}};
    m.scopes = {discovery::makeScope("name", "Gate <1> & \"2\""), discovery::makeScope("hardware", "IPC B240")};
    m.xaddrs = {"http://127.0.10.21/onvif/device_service"};
    m.metadataVersion = 4000000000u;
    answer.matches = {m};
    QVERIFY(discovery::matches(*parsed, m.types, m.scopes));
    const auto back = discovery::parseProbeMatches(discovery::buildProbeMatches(answer));
    QVERIFY2(back, back.error().c_str());
    QCOMPARE(q(back->relatesTo), q(probe.messageId));
    QVERIFY(!back->messageId.empty() && back->messageId != probe.messageId);
    QCOMPARE(back->messageNumber, 7u);
    QCOMPARE(back->matches.size(), std::size_t(1));
    const discovery::ProbeMatch &r = back->matches[0];
    QCOMPARE(q(r.address), q(m.address));
    QVERIFY(r.types == m.types);
    QCOMPARE(r.scopes, m.scopes);
    QCOMPARE(r.xaddrs, m.xaddrs);
    QCOMPARE(r.metadataVersion, 4000000000u);
    QCOMPARE(q(discovery::describeScopes(r.scopes).name), QStringLiteral("Gate <1> & \"2\""));

    // Each parser refuses the other's message.
    QVERIFY(!discovery::parseProbe(discovery::buildProbeMatches(answer)));
    QVERIFY(!discovery::parseProbeMatches(wire));
    QVERIFY(!discovery::parseProbeMatches(soap::buildFault({"Receiver", {"Busy"}, "busy", {}})));
}

void TestOnvifSoap::cameraProbeMatchesAreRead()
{
    // As a camera on a bench answered: its own prefixes, an AppSequence, two
    // addresses, a percent-encoded name, a match without an address and a
    // MetadataVersion it got wrong.
    const auto parsed = discovery::parseProbeMatches(sample("camera-probe-matches.xml"));
    QVERIFY2(parsed, parsed.error().c_str());
    QCOMPARE(q(parsed->relatesTo), QStringLiteral("urn:uuid:0b1c2d3e-4f50-4617-8829-3a4b5c6d7e8f"));
    QCOMPARE(parsed->instanceId, 1518u);
    QCOMPARE(parsed->messageNumber, 68u);
    QCOMPARE(parsed->matches.size(), std::size_t(2));

    const discovery::ProbeMatch &cam = parsed->matches[0];
    QCOMPARE(q(cam.address), QStringLiteral("urn:uuid:4419a000-1dd2-11b2-8038-c05627a1b2c3"));
    QCOMPARE(cam.types.size(), std::size_t(2));
    QVERIFY(cam.types[0] == discovery::networkVideoTransmitter());
    QVERIFY(cam.types[1] == discovery::deviceType());
    QCOMPARE(cam.xaddrs.size(), std::size_t(2));
    QCOMPARE(q(cam.xaddrs[1]), QStringLiteral("http://[fe80::c256:27ff:fea1:b2c3]/onvif/device_service"));
    QCOMPARE(cam.metadataVersion, 10u);
    QCOMPARE(cam.scopes.size(), std::size_t(9));

    const discovery::ScopeInfo info = discovery::describeScopes(cam.scopes);
    QCOMPARE(q(info.name), QStringLiteral("Gate Cam #1"));
    QCOMPARE(q(info.hardware), QStringLiteral("IPC-B240"));
    QCOMPARE(q(info.mac), QStringLiteral("c0:56:27:a1:b2:c3"));
    QCOMPARE(info.locations, (std::vector<std::string> {"city/M\xc3\xbcnchen", "floor/R5"}));
    QCOMPARE(info.profiles, (std::vector<std::string> {"Streaming", "T"}));
    QCOMPARE(info.types, (std::vector<std::string> {"video_encoder"}));

    // The third match: padded address, an undeclared prefix, a negative version.
    const discovery::ProbeMatch &odd = parsed->matches[1];
    QCOMPARE(q(odd.address), QStringLiteral("urn:uuid:aa000000-0000-4000-8000-000000000022"));
    QCOMPARE(q(odd.types[1].local), QStringLiteral("Thing"));
    QVERIFY(odd.types[1].ns.empty());
    QCOMPARE(odd.metadataVersion, 0u);
}

void TestOnvifSoap::probeMatchingRules()
{
    const std::vector<discovery::QName> camTypes {discovery::networkVideoTransmitter(), discovery::deviceType()};
    const std::vector<std::string> camScopes {"onvif://www.onvif.org/location/city/Berlin",
        "onvif://www.onvif.org/name/Gate%201", "onvif://www.onvif.org/Profile/Streaming"};
    discovery::Probe p;
    QVERIFY(discovery::matches(p, camTypes, camScopes));
    p.types = {{soap::ns::dn, "NetworkVideoTransmitter"}};
    QVERIFY(discovery::matches(p, camTypes, camScopes));
    p.types = {{"urn:other", "NetworkVideoTransmitter"}};
    QVERIFY(!discovery::matches(p, camTypes, camScopes));
    p.types = {{soap::ns::dn, "NetworkVideoDisplay"}};
    QVERIFY(!discovery::matches(p, camTypes, camScopes));
    p.types = {{"", "NetworkVideoTransmitter"}};
    QVERIFY(discovery::matches(p, camTypes, camScopes));

    p.types.clear();
    p.scopes = {"onvif://www.onvif.org/location"};
    QVERIFY(discovery::matches(p, camTypes, camScopes));
    p.scopes = {"ONVIF://WWW.onvif.org/location/city/Berlin/"};
    QVERIFY(discovery::matches(p, camTypes, camScopes));
    p.scopes = {"onvif://www.onvif.org/loc"};
    QVERIFY(!discovery::matches(p, camTypes, camScopes));
    p.scopes = {"onvif://www.onvif.org/location/city/berlin"};
    QVERIFY(!discovery::matches(p, camTypes, camScopes));
    p.scopes = {"onvif://www.onvif.org/name/Gate 1"};
    QVERIFY(discovery::matches(p, camTypes, camScopes));
    p.scopes = {"onvif://www.onvif.org/location", "onvif://www.onvif.org/Profile/G"};
    QVERIFY(!discovery::matches(p, camTypes, camScopes));
    p.scopes = {"onvif://www.onvif.org/location"};
    p.matchBy = discovery::kStrcmpMatchBy;
    QVERIFY(!discovery::matches(p, camTypes, camScopes));
    p.scopes = {"onvif://www.onvif.org/location/city/Berlin"};
    QVERIFY(discovery::matches(p, camTypes, camScopes));
    p.matchBy = "urn:unknown-rule";
    QVERIFY(!discovery::matches(p, camTypes, camScopes));

    // Scopes and MatchBy cross the wire intact.
    p.matchBy = discovery::kStrcmpMatchBy;
    const auto parsed = discovery::parseProbe(discovery::buildProbe(p));
    QVERIFY2(parsed, parsed.error().c_str());
    QCOMPARE(parsed->scopes, p.scopes);
    QCOMPARE(q(parsed->matchBy), QString(discovery::kStrcmpMatchBy));
}

void TestOnvifSoap::scopesAreDecoded()
{
    QCOMPARE(q(discovery::percentDecode("a%20b%2Fc%zz%4")), QStringLiteral("a b/c%zz%4"));
    const std::string hostile = "Caf\xc3\xa9 / 50% <off> & on";
    const auto s = discovery::parseScope(discovery::makeScope("name", hostile));
    QVERIFY(s);
    QCOMPARE(q(s->category), QStringLiteral("name"));
    QCOMPARE(q(s->value), q(hostile));
    QVERIFY(discovery::makeScope("name", hostile).find(' ') == std::string::npos);
    QVERIFY(!discovery::parseScope("http://www.onvif.org/name/x"));
    QVERIFY(!discovery::parseScope("onvif://www.onvif.org/"));
    QCOMPARE(q(discovery::parseScope("onvif://www.onvif.org/Profile")->category), QStringLiteral("Profile"));
}

QTEST_GUILESS_MAIN(TestOnvifSoap)
#include "tst_onvifsoap.moc"
