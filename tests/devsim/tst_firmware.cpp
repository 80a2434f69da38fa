// The firmware file codec: a streamed check reaches the same verdict however
// the bytes are cut, and each kind of damage is told apart.

#include <QtTest>

#include <cstring>

#include <zlib.h>

#include "FirmwareFile.h"

using namespace scoutrix;

namespace {

std::vector<uint8_t> sample(std::size_t payload = 5000)
{
    firmware::Header h;
    h.models = { "SX-IPC-4M", "SX-NVR-8" };
    h.version = "V3.2.1 build 240101";
    std::vector<uint8_t> out;
    std::string why;
    firmware::buildFile(h, firmware::fillerPayload(payload), out, why);
    return out;
}

firmware::Error streamed(const std::vector<uint8_t> &bytes, std::size_t piece)
{
    firmware::Verifier v;
    for (std::size_t i = 0; i < bytes.size(); i += piece) {
        if (!v.feed(bytes.data() + i, std::min(piece, bytes.size() - i)))
            break;
    }
    std::string why;
    return v.finish(why);
}

// The header's CRC made right again after a change inside the header.
void resealHeader(std::vector<uint8_t> &bytes)
{
    const std::size_t length = firmware::FixedHeaderSize + bytes[12] * firmware::ModelFieldSize;
    std::memset(&bytes[136], 0, 4);
    const uint32_t crc = uint32_t(::crc32(0L, bytes.data(), uInt(length)));
    for (int i = 0; i < 4; ++i)
        bytes[136 + std::size_t(i)] = uint8_t(crc >> (8 * i));
}

} // namespace

class TestFirmware : public QObject
{
    Q_OBJECT

private slots:
    void roundTripAndModels()
    {
        const auto bytes = sample();
        firmware::Header h;
        std::string why;
        QCOMPARE(firmware::parseHeader(bytes.data(), bytes.size(), h, why), firmware::Error::None);
        QCOMPARE(h.version, std::string("V3.2.1 build 240101"));
        QVERIFY(h.acceptsModel("SX-NVR-8"));
        QVERIFY(!h.acceptsModel("SX-NVR-8 ")); // exact text only
        QVERIFY(!h.acceptsModel("sx-ipc-4m"));
        QCOMPARE(h.payloadLength, uint64_t(5000));
        // Every cut of the stream gives the same verdict.
        for (const std::size_t piece : { std::size_t(1), std::size_t(3), std::size_t(143),
                 std::size_t(144), std::size_t(209), std::size_t(4096), bytes.size() })
            QCOMPARE(streamed(bytes, piece), firmware::Error::None);
    }

    void damageIsToldApart()
    {
        const auto good = sample();
        auto payload = good;
        payload.back() ^= 1;
        auto header = good;
        header[150] ^= 1; // a model text: the header CRC catches it
        auto shortFile = good;
        shortFile.resize(shortFile.size() - 1);
        auto inHeader = good;
        inHeader.resize(100);
        auto longer = good;
        longer.push_back(0);
        auto version = good;
        version[4] = 2;
        auto count = good;
        count[12] = 65;
        auto text = good;
        std::memcpy(text.data(), "SXFX", 4);
        for (const std::size_t piece : { std::size_t(1), std::size_t(7), std::size_t(1 << 16) }) {
            QCOMPARE(streamed(payload, piece), firmware::Error::Checksum);
            QCOMPARE(streamed(header, piece), firmware::Error::Checksum);
            QCOMPARE(streamed(shortFile, piece), firmware::Error::Truncated);
            QCOMPARE(streamed(inHeader, piece), firmware::Error::Truncated);
            QCOMPARE(streamed(longer, piece), firmware::Error::TrailingBytes);
            QCOMPARE(streamed(version, piece), firmware::Error::Unsupported);
            QCOMPARE(streamed(count, piece), firmware::Error::BadHeader);
            QCOMPARE(streamed(text, piece), firmware::Error::NotFirmware);
        }
    }

    // A header has one encoding: bytes a writer never sets are damage even
    // under a valid CRC, so what a reader accepts it writes back unchanged.
    void headerHasOneEncoding()
    {
        const auto good = sample(10);
        firmware::Header h;
        std::string why;
        QCOMPARE(firmware::parseHeader(good.data(), good.size(), h, why), firmware::Error::None);
        std::vector<uint8_t> again;
        QVERIFY(h.encode(again, why));
        QVERIFY(std::equal(again.begin(), again.end(), good.begin()));
        const std::size_t afterVersion = 16 + h.version.size() + 1;
        const std::size_t afterModel = 144 + 32 + h.models[1].size() + 1;
        for (const std::size_t at : { afterVersion, std::size_t(16 + 63), afterModel, std::size_t(144 + 31),
                 std::size_t(92), std::size_t(95), std::size_t(140), std::size_t(143) }) {
            auto bytes = good;
            bytes[at] = 'x';
            resealHeader(bytes);
            QVERIFY2(firmware::parseHeader(bytes.data(), bytes.size(), h, why) == firmware::Error::BadHeader,
                qPrintable(QString::number(at)));
            QCOMPARE(streamed(bytes, 5), firmware::Error::BadHeader);
        }
    }

    void headersThatCannotBeWritten()
    {
        firmware::Header h;
        std::vector<uint8_t> out;
        std::string why;
        h.version = "V1";
        QVERIFY(!h.encode(out, why)); // no model
        h.models = { std::string(32, 'M') };
        QVERIFY(!h.encode(out, why)); // model over its field
        h.models = { "M" };
        h.version = std::string(64, 'v');
        QVERIFY(!h.encode(out, why));
        h.version = "V1";
        h.build[1] = 2;
        h.build[2] = 30;
        QVERIFY(!h.encode(out, why)); // 30 February
        h.build[2] = 28;
        QVERIFY(h.encode(out, why));
        QCOMPARE(out.size(), std::size_t(176));
    }

    void filesOnDisk()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath("fw.bin").toStdString();
        firmware::Header h;
        h.models = { "SX-DVR-4" };
        h.version = "V1.0";
        std::string why;
        QVERIFY(firmware::writeFile(path, h, firmware::fillerPayload(70000), why));
        firmware::Header read;
        QCOMPARE(firmware::readHeader(path, read, why), firmware::Error::None);
        QCOMPARE(read.models, h.models);
        QCOMPARE(firmware::verifyFile(path, read, why), firmware::Error::None);
        QCOMPARE(firmware::verifyFile(path + ".missing", read, why), firmware::Error::Io);
        QVERIFY(firmware::fillerPayload(100) == firmware::fillerPayload(100));
    }
};

QTEST_APPLESS_MAIN(TestFirmware)
#include "tst_firmware.moc"
