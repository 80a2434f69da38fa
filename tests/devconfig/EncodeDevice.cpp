#include "EncodeDevice.h"

#include <QMutexLocker>

#include <cstring>

#include "FakeNetSdk.h"

namespace testdevice {

namespace {

void noise(void *p, std::size_t size, uint32_t seed)
{
    auto *b = static_cast<uint8_t *>(p);
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = uint8_t(seed >> 16);
    }
}

} // namespace

std::unique_ptr<EncodeDevice> EncodeDevice::typical(int channels)
{
    auto d = std::make_unique<EncodeDevice>();
    std::memset(&d->caps, 0, sizeof d->caps);
    noise(&d->table, sizeof d->table, 7);
    noise(&d->standard, sizeof d->standard, 11);
    noise(&d->info, sizeof d->info, 13);
    std::memset(&d->resolutions, 0, sizeof d->resolutions);

    // Enough for every channel at 1080P + D1, 25 fps, and then some.
    d->caps.setWord(scoutrix::EncodeCaps::PixelRateBudget, channels * (2073600 + 405504) * 25 + 5000000);
    // D1, HD1, CIF, QCIF, VGA, 720P, 1080P, 4M offered on both streams by default.
    const uint32_t offered = 1u << 0 | 1u << 1 | 1u << 3 | 1u << 4 | 1u << 5 | 1u << 11 | 1u << 14 | 1u << 16;
    d->caps.setEntry(scoutrix::EncodeCaps::MainEntry, 1u << 7 | 1u << 8, offered);
    d->caps.setEntry(scoutrix::EncodeCaps::SubEntry, 1u << 7, 0);

    for (int ch = 0; ch < channels; ++ch) {
        setStream(d->table.channel[ch].main, 7, 14, 0, 4, 25, 4096, 50, true, false);
        setStream(d->table.channel[ch].sub, 7, 0, 0, 3, 25, 1024, 50, true, false);
    }
    d->standard.setNtsc(false);
    d->info.setBuildTime(2021, 9, 16, 10, 0, 0);
    return d;
}

void EncodeDevice::install() const
{
    fakesdk::State &s = fakesdk::state();
    QMutexLocker lock(&s.mutex);
    s.configs[scoutrix::CmdEncodeCaps] = fakesdk::bytesOf(caps);
    s.configs[scoutrix::CmdEncodeTable] = fakesdk::bytesOf(table);
    s.configs[scoutrix::CmdVideoStandard] = fakesdk::bytesOf(standard);
    s.configs[scoutrix::CmdDeviceInfo] = fakesdk::bytesOf(info);
    s.configs[scoutrix::CmdResolutionList] = fakesdk::bytesOf(resolutions);
}

scoutrix::DeviceRecord deviceRecord(const char *mac, uint8_t a, uint8_t b, uint8_t c, uint8_t d,
                                    int32_t type, const char *user, const char *password)
{
    const uint8_t ip[4] = {a, b, c, d};
    const scoutrix::SearchRecord found = fakesdk::makeRecord(mac, ip, type);
    scoutrix::DeviceRecord r;
    std::memset(&r, 0, sizeof r);
    r.netInfo = found.net;
    r.devInfo = found.dev;
    r.port = found.net.loginPort();
    scoutrix::setFieldText(r.ipText, found.net.ipText());
    r.setCredentials(user, password);
    return r;
}

} // namespace testdevice
