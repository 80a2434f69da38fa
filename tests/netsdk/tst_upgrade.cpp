// Firmware and logo upgrades through NetSdk_Upgrade against emulated devices
// on loopback: the callback sequence, each refusal's status, power loss,
// concurrent upgrades and the hardware record the logo builder reads.

#include <QtTest>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#include "ConfigRecords.h"
#include "EmulatorFixture.h"
#include "FirmwareFile.h"
#include "LogoBoards.h"
#include "LogoPackages.h"

using namespace scoutrix;
using devsim::Fleet;

namespace {

struct Call
{
    int32_t status, total, progress;
};

// What one upgrade's callback saw. A call after the final one is counted,
// which the tests require to stay at zero.
struct Recorder
{
    std::mutex mutex;
    std::vector<Call> calls;
    int finals = 0;
    int afterFinal = 0;

    std::vector<Call> snapshot()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    int finalCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return finals;
    }
};

int32_t onProgress(int32_t, int32_t status, int32_t total, int32_t progress, void *user)
{
    auto *r = static_cast<Recorder *>(user);
    std::lock_guard<std::mutex> lock(r->mutex);
    if (r->finals)
        ++r->afterFinal;
    r->calls.push_back(Call { status, total, progress });
    if (progress == -1 || progress == -2)
        ++r->finals;
    return 0;
}

class TempDir
{
public:
    TempDir() { QVERIFY(m_dir.isValid()); }
    std::string file(const char *name) const { return m_dir.filePath(name).toStdString(); }

private:
    QTemporaryDir m_dir;
};

bool writeBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::vector<uint8_t> firmwareBytes(const std::vector<std::string> &models, const std::string &version,
    std::size_t size, const int build[6] = nullptr)
{
    firmware::Header h;
    h.models = models;
    h.version = version;
    if (build)
        std::copy(build, build + 6, h.build);
    std::vector<uint8_t> out;
    std::string why;
    if (!firmware::buildFile(h, firmware::fillerPayload(size), out, why))
        qWarning("%s", why.c_str());
    return out;
}

std::string loginVersion(const devsim::Emulator &e, int index, int32_t *handle = nullptr)
{
    LoginInfo info;
    const int32_t h = fixture::login(e, index, "739204", nullptr, &info);
    if (h <= 0)
        return "<no login>";
    if (handle)
        *handle = h;
    else
        NetSdk_Logout(h);
    return std::string(reinterpret_cast<const char *>(info.bytes));
}

// Runs one upgrade to its final callback; the final status, or 1 when the
// upgrade did not start (then no callback may come).
int32_t runUpgrade(const devsim::Emulator &e, int index, const std::string &path, Recorder &rec,
    int32_t *refusal = nullptr)
{
    const int32_t h = fixture::login(e, index);
    if (h <= 0)
        return 2;
    const int32_t started = NetSdk_Upgrade(h, path.c_str(), 0, onProgress, &rec, 0);
    if (refusal)
        *refusal = netsdk::lastUpgradeRefusal();
    if (!started) {
        NetSdk_Logout(h);
        return 1;
    }
    QElapsedTimer t;
    t.start();
    while (rec.finalCount() == 0 && t.elapsed() < 30000)
        QTest::qWait(20);
    NetSdk_Logout(h);
    const auto calls = rec.snapshot();
    return calls.empty() ? 3 : calls.back().status;
}

} // namespace

class TestUpgrade : public QObject
{
    Q_OBJECT

    static Fleet fleet(int count = 6)
    {
        Fleet f = devsim::generatedFleet(count);
        for (auto &d : f.devices) {
            d.flashMs = 200;
            d.rebootMs = 300;
        }
        return f;
    }

private slots:
    void goodFirmwareIsWrittenAndBootedWithOrderlyCallbacks()
    {
        const Fleet f = fleet(1); // SX-IPC-4M
        auto emu = fixture::start(f);
        QVERIFY(emu);
        TempDir dir;
        const int build[6] = { 2025, 3, 14, 15, 9, 26 };
        const std::string path = dir.file("fw.bin");
        const std::size_t payload = 3 * 1024 * 1024 + 123;
        QVERIFY(writeBytes(path, firmwareBytes({ "SX-NVR-8", f.devices[0].model }, "V9.1.0 build 250314", payload, build)));
        const int32_t fileSize = int32_t(QFileInfo(QString::fromStdString(path)).size());

        Recorder rec;
        QCOMPARE(runUpgrade(*emu, 0, path, rec), int32_t(0));
        QTest::qWait(300); // nothing may follow the final call
        const auto calls = rec.snapshot();
        QCOMPARE(rec.finals, 1);
        QCOMPARE(rec.afterFinal, 0);
        QCOMPARE(calls.back().progress, -1);
        // Transfer reports rise to the file size, device reports rise in
        // percent after them, and the final call ends the sequence.
        int32_t lastSent = 0, lastPercent = -1;
        bool sawDevice = false;
        int transferCalls = 0;
        for (std::size_t i = 0; i + 1 < calls.size(); ++i) {
            const Call &c = calls[i];
            QCOMPARE(c.status, 0);
            if (c.total == -1) {
                sawDevice = true;
                QVERIFY(c.progress > lastPercent && c.progress <= 100);
                lastPercent = c.progress;
            } else {
                QVERIFY(!sawDevice);
                QCOMPARE(c.total, fileSize);
                QVERIFY(c.progress > lastSent && c.progress <= fileSize);
                lastSent = c.progress;
                ++transferCalls;
            }
        }
        QCOMPARE(lastSent, fileSize);
        QVERIFY(sawDevice);
        QVERIFY(transferCalls <= 101);

        // The device reboots into the new firmware.
        QTRY_VERIFY_WITH_TIMEOUT(emu->device(0).rebooting, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(emu->device(0).reachable && !emu->device(0).rebooting, 5000);
        int32_t h = 0;
        QCOMPARE(loginVersion(*emu, 0, &h), std::string("V9.1.0 build 250314"));
        std::vector<uint8_t> rec17(sizeof(DeviceInfoRecord));
        int32_t got = 0;
        QVERIFY(NetSdk_GetConfig(h, CmdDeviceInfo, 0, rec17.data(), int32_t(rec17.size()), &got, 3000) >= 0);
        DeviceInfoRecord info;
        std::memcpy(&info, rec17.data(), sizeof info);
        QCOMPARE(info.buildTimeText(), std::string("2025-03-14 15:09:26"));
        NetSdk_Logout(h);
        QCOMPARE(netsdk::runningUpgrades(), 0);
    }

    void refusalsCarryTheirOwnStatus()
    {
        const Fleet f = fleet(2); // SX-IPC-4M, SX-NVR-4
        auto emu = fixture::start(f);
        QVERIFY(emu);
        TempDir dir;
        const std::string model = f.devices[0].model;
        const auto good = firmwareBytes({ model }, "V2.0", 200000);

        struct Case
        {
            const char *name;
            int device;
            std::vector<uint8_t> bytes;
            int32_t status;
        };
        std::vector<Case> cases;
        cases.push_back({ "model", 1, good, NETSDK_UPGRADE_ERR_MODEL });
        auto damaged = good;
        damaged[damaged.size() / 2] ^= 0x40;
        cases.push_back({ "checksum", 0, damaged, NETSDK_UPGRADE_ERR_CHECKSUM });
        auto header = good;
        header[20] ^= 1; // version text: the header's CRC fails
        cases.push_back({ "header", 0, header, NETSDK_UPGRADE_ERR_CHECKSUM });
        auto cut = good;
        cut.resize(cut.size() - 1000);
        cases.push_back({ "truncated", 0, cut, NETSDK_UPGRADE_ERR_TRUNCATED });
        auto longer = good;
        longer.push_back(0);
        cases.push_back({ "trailing", 0, longer, NETSDK_UPGRADE_ERR_FORMAT });
        cases.push_back({ "text", 0, logopkg::bytesOf("this is not firmware\n"), NETSDK_UPGRADE_ERR_FORMAT });
        cases.push_back({ "tiny", 0, logopkg::bytesOf("SX"), NETSDK_UPGRADE_ERR_FORMAT });

        for (const Case &c : cases) {
            const std::string path = dir.file(c.name);
            QVERIFY(writeBytes(path, c.bytes));
            Recorder rec;
            const int32_t status = runUpgrade(*emu, c.device, path, rec);
            if (status != c.status)
                qWarning("case %s", c.name);
            QCOMPARE(status, c.status);
            QCOMPARE(rec.snapshot().back().progress, -2);
            QCOMPARE(rec.finals, 1);
        }
        // Nothing was written, nothing rebooted.
        QCOMPARE(emu->device(0).version, f.devices[0].version);
        QVERIFY(!emu->device(0).rebooting);

        // Not started: no callback, and the reason is kept for the caller.
        Recorder rec;
        int32_t refusal = 0;
        QCOMPARE(runUpgrade(*emu, 0, dir.file("does-not-exist"), rec, &refusal), int32_t(1));
        QCOMPARE(refusal, int32_t(-10001));
        QCOMPARE(NetSdk_Upgrade(424242, dir.file("model").c_str(), 0, onProgress, &rec, 0), 0);
        QCOMPARE(netsdk::lastUpgradeRefusal(), int32_t(-10002));
        const int32_t h = fixture::login(*emu, 0);
        QCOMPARE(NetSdk_Upgrade(h, dir.file("model").c_str(), 0, onProgress, &rec, 7), 0);
        QCOMPARE(netsdk::lastUpgradeRefusal(), int32_t(NETSDK_UPGRADE_ERR_TYPE));
        NetSdk_Logout(h);
        QVERIFY(rec.snapshot().empty());
    }

    void powerLossBringsTheOldFirmwareBack()
    {
        Fleet f = fleet(1);
        f.devices[0].faults.powerLossAtPercent = 50;
        auto emu = fixture::start(f);
        QVERIFY(emu);
        TempDir dir;
        const std::string path = dir.file("fw.bin");
        QVERIFY(writeBytes(path, firmwareBytes({ f.devices[0].model }, "V7.7.7", 100000)));
        Recorder rec;
        // The session goes with the power before any final status.
        QCOMPARE(runUpgrade(*emu, 0, path, rec), int32_t(-10003));
        const auto calls = rec.snapshot();
        QCOMPARE(calls.back().progress, -2);
        for (const Call &c : calls) {
            if (c.total == -1)
                QVERIFY(c.progress < 50);
        }
        QTRY_VERIFY_WITH_TIMEOUT(emu->device(0).reachable && !emu->device(0).rebooting, 5000);
        QCOMPARE(loginVersion(*emu, 0), f.devices[0].version);
    }

    void aSecondConcurrentUpgradeIsRefused()
    {
        Fleet f = fleet(1);
        f.devices[0].flashMs = 1500;
        auto emu = fixture::start(f);
        QVERIFY(emu);
        TempDir dir;
        const std::string path = dir.file("fw.bin");
        QVERIFY(writeBytes(path, firmwareBytes({ f.devices[0].model }, "V8.0", 2 << 20)));
        const int32_t a = fixture::login(*emu, 0);
        const int32_t b = fixture::login(*emu, 0);
        QVERIFY(a > 0 && b > 0);
        Recorder first, second;
        QVERIFY(NetSdk_Upgrade(a, path.c_str(), 0, onProgress, &first, 0) != 0);
        // The same handle cannot run two, nor can another session.
        QCOMPARE(NetSdk_Upgrade(a, path.c_str(), 0, onProgress, &second, 0), 0);
        QCOMPARE(netsdk::lastUpgradeRefusal(), int32_t(NETSDK_UPGRADE_ERR_BUSY));
        QCOMPARE(NetSdk_Upgrade(b, path.c_str(), 0, onProgress, &second, 0), 0);
        QCOMPARE(netsdk::lastUpgradeRefusal(), int32_t(NETSDK_UPGRADE_ERR_BUSY));
        QTRY_COMPARE_WITH_TIMEOUT(first.finalCount(), 1, 20000);
        QCOMPARE(first.snapshot().back().progress, -1);
        QVERIFY(second.snapshot().empty());
        NetSdk_Logout(a);
        NetSdk_Logout(b);
        QTRY_VERIFY_WITH_TIMEOUT(emu->device(0).reachable && !emu->device(0).rebooting, 5000);
        QCOMPARE(loginVersion(*emu, 0), std::string("V8.0"));
    }

    void hardwareRecordFollowsTheBoardLists()
    {
        const Fleet f = fleet(6);
        auto emu = fixture::start(f);
        QVERIFY(emu);
        bool large = false, small = false, plain = false, cramfs = false;
        for (int i = 0; i < 6; ++i) {
            const int32_t h = fixture::login(*emu, i);
            QVERIFY(h > 0);
            HardwareRecord r;
            std::memset(&r, 0xee, sizeof r);
            int32_t got = 0;
            QCOMPARE(NetSdk_GetConfig(h, CmdHardware, -1, &r, int32_t(sizeof r), &got, 4000), int32_t(0));
            QCOMPARE(got, int32_t(200));
            QCOMPARE(NetSdk_SetConfig(h, CmdHardware, -1, &r, int32_t(sizeof r), 3000), int32_t(-3));
            NetSdk_Logout(h);
            const std::string name = r.hardwareName();
            QVERIFY(!name.empty());
            QCOMPARE(r.vendorText(), std::string("SX Vision"));
            const auto area = firmware::logoAreaOf(name, r.areaStart(), r.areaEnd());
            QCOMPARE(area.start, r.areaStart()); // the record agrees with the board rule
            QCOMPARE(area.end, r.areaEnd());
            if (firmware::logoFileSystemOf(name) == firmware::LogoFileSystem::Cramfs) {
                cramfs = true;
                QVERIFY(r.areaEnd() > r.areaStart());
            } else if (area.size() == 0x40000) {
                large = true;
            } else if (area.start == 0x7A0000) {
                small = true;
            } else {
                plain = area.start == 0x790000 && area.end == 0x7A0000;
            }
        }
        QVERIFY(large && small && plain && cramfs);
    }

    void logoPackagesAreCheckedBeforeTheyAreWritten()
    {
        const Fleet f = fleet(3); // QRX52 (squashfs, large), NVR (cramfs), YMC06 (squashfs, small)
        auto emu = fixture::start(f);
        QVERIFY(emu);
        TempDir dir;
        const std::string sq = devsim::hardwareNameOf(f.devices[0]);
        const std::string cr = devsim::hardwareNameOf(f.devices[1]);
        const std::string smallBoard = devsim::hardwareNameOf(f.devices[2]);
        const std::string cramMagic("\x45\x3d\xcd\x28", 4);
        auto package = [&](const char *name, const std::string &hardware, const std::vector<uint8_t> &image,
                           const std::string &imageName = "logo-x.squashfs.img", bool withImage = true) {
            std::vector<logopkg::Entry> e { { "InstallDesc", logopkg::bytesOf(logopkg::installDesc(imageName, hardware)) } };
            if (withImage)
                e.push_back({ imageName, image });
            const std::string path = dir.file(name);
            return logopkg::writeZip(path, e) ? path : std::string();
        };
        auto badData = logopkg::legacyImage("hsqs", 4096);
        badData[2000] ^= 1;
        auto badHeader = logopkg::legacyImage("hsqs", 4096);
        badHeader[40] ^= 1;
        struct Case
        {
            int device;
            std::string path;
            int32_t status;
        };
        const std::vector<Case> cases = {
            { 0, package("hw", cr, logopkg::legacyImage("hsqs", 4096)), NETSDK_UPGRADE_ERR_LOGO_HARDWARE },
            { 0, package("dcrc", sq, badData), NETSDK_UPGRADE_ERR_LOGO_IMAGE },
            { 0, package("hcrc", sq, badHeader), NETSDK_UPGRADE_ERR_LOGO_IMAGE },
            { 0, package("fs", sq, logopkg::legacyImage(cramMagic, 4096)), NETSDK_UPGRADE_ERR_LOGO_FILESYSTEM },
            { 0, package("nofs", sq, logopkg::legacyImage("abcd", 4096)), NETSDK_UPGRADE_ERR_LOGO_FILESYSTEM },
            { 2, package("big", smallBoard, logopkg::legacyImage("hsqs", 0x10000 + 1)), NETSDK_UPGRADE_ERR_LOGO_SIZE },
            { 0, package("noimg", sq, {}, "logo-x.squashfs.img", false), NETSDK_UPGRADE_ERR_LOGO_PACKAGE },
        };
        for (const Case &c : cases) {
            QVERIFY(!c.path.empty());
            Recorder rec;
            QCOMPARE(runUpgrade(*emu, c.device, c.path, rec), c.status);
        }
        std::vector<uint8_t> junk = logopkg::bytesOf("PK\x03\x04 but no zip at all");
        QVERIFY(writeBytes(dir.file("junk"), junk));
        Recorder junkRec;
        QCOMPARE(runUpgrade(*emu, 0, dir.file("junk"), junkRec), int32_t(NETSDK_UPGRADE_ERR_LOGO_PACKAGE));
        QVERIFY(emu->device(0).logo.empty());

        // Valid packages: exactly the area fits; a cramfs board takes cramfs.
        Recorder a, b;
        QCOMPARE(runUpgrade(*emu, 2, package("fits", smallBoard, logopkg::legacyImage("hsqs", 0x10000)), a), int32_t(0));
        QCOMPARE(runUpgrade(*emu, 1,
                     package("cram", cr, logopkg::legacyImage(cramMagic, 8192), "logo-x.cramfs.img"), b),
            int32_t(0));
        QVERIFY(QString::fromStdString(emu->device(2).logo).startsWith("squashfs 65536 "));
        QVERIFY(QString::fromStdString(emu->device(1).logo).startsWith("cramfs 8192 "));
        // A logo changes no firmware.
        QCOMPARE(emu->device(1).version, f.devices[1].version);
        QCOMPARE(emu->device(2).version, f.devices[2].version);
    }

    void writtenFirmwareSurvivesAnEmulatorRestart()
    {
        TempDir dir;
        const std::string state = dir.file("state.json");
        const Fleet f = fleet(1);
        {
            auto emu = fixture::start(f, state);
            QVERIFY(emu);
            const std::string path = dir.file("fw.bin");
            QVERIFY(writeBytes(path, firmwareBytes({ f.devices[0].model }, "V5.5.5", 5000)));
            Recorder rec;
            QCOMPARE(runUpgrade(*emu, 0, path, rec), int32_t(0));
        }
        auto emu = fixture::start(f, state);
        QVERIFY(emu);
        QCOMPARE(loginVersion(*emu, 0), std::string("V5.5.5"));
    }
};

QTEST_APPLESS_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
