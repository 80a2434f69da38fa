// The logo builder on the real packing tools: what it chooses for a board,
// the install description's bytes, and packages taken apart again with
// mkimage -l, unsquashfs, fsck.cramfs and unzip.

#include <QtTest>

#include <QCryptographicHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#include <memory>

#include "ConfigRecords.h"
#include "ImageLib.h"
#include "LogoBuilder.h"

using namespace scoutrix;

namespace {

HardwareRecord record(const std::string &name, const std::string &vendor = "Acme",
                      const std::string &version = std::string(), uint32_t start = 0x100000, uint32_t end = 0x140000)
{
    HardwareRecord hw {};
    hw.setHardwareName(name);
    hw.setVendorText(vendor);
    hw.setVersionText(version);
    hw.setArea(start, end);
    return hw;
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(gen.bounded(256));
    return bytes;
}

QString writePicture(const QString &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Tool
{
    int code = -1;
    QByteArray out;
};

Tool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Tool t;
    if (p.waitForStarted() && p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        t.code = p.exitCode();
    t.out = p.readAll();
    return t;
}

// The tools a test needs; its name and the missing tool when one is absent.
QString missingTool(const QStringList &tools)
{
    for (const QString &t : tools) {
        if (QStandardPaths::findExecutable(t).isEmpty()
            && QStandardPaths::findExecutable(t, { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin") }).isEmpty())
            return t;
    }
    return QString();
}

#define REQUIRE_TOOLS(...)                                                                                             \
    do {                                                                                                               \
        const QString missing = missingTool({ __VA_ARGS__ });                                                          \
        if (!missing.isEmpty())                                                                                        \
            QSKIP(qPrintable(missing + QStringLiteral(" is not installed; scripts/deps.sh installs it")));            \
    } while (0)

QString sbinTool(const QString &name)
{
    const QString p = QStandardPaths::findExecutable(name);
    return p.isEmpty() ? QStandardPaths::findExecutable(name, { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin") })
                       : p;
}

// The install description as the devices have always read it, piece by piece.
QByteArray expectedDescription(const QByteArray &format, const QByteArray &hardware, const QByteArray &vendor,
                               const QByteArray &version)
{
    QByteArray text = "{\n\t\"UpgradeCommand\" : [\n\t{\n\t\t\"Command\" : \"Burn\",\n\t\t\"FileName\" : \"logo-x."
        + format + ".img\"\n\t}\n\t],\n\t\"Hardware\" : ";
    text += '"' + hardware + '"';
    text += ",\n\t\"Vendor\" : \"" + vendor;
    if (!version.isEmpty())
        text += "\",\n\t\"Version\" : \"" + version;
    text += "\"\n}\n";
    return text;
}

// A package taken apart: its entry names and the named entries' bytes.
struct Unpacked
{
    QStringList names;
    QByteArray desc, image;
};

Unpacked unpack(const QString &package, const QString &imageName, const QString &into)
{
    Unpacked u;
    const Tool list = run(QStringLiteral("unzip"), { QStringLiteral("-Z1"), package });
    if (list.code != 0)
        return u;
    u.names = QString::fromUtf8(list.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    u.names.sort();
    if (run(QStringLiteral("unzip"), { QStringLiteral("-o"), QStringLiteral("-q"), package, QStringLiteral("-d"), into })
            .code
        != 0)
        return u;
    u.desc = readAll(into + QStringLiteral("/InstallDesc"));
    u.image = readAll(into + QLatin1Char('/') + imageName);
    return u;
}

} // namespace

class TestLogoBuilder : public QObject
{
    Q_OBJECT

private slots:
    void formatFollowsBoardName_data();
    void formatFollowsBoardName();
    void areaFollowsBoardLists_data();
    void areaFollowsBoardLists();
    void pictureTypeBySuffix();
    void installDescriptionBytes();
    void installDescriptionEscapesDeviceTexts();
    void sizeCheckAtTheBoundary();
    void imageLibReportsEveryFailure();
    void squashfsPackage();
    void cramfsPackage();
    void areaExactlyFullPassesOneByteOverIsRefused();
    void largePictureInSmallAreaIsRefused();
    void fileSystemReuseIsKeyedByContent();
    void missingMksquashfsStopsTheBuild();
    void unreadablePictureStopsTheBuild();
    void cacheFolder();
    void concurrentBuildsKeepTheirOwnFiles();
    void cliBuildsFromOptions();
    void cliRefusals();
};

void TestLogoBuilder::formatFollowsBoardName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("squashfs");
    QTest::newRow("_S in the middle") << "IPC_S2M" << true;
    QTest::newRow("_S at the end") << "HI3518_S" << true;
    QTest::newRow("_C") << "AB_C1" << true;
    QTest::newRow("QRX52") << "QRX5201" << true;
    QTest::newRow("WPN53") << "xWPN53y" << true;
    QTest::newRow("none") << "HI3520D" << false;
    QTest::newRow("lower case is another board") << "ipc_s2m" << false;
    QTest::newRow("S without underscore") << "QRXS" << false;
    QTest::newRow("empty") << "" << false;
}

void TestLogoBuilder::formatFollowsBoardName()
{
    QFETCH(QString, name);
    QFETCH(bool, squashfs);
    const LogoFormat f = LogoBuilder::chooseFormat(record(name.toStdString()));
    QCOMPARE(f == LogoFormat::Squashfs, squashfs);
    QCOMPARE(LogoBuilder::formatWord(f), squashfs ? QStringLiteral("squashfs") : QStringLiteral("cramfs"));
}

void TestLogoBuilder::areaFollowsBoardLists_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<uint>("start");
    QTest::addColumn<uint>("end");
    // The record says 0x100000..0x140000 in every row.
    QTest::newRow("squashfs, neither list: fixed area") << "IPC_S2M" << 0x790000u << 0x7A0000u;
    QTest::newRow("QRX52: large") << "QRX52" << 0xE80000u << 0xEC0000u;
    QTest::newRow("QRX53 and YMC06: small wins") << "QRX53_YMC06" << 0x7A0000u << 0x7B0000u;
    QTest::newRow("cramfs: the record's area") << "HI3520D" << 0x100000u << 0x140000u;
    QTest::newRow("cramfs YMC07: large") << "YMC07" << 0xE80000u << 0xEC0000u;
    QTest::newRow("cramfs YMC06: small") << "YMC06" << 0x7A0000u << 0x7B0000u;
}

void TestLogoBuilder::areaFollowsBoardLists()
{
    QFETCH(QString, name);
    QFETCH(uint, start);
    QFETCH(uint, end);
    const HardwareRecord hw = record(name.toStdString());
    const LogoArea a = LogoBuilder::area(hw, LogoBuilder::chooseFormat(hw));
    QCOMPARE(a.start, start);
    QCOMPARE(a.end, end);
}

void TestLogoBuilder::pictureTypeBySuffix()
{
    QCOMPARE(LogoBuilder::pictureType(QStringLiteral("/p/boot.jpg")), 1);
    QCOMPARE(LogoBuilder::pictureType(QStringLiteral("/p/BOOT.JPG")), 1);
    QCOMPARE(LogoBuilder::pictureType(QStringLiteral("/p/boot.bmp")), 2);
    QCOMPARE(LogoBuilder::pictureType(QStringLiteral("/p/boot.Gif")), 3);
    QCOMPARE(LogoBuilder::pictureType(QStringLiteral("/p/boot.png")), 0);
    // A firmware file in a folder that happens to look like a picture stays firmware.
    QCOMPARE(LogoBuilder::pictureType(QStringLiteral("/p/shots.jpg/fw.bin")), 0);
    QCOMPARE(LogoBuilder::pictureType(QStringLiteral("/p/boot.jpeg")), 0);
}

void TestLogoBuilder::installDescriptionBytes()
{
    const HardwareRecord withVersion = record("QRX52_S", "Orvane", "V2.1.0");
    QCOMPARE(LogoBuilder::installDescription(withVersion, LogoFormat::Squashfs),
             expectedDescription("squashfs", "QRX52_S", "Orvane", "V2.1.0"));
    // Without a version the vendor line is last.
    const HardwareRecord noVersion = record("HI3520D", "Orvane");
    const QByteArray desc = LogoBuilder::installDescription(noVersion, LogoFormat::Cramfs);
    QCOMPARE(desc, expectedDescription("cramfs", "HI3520D", "Orvane", QByteArray()));
    QVERIFY(desc.endsWith("\"Vendor\" : \"Orvane\"\n}\n"));
    // Fields filled to their last byte read bounded, not into the next field.
    HardwareRecord full {};
    std::memset(full.bytes + HardwareRecord::Name, 'N', HardwareRecord::NameBytes);
    std::memset(full.bytes + HardwareRecord::Version, 'V', HardwareRecord::VersionBytes);
    std::memset(full.bytes + HardwareRecord::Vendor, 'W', HardwareRecord::VendorBytes);
    QCOMPARE(LogoBuilder::installDescription(full, LogoFormat::Cramfs),
             expectedDescription("cramfs", QByteArray(32, 'N'), QByteArray(64, 'W'), QByteArray(32, 'V')));
}

void TestLogoBuilder::installDescriptionEscapesDeviceTexts()
{
    const std::string hardware = "QR\"X\\52\n";
    const std::string vendor = "Ac\tme\x01";
    const std::string version = "caf\xe9"; // Latin-1, not UTF-8
    const QByteArray desc = LogoBuilder::installDescription(record(hardware, vendor, version), LogoFormat::Squashfs);
    QVERIFY2(desc.contains("\"Hardware\" : \"QR\\\"X\\\\52\\n\""), desc.constData());
    QVERIFY2(desc.contains("\"Vendor\" : \"Ac\\tme\\u0001\""), desc.constData());
    // Whatever the device sends, the description stays one valid JSON object
    // holding the texts as sent.
    const auto parsed = nlohmann::json::parse(desc.constData());
    QCOMPARE(QString::fromStdString(parsed.at("Hardware").get<std::string>()), QString::fromStdString(hardware));
    QCOMPARE(QString::fromStdString(parsed.at("Vendor").get<std::string>()), QString::fromStdString(vendor));
    QCOMPARE(QString::fromStdString(parsed.at("Version").get<std::string>()), QStringLiteral("caf\u00e9"));
    QCOMPARE(QString::fromStdString(parsed.at("UpgradeCommand").at(0).at("FileName").get<std::string>()),
             QStringLiteral("logo-x.squashfs.img"));
}

void TestLogoBuilder::sizeCheckAtTheBoundary()
{
    const LogoArea a { 0x790000, 0x7A0000 };
    QCOMPARE(a.size(), 65536u);
    QCOMPARE(LogoBuilder::checkSize(65536, a), int(LogoBuilder::Ok));
    QCOMPARE(LogoBuilder::checkSize(65537, a), int(LogoBuilder::OverSize));
    QCOMPARE(LogoBuilder::checkSize(0, a), int(LogoBuilder::Ok));
    // An area that ends before it starts holds nothing (no unsigned wrap-around).
    QCOMPARE(LogoBuilder::checkSize(64, LogoArea { 0x7A0000, 0x790000 }), int(LogoBuilder::OverSize));
    QCOMPARE(LogoBuilder::messageKey(LogoBuilder::OverSize), QStringLiteral("Upgrade.OverSize"));
}

void TestLogoBuilder::imageLibReportsEveryFailure()
{
    REQUIRE_TOOLS(QStringLiteral("mkimage"), QStringLiteral("mkfs.cramfs"));
    QTemporaryDir dir;
    const QByteArray d = QFile::encodeName(dir.path());
    const QByteArray data = d + "/data.bin";
    QVERIFY(!writePicture(dir.path(), QStringLiteral("data.bin"), randomBytes(1000, 1)).isEmpty());
    QVERIFY(MakeCramFS((d + "/missing/*").constData(), (d + "/x.cramfs").constData()) != 0);
    QVERIFY(MakeCramFS(nullptr, (d + "/x.cramfs").constData()) != 0);
    QVERIFY(MakeImage((d + "/missing").constData(), (d + "/x.img").constData(), 0, 0x10000) != 0);
    QVERIFY(MakeImage(data.constData(), (d + "/x.img").constData(), 0x10000, 0x10000) != 0);
    QVERIFY(MakeImage(data.constData(), (d + "/no/such/dir/x.img").constData(), 0, 0x10000) != 0);
    QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/x.img")));
    QVERIFY(MakeImage(QByteArray(300, 'a').constData(), (d + "/x.img").constData(), 0, 0x10000) != 0);
    QDir().mkpath(dir.path() + QStringLiteral("/empty"));
    QVERIFY(MakeZipFile((d + "/empty").constData(), (d + "/x.zip").constData()) != 0);
    QVERIFY(MakeZipFile(d.constData(), (d + "/no/such/dir/x.zip").constData()) != 0);
    // And a success writes the header's 64 bytes before the data.
    QCOMPARE(MakeImage(data.constData(), (d + "/ok.img").constData(), 0x10000, 0x20000), 0);
    QCOMPARE(QFileInfo(dir.path() + QStringLiteral("/ok.img")).size(), qint64(1064));
}

void TestLogoBuilder::squashfsPackage()
{
    REQUIRE_TOOLS(QStringLiteral("mksquashfs"), QStringLiteral("unsquashfs"), QStringLiteral("mkimage"),
                  QStringLiteral("unzip"));
    QTemporaryDir dir;
    const QByteArray picture = randomBytes(3000, 7);
    const QString path = writePicture(dir.path(), QStringLiteral("Boot Logo.JPG"), picture);
    const HardwareRecord hw = record("QRX52_S", "Orvane", "V2.1.0", 1, 2);
    LogoBuilder builder(dir.path() + QStringLiteral("/cache"));
    const QString out = dir.path() + QStringLiteral("/Logo.bin");
    const LogoResult r = builder.build(path, hw, out);
    QCOMPARE(r.code, int(LogoBuilder::Ok));
    QVERIFY(r.messageKey.isEmpty());
    QCOMPARE(r.packagePath, out);

    const Unpacked u = unpack(out, QStringLiteral("logo-x.squashfs.img"), dir.path() + QStringLiteral("/x"));
    QCOMPARE(u.names, (QStringList { QStringLiteral("InstallDesc"), QStringLiteral("logo-x.squashfs.img") }));
    QCOMPARE(u.desc, LogoBuilder::installDescription(hw, LogoFormat::Squashfs));
    QVERIFY(u.image.size() <= 0x40000);

    const QString img = dir.path() + QStringLiteral("/x/logo-x.squashfs.img");
    const Tool header = run(QStringLiteral("mkimage"), { QStringLiteral("-l"), img });
    QCOMPARE(header.code, 0);
    QVERIFY2(header.out.contains("Filesystem Image (uncompressed)"), header.out.constData());
    QVERIFY2(header.out.contains("Image Name:   logo-x.squashfs\n"), header.out.constData());
    QVERIFY2(header.out.contains("Load Address: 00e80000"), header.out.constData());
    QVERIFY2(header.out.contains("Entry Point:  00ec0000"), header.out.constData());

    const QString fs = dir.path() + QStringLiteral("/x/fs.squashfs");
    QVERIFY(writePicture(dir.path() + QStringLiteral("/x"), QStringLiteral("fs.squashfs"), u.image.mid(64)) == fs);
    const Tool listing = run(QStringLiteral("unsquashfs"), { QStringLiteral("-l"), fs });
    QCOMPARE(listing.code, 0);
    QVERIFY2(listing.out.contains("squashfs-root/bmp_logo.jpg"), listing.out.constData());
    const Tool stats = run(QStringLiteral("unsquashfs"), { QStringLiteral("-s"), fs });
    QVERIFY2(stats.out.contains("Compression xz") && stats.out.contains("Block size 262144"), stats.out.constData());
    const QString root = dir.path() + QStringLiteral("/x/root");
    QCOMPARE(run(QStringLiteral("unsquashfs"), { QStringLiteral("-d"), root, fs }).code, 0);
    QCOMPARE(readAll(root + QStringLiteral("/bmp_logo.jpg")), picture);
}

void TestLogoBuilder::cramfsPackage()
{
    REQUIRE_TOOLS(QStringLiteral("mkfs.cramfs"), QStringLiteral("fsck.cramfs"), QStringLiteral("mkimage"),
                  QStringLiteral("unzip"));
    QTemporaryDir dir;
    const QByteArray picture = randomBytes(5000, 9);
    const QString path = writePicture(dir.path(), QStringLiteral("logo.gif"), picture);
    const HardwareRecord hw = record("HI3520D", "Orvane", std::string(), 0x100000, 0x140000);
    const LogoResult r = LogoBuilder(dir.path() + QStringLiteral("/cache")).build(path, hw);
    QCOMPARE(r.code, int(LogoBuilder::Ok));
    // Without an output path the package lives in the cache.
    QVERIFY(r.packagePath.startsWith(dir.path() + QStringLiteral("/cache/")));

    const Unpacked u = unpack(r.packagePath, QStringLiteral("logo-x.cramfs.img"), dir.path() + QStringLiteral("/x"));
    QCOMPARE(u.names, (QStringList { QStringLiteral("InstallDesc"), QStringLiteral("logo-x.cramfs.img") }));
    QCOMPARE(u.desc, expectedDescription("cramfs", "HI3520D", "Orvane", QByteArray()));
    const Tool header = run(QStringLiteral("mkimage"), { QStringLiteral("-l"), dir.path() + QStringLiteral("/x/logo-x.cramfs.img") });
    QVERIFY2(header.out.contains("Load Address: 00100000") && header.out.contains("Entry Point:  00140000"),
             header.out.constData());

    const QString fs = writePicture(dir.path(), QStringLiteral("fs.cramfs"), u.image.mid(64));
    const QString root = dir.path() + QStringLiteral("/root");
    const Tool check = run(sbinTool(QStringLiteral("fsck.cramfs")), { QStringLiteral("-v"), QStringLiteral("--extract=") + root, fs });
    QVERIFY2(check.code == 0, check.out.constData());
    QVERIFY2(check.out.contains("bmp_logo.gif"), check.out.constData());
    QCOMPARE(readAll(root + QStringLiteral("/bmp_logo.gif")), picture);
}

void TestLogoBuilder::areaExactlyFullPassesOneByteOverIsRefused()
{
    REQUIRE_TOOLS(QStringLiteral("mkfs.cramfs"), QStringLiteral("mkimage"));
    QTemporaryDir dir;
    const QString path = writePicture(dir.path(), QStringLiteral("logo.bmp"), randomBytes(20000, 3));
    LogoBuilder builder(dir.path() + QStringLiteral("/cache"));
    const QString out = dir.path() + QStringLiteral("/Logo.bin");
    QCOMPARE(builder.build(path, record("HI3520D", "V", std::string(), 0x100000, 0x200000), out).code,
             int(LogoBuilder::Ok));
    // The file system is reused, so the image has the same size every time.
    const Unpacked u = unpack(out, QStringLiteral("logo-x.cramfs.img"), dir.path() + QStringLiteral("/x"));
    const uint32_t imageBytes = uint32_t(u.image.size());
    QVERIFY(imageBytes > 20000);
    QVERIFY(QFile::remove(out));

    const LogoResult exact = builder.build(path, record("HI3520D", "V", std::string(), 0x100000, 0x100000 + imageBytes), out);
    QCOMPARE(exact.code, int(LogoBuilder::Ok));
    QVERIFY(QFile::remove(out));

    const LogoResult over
        = builder.build(path, record("HI3520D", "V", std::string(), 0x100000, 0x100000 + imageBytes - 1), out);
    QCOMPARE(over.code, int(LogoBuilder::OverSize));
    QCOMPARE(over.messageKey, QStringLiteral("Upgrade.OverSize"));
    QVERIFY(over.packagePath.isEmpty());
    QVERIFY2(!QFileInfo::exists(out), "nothing may be left to send");
}

void TestLogoBuilder::largePictureInSmallAreaIsRefused()
{
    REQUIRE_TOOLS(QStringLiteral("mksquashfs"), QStringLiteral("mkimage"));
    QTemporaryDir dir;
    // Random bytes do not compress: 100 KiB cannot fit the 64 KiB squashfs area.
    const QString path = writePicture(dir.path(), QStringLiteral("big.jpg"), randomBytes(100 * 1024, 5));
    const LogoResult r = LogoBuilder(dir.path() + QStringLiteral("/cache")).build(path, record("IPC_S2M"));
    QCOMPARE(r.code, int(LogoBuilder::OverSize));
    QCOMPARE(r.messageKey, QStringLiteral("Upgrade.OverSize"));
    QVERIFY(QDir(dir.path() + QStringLiteral("/cache/packages")).isEmpty());
}

void TestLogoBuilder::fileSystemReuseIsKeyedByContent()
{
    REQUIRE_TOOLS(QStringLiteral("mksquashfs"), QStringLiteral("unsquashfs"), QStringLiteral("mkimage"),
                  QStringLiteral("unzip"));
    QTemporaryDir dir;
    const QString cache = dir.path() + QStringLiteral("/cache");
    LogoBuilder builder(cache);
    const HardwareRecord hw = record("IPC_S2M");
    const QByteArray first = randomBytes(2000, 11), second = randomBytes(2000, 12);
    // Same file name for both pictures: only the content tells them apart.
    const QString path = writePicture(dir.path(), QStringLiteral("logo.jpg"), first);
    const LogoResult a = builder.build(path, hw);
    QCOMPARE(a.code, int(LogoBuilder::Ok));
    const QByteArray packageA = readAll(a.packagePath);
    QVERIFY(!writePicture(dir.path(), QStringLiteral("logo.jpg"), second).isEmpty());
    const LogoResult b = builder.build(path, hw);
    QCOMPARE(b.code, int(LogoBuilder::Ok));
    QVERIFY(a.packagePath != b.packagePath);

    const auto pictureIn = [&](const QByteArray &package, const QString &name) {
        const QString x = dir.path() + QLatin1Char('/') + name;
        QDir().mkpath(x);
        const QString zip = writePicture(x, QStringLiteral("p.zip"), package);
        const Unpacked u = unpack(zip, QStringLiteral("logo-x.squashfs.img"), x);
        const QString fs = writePicture(x, QStringLiteral("fs"), u.image.mid(64));
        run(QStringLiteral("unsquashfs"), { QStringLiteral("-d"), x + QStringLiteral("/root"), fs });
        return readAll(x + QStringLiteral("/root/bmp_logo.jpg"));
    };
    QCOMPARE(pictureIn(packageA, QStringLiteral("a")), first);
    QCOMPARE(pictureIn(readAll(b.packagePath), QStringLiteral("b")), second);

    // The same picture again is packed from the kept file system, and the
    // same picture for a cramfs board gets a file system of its own.
    const QStringList before = QDir(cache + QStringLiteral("/fs")).entryList(QDir::Files);
    QCOMPARE(before.size(), 2);
    const QDateTime made = QFileInfo(cache + QStringLiteral("/fs/") + before.first()).lastModified();
    QCOMPARE(builder.build(path, hw).code, int(LogoBuilder::Ok));
    QCOMPARE(QDir(cache + QStringLiteral("/fs")).entryList(QDir::Files), before);
    QCOMPARE(QFileInfo(cache + QStringLiteral("/fs/") + before.first()).lastModified(), made);
    if (missingTool({ QStringLiteral("mkfs.cramfs") }).isEmpty()) {
        QCOMPARE(builder.build(path, record("HI3520D")).code, int(LogoBuilder::Ok));
        QCOMPARE(QDir(cache + QStringLiteral("/fs")).entryList(QDir::Files).size(), 3);
    }
    // Nothing of the builds' working files is left behind.
    QVERIFY(QDir(cache + QStringLiteral("/work")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void TestLogoBuilder::missingMksquashfsStopsTheBuild()
{
    REQUIRE_TOOLS(QStringLiteral("mkimage"));
    QTemporaryDir dir;
    const QString path = writePicture(dir.path(), QStringLiteral("logo.jpg"), randomBytes(100, 2));
    const QString out = dir.path() + QStringLiteral("/Logo.bin");
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path() + QStringLiteral("/nothing-here")));
    const LogoResult r = LogoBuilder(dir.path() + QStringLiteral("/cache")).build(path, record("IPC_S2M"), out);
    qputenv("PATH", savedPath);
    QCOMPARE(r.code, int(LogoBuilder::SquashfsFailed));
    QCOMPARE(r.messageKey, QStringLiteral("Failed in mksquashfs!"));
    QVERIFY(!QFileInfo::exists(out));
    QVERIFY(QDir(dir.path() + QStringLiteral("/cache/fs")).isEmpty());
}

void TestLogoBuilder::unreadablePictureStopsTheBuild()
{
    QTemporaryDir dir;
    LogoBuilder builder(dir.path() + QStringLiteral("/cache"));
    const LogoResult missing = builder.build(dir.path() + QStringLiteral("/none.jpg"), record("IPC_S2M"));
    QCOMPARE(missing.code, int(LogoBuilder::FileError));
    QVERIFY(!missing.messageKey.isEmpty());
    const LogoResult png = builder.build(dir.path() + QStringLiteral("/logo.png"), record("IPC_S2M"));
    QCOMPARE(png.code, int(LogoBuilder::BadPictureType));
    const QString path = writePicture(dir.path(), QStringLiteral("logo.jpg"), randomBytes(100, 2));
    const LogoResult backwards = builder.build(path, record("HI3520D", "V", "", 0x200000, 0x100000));
    QCOMPARE(backwards.code, int(LogoBuilder::BadArea));
}

void TestLogoBuilder::cacheFolder()
{
    const QByteArray saved = qgetenv("SCOUTRIX_CACHE_DIR");
    qputenv("SCOUTRIX_CACHE_DIR", "/tmp/scoutrix-test-cache");
    QCOMPARE(LogoBuilder::defaultCacheDir(), QStringLiteral("/tmp/scoutrix-test-cache/logo"));
    qunsetenv("SCOUTRIX_CACHE_DIR");
    QCOMPARE(LogoBuilder::defaultCacheDir(),
             QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Scoutrix/logo"));
    QVERIFY(!LogoBuilder::defaultCacheDir().startsWith(QCoreApplication::applicationDirPath()));
    if (!saved.isNull())
        qputenv("SCOUTRIX_CACHE_DIR", saved);

    // Nothing is written beside the program.
    REQUIRE_TOOLS(QStringLiteral("mkfs.cramfs"), QStringLiteral("mkimage"));
    QTemporaryDir dir;
    qputenv("SCOUTRIX_CACHE_DIR", QFile::encodeName(dir.path()));
    const QString path = writePicture(dir.path(), QStringLiteral("logo.bmp"), randomBytes(100, 4));
    const LogoResult r = LogoBuilder().build(path, record("HI3520D"));
    if (saved.isNull())
        qunsetenv("SCOUTRIX_CACHE_DIR");
    else
        qputenv("SCOUTRIX_CACHE_DIR", saved);
    QCOMPARE(r.code, int(LogoBuilder::Ok));
    QVERIFY(r.packagePath.startsWith(dir.path() + QStringLiteral("/logo/packages/")));
    const QString programDir = QCoreApplication::applicationDirPath();
    for (const char *old : { "/Logo", "/LogoTmp", "/Image", "/Logo.bin", "/InstallDesc", "/mksqua.bat" })
        QVERIFY2(!QFileInfo::exists(programDir + QLatin1String(old)), old);
}

void TestLogoBuilder::concurrentBuildsKeepTheirOwnFiles()
{
    REQUIRE_TOOLS(QStringLiteral("mksquashfs"), QStringLiteral("unsquashfs"), QStringLiteral("mkimage"),
                  QStringLiteral("unzip"));
    QTemporaryDir dir;
    LogoBuilder builder(dir.path() + QStringLiteral("/cache"));
    QByteArray pictures[4];
    QString paths[4];
    LogoResult results[4];
    for (int i = 0; i < 4; ++i) {
        pictures[i] = randomBytes(1500, quint32(100 + i));
        paths[i] = writePicture(dir.path(), QStringLiteral("p%1.jpg").arg(i), pictures[i]);
    }
    // Worker threads, as the upgrade page runs its builds.
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back(QThread::create([&, i] { results[i] = builder.build(paths[i], record("IPC_S2M")); }));
        threads.back()->start();
    }
    for (auto &t : threads)
        QVERIFY(t->wait(120000));
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(results[i].code, int(LogoBuilder::Ok));
        const QString x = dir.path() + QStringLiteral("/x%1").arg(i);
        const Unpacked u = unpack(results[i].packagePath, QStringLiteral("logo-x.squashfs.img"), x);
        const QString fs = writePicture(x, QStringLiteral("fs"), u.image.mid(64));
        QCOMPARE(run(QStringLiteral("unsquashfs"), { QStringLiteral("-d"), x + QStringLiteral("/root"), fs }).code, 0);
        QCOMPARE(readAll(x + QStringLiteral("/root/bmp_logo.jpg")), pictures[i]);
    }
}

void TestLogoBuilder::cliBuildsFromOptions()
{
    REQUIRE_TOOLS(QStringLiteral("mkfs.cramfs"), QStringLiteral("mkimage"), QStringLiteral("unzip"));
    QTemporaryDir dir;
    const QString path = writePicture(dir.path(), QStringLiteral("logo.bmp"), randomBytes(3000, 21));
    const QString out = dir.path() + QStringLiteral("/Logo.bin");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SCOUTRIX_CACHE_DIR"), dir.path() + QStringLiteral("/cache"));
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(SCOUTRIX_CLI),
              { QStringLiteral("logo"), QStringLiteral("--picture"), path, QStringLiteral("--hardware-name"),
                QStringLiteral("HI3520D"), QStringLiteral("--vendor"), QStringLiteral("Orvane"), QStringLiteral("--version"),
                QStringLiteral("V1"), QStringLiteral("--start"), QStringLiteral("0x100000"), QStringLiteral("--end"),
                QStringLiteral("1310720"), QStringLiteral("--out"), out });
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    QVERIFY(cli.readAllStandardOutput().contains("cramfs, area 0x100000-0x140000"));
    const Unpacked u = unpack(out, QStringLiteral("logo-x.cramfs.img"), dir.path() + QStringLiteral("/x"));
    QCOMPARE(u.desc, expectedDescription("cramfs", "HI3520D", "Orvane", "V1"));
    // The same bytes as the builder makes for the same record.
    HardwareRecord hw = record("HI3520D", "Orvane", "V1", 0x100000, 0x140000);
    const QString again = dir.path() + QStringLiteral("/again.bin");
    QCOMPARE(LogoBuilder(dir.path() + QStringLiteral("/cache/logo")).build(path, hw, again).code, int(LogoBuilder::Ok));
    const Unpacked v = unpack(again, QStringLiteral("logo-x.cramfs.img"), dir.path() + QStringLiteral("/y"));
    // Past the header's checksum and time stamp: size, addresses, data
    // checksum, type, name and the file system itself.
    QCOMPARE(v.image.mid(12), u.image.mid(12));
}

void TestLogoBuilder::cliRefusals()
{
    QTemporaryDir dir;
    const QString jpg = writePicture(dir.path(), QStringLiteral("big.jpg"), randomBytes(100 * 1024, 22));
    const QString png = writePicture(dir.path(), QStringLiteral("logo.png"), randomBytes(100, 23));
    const QString out = dir.path() + QStringLiteral("/Logo.bin");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SCOUTRIX_CACHE_DIR"), dir.path() + QStringLiteral("/cache"));
    const auto exitOf = [&](const QStringList &args) {
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(SCOUTRIX_CLI), QStringList { QStringLiteral("logo") } + args);
        return cli.waitForFinished(60000) ? cli.exitCode() : -1;
    };
    const QStringList name { QStringLiteral("--hardware-name"), QStringLiteral("HI3520D") };
    QCOMPARE(exitOf(QStringList { QStringLiteral("--picture"), png, QStringLiteral("--out"), out } + name), 2);
    QCOMPARE(exitOf({ QStringLiteral("--picture"), jpg, QStringLiteral("--out"), out }), 2);
    QCOMPARE(exitOf(QStringList { QStringLiteral("--picture"), jpg, QStringLiteral("--out"), out,
                                  QStringLiteral("--device"), QStringLiteral("127.0.0.1") } + name), 2);
    QCOMPARE(exitOf({ QStringLiteral("--picture"), jpg, QStringLiteral("--out"), out, QStringLiteral("--hardware-name"),
                      QString(40, QLatin1Char('N')) }), 2);
    QCOMPARE(exitOf(QStringList { QStringLiteral("--picture"), jpg, QStringLiteral("--out"), out,
                                  QStringLiteral("--end"), QStringLiteral("-1") } + name), 2);
    // A device that cannot be logged in to gets no package (port 9: nothing listens).
    QCOMPARE(exitOf({ QStringLiteral("--picture"), jpg, QStringLiteral("--out"), out, QStringLiteral("--device"),
                      QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QStringLiteral("9"),
                      QStringLiteral("--password"), QStringLiteral("x") }),
             4);
    QCOMPARE(exitOf({ QStringLiteral("--picture"), jpg, QStringLiteral("--out"), out, QStringLiteral("--device"),
                      QStringLiteral("127.0.0.1"), QStringLiteral("--vendor"), QStringLiteral("V") }),
             2);
    QCOMPARE(exitOf(QStringList { QStringLiteral("--picture"), dir.path() + QStringLiteral("/none.jpg"),
                                  QStringLiteral("--out"), out } + name), 6);
    if (missingTool({ QStringLiteral("mkfs.cramfs"), QStringLiteral("mkimage") }).isEmpty()) {
        // 100 KiB of noise in the default 64 KiB area.
        QCOMPARE(exitOf(QStringList { QStringLiteral("--picture"), jpg, QStringLiteral("--out"), out } + name), 1);
        QCOMPARE(exitOf(QStringList { QStringLiteral("--picture"), jpg, QStringLiteral("--out"),
                                      dir.path() + QStringLiteral("/no/such/dir/Logo.bin"), QStringLiteral("--end"),
                                      QStringLiteral("0x800000") } + name), 6);
    }
    QVERIFY(!QFileInfo::exists(out));
}

QTEST_GUILESS_MAIN(TestLogoBuilder)
#include "tst_logobuilder.moc"
