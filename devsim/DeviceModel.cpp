#include "DeviceModel.h"

#include "LogoBoards.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>

#include "ConfigImage.h"

#include "EncodeTables.h"
#include "Net.h"
#include "Protocol.h"

namespace scoutrix::devsim {

namespace {

struct Resolution
{
    int width, height, ntscHeight;
    const char *pal, *ntsc;
};

// Index order shared with the program's own resolution table.
const Resolution kResolutions[21] = {
    { 704, 576, 480, "D1(704x576)", "D1(704x480)" },
    { 704, 288, 240, "HD1(704x288)", "HD1(704x240)" },
    { 960, 1080, 1080, "H1080(960*1080)", "H1080(960*1080)" },
    { 352, 288, 240, "CIF(352x288)", "CIF(352x240)" },
    { 176, 144, 120, "QCIF(176x144)", "QCIF(176x120)" },
    { 640, 480, 480, "VGA(640x480)", "VGA(640x480)" },
    { 320, 240, 240, "QVGA(320x240)", "QVGA(320x240)" },
    { 960, 1440, 1440, "H3M(960x1440)", "H3M(960x1440)" },
    { 1280, 1440, 1440, "H4M(1280x1440)", "H4M(1280x1440)" },
    { 1280, 1944, 1944, "H5M(1280*1944)", "H5M(1280x1944)" },
    { 928, 576, 576, "960H(928x576)", "960H(928x576)" },
    { 1280, 720, 720, "720P(1280x720)", "720(1280x720)" },
    { 1280, 960, 960, "1.3M(1280x960)", "1.3M(1280x960)" },
    { 1920, 2160, 2160, "H8M(1920x2160)", "H8M(1920x2160)" },
    { 1920, 1080, 1080, "1080P(1920x1080)", "1080P(1920x1080)" },
    { 1920, 1200, 1200, "WUXGA(1920x1200)", "WUXGA(1920x1200)" },
    { 2560, 1440, 1440, "4M(2560x1440)", "4M(2560x1440)" },
    { 1920, 1440, 1440, "3M(1920x1440)", "3M(1920x1440)" },
    { 2560, 1944, 1944, "5M(2560*1944)", "5M(2560*1944)" },
    { 3072, 2048, 2048, "6M(3072x2048)", "6M(3072x2048)" },
    { 3840, 2160, 2160, "8M(3840x2160)", "8M(3840x2160)" },
};

uint32_t bits(std::initializer_list<int> indices)
{
    uint32_t m = 0;
    for (int i : indices)
        m |= 1u << i;
    return m;
}

struct Profile
{
    uint32_t mainMask, subMask, typeMask;
    int mainRes, subRes, encodeType;
    bool shared;
    int bitRatePerChannel; // 0: the device reports no budget of its own
};

Profile profileOf(const DeviceSpec &d)
{
    const uint32_t h264 = bits({ 7 }), modern = bits({ 7, 8, 9, 10 });
    switch (d.type) {
    case 0:
        return { bits({ 0, 1, 2, 3, 10, 11 }), bits({ 3, 4 }), h264, 2, 3, 7, true, 4096 };
    case 1:
        // A 32-bit budget word cannot hold 32 channels of 1080P and VGA at 30 fps.
        return { bits({ 0, 3, 5, 11, 12, 14, 16 }), bits({ 0, 3, 5 }), modern, 14,
            d.channels > 16 ? 3 : 5, 8, false, 8192 };
    case 3:
        return { bits({ 0, 2, 3, 10, 11, 14 }), bits({ 0, 3, 5 }), bits({ 7, 8 }), 11, 3, 8, false,
            4096 };
    default:
        if (d.model.find("5M") != std::string::npos)
            return { bits({ 11, 14, 16, 17, 18 }), bits({ 0, 3, 5, 6 }), modern, 18, 5, 8, false,
                0 };
        if (d.model.find("4M") != std::string::npos)
            return { bits({ 11, 14, 16 }), bits({ 0, 3, 5, 6 }), modern, 16, 5, 8, false, 0 };
        return { bits({ 11, 12, 14 }), bits({ 0, 3, 5, 6 }), modern, 14, 5, 8, false, 0 };
    }
}

static_assert(sizeof(EncodeCaps) == 4692 && sizeof(EncodeTable) == 25344
        && sizeof(VideoStandard) == 192 && sizeof(DeviceInfoRecord) == 408
        && sizeof(ResolutionList) == 1280 && sizeof(NetWithoutLoginRecord) == 144,
    "builtInRecordSize() knows the records' sizes");

template <typename R> std::vector<uint8_t> bytesOf(const R &r)
{
    const auto *p = reinterpret_cast<const uint8_t *>(&r);
    return std::vector<uint8_t>(p, p + sizeof r);
}

void putText(uint8_t *field, std::size_t size, const std::string &text)
{
    writeFixedText(reinterpret_cast<char *>(field), size, text);
}

// "UTC+08:00", the zone a device leaves the factory with.
constexpr int32_t kDefaultZoneIndex = 13;
constexpr int32_t kDefaultZoneMinutesWest = -480;
constexpr int kTimeZones = 33;
// Years the device clock can show.
constexpr int kFirstYear = 1970, kLastYear = 2099;


// The records of the system page: clock, NTP, zone, lights, names, on-screen
// display, services.
void addSystemRecords(const DeviceSpec &d, DeviceModel::Records &records)
{
    SystemTimeRecord clock;
    std::memset(&clock, 0, sizeof clock);
    records[{ CmdSystemTime, -1 }] = bytesOf(clock);

    NtpRecord ntp;
    std::memset(&ntp, 0, sizeof ntp);
    ntp.setEnabled(false);
    ntp.setServer("time.windows.com");
    ntp.setWord(NtpRecord::Port, 123);
    ntp.setWord(NtpRecord::Period, 60);
    ntp.setWord(NtpRecord::ZoneIndex, kDefaultZoneIndex);
    records[{ CmdNtp, -1 }] = bytesOf(ntp);

    TimeZoneRecord zone;
    std::memset(&zone, 0, sizeof zone);
    zone.setWord(TimeZoneRecord::MinutesWest, kDefaultZoneMinutesWest);
    records[{ CmdTimeZone, -1 }] = bytesOf(zone);

    const int lights = lightModesOf(d);
    const CameraFeatures features = cameraFeaturesOf(d);
    if (d.type == 2) {
        // Every camera answers its capabilities; byte 6 = 0 says it has no
        // fill light, and then there is no light record.
        LightCapsRecord caps;
        std::memset(&caps, 0, sizeof caps);
        caps.bytes[0] = features.focus ? 1 : 0;
        caps.bytes[1] = features.wdr ? 1 : 0;
        caps.bytes[LightCapsRecord::ModeMask] = uint8_t(lights);
        records[{ CmdLightCaps, -1 }] = bytesOf(caps);

        std::vector<uint8_t> image(ImageRecordSize, 0);
        image[1] = 25; // day/night switch sensitivity, the middle of 1-50
        image[2] = lights ? 1 : 0; // IR-cut follows the light sensor where there is one
        records[{ CmdImage, 0 }] = image;
        std::vector<uint8_t> exposure(ExposureRecordSize, 0);
        exposure[0] = features.nightExposure ? 1 : 0;
        for (std::size_t block = 0; block < 4; ++block) {
            // Blocks 0 and 1: day and night; 2 and 3: the same with WDR on.
            uint8_t *b = exposure.data() + 4 + 52 * block;
            writeLe32(b + 4, 40000); // exposure limits in microseconds
            writeLe32(b + 8, 1000);
            b[22] = 5; // sensitivity
            b[23] = block >= 2 ? 1 : 0; // back light with WDR
            b[26] = 128; // AE, a signed 16-bit word
            b[32] = block % 2 ? 3 : 0; // noise grade: auto by day, 3 by night
        }
        records[{ CmdExposure, 0 }] = exposure;
    }
    if (lights != 0) {
        LightModeRecord mode;
        std::memset(&mode, 0, sizeof mode);
        mode.bytes[LightModeRecord::Type] = (lights & 1) ? LightModeRecord::Infrared
            : (lights & 2)                                  ? LightModeRecord::FullColor
                                                            : LightModeRecord::Dual;
        mode.bytes[LightModeRecord::LightTime] = 10;
        mode.bytes[LightModeRecord::Brightness] = 100;
        records[{ CmdLightMode, 0 }] = bytesOf(mode);
    }
    if (d.type == 2 && d.audioChannels > 0) {
        // Words 0 and 16 are the device's own (sample rate, bits per sample):
        // read-only, so a record written back from another device shows.
        std::vector<uint8_t> audio(AudioRecordSize, 0);
        writeLe32(audio.data(), 8000);
        writeLe32(audio.data() + 8, 80); // input volume
        writeLe32(audio.data() + 12, 7); // output volume
        writeLe32(audio.data() + 16, 16);
        records[{ CmdAudio, 0 }] = audio;
    }

    ChannelNamesRecord names;
    std::memset(&names, 0, sizeof names);
    for (int ch = 0; ch < d.channels; ++ch) {
        char name[16];
        std::snprintf(name, sizeof name, "CH%02d", ch + 1);
        names.setName(ch, d.type == 2 && d.channels == 1 ? std::string("IPC") : std::string(name));
    }
    records[{ CmdChannelNames, -1 }] = bytesOf(names);

    for (int ch = 0; ch < d.channels; ++ch) {
        OsdRecord osd;
        // Positions and colours nobody on the system page touches; they carry
        // something so a round trip that loses them shows.
        for (std::size_t b = 0; b < sizeof osd.bytes; ++b)
            osd.bytes[b] = uint8_t((b * 7 + std::size_t(ch)) & 0x3f);
        osd.bytes[OsdRecord::ShowName] = 1;
        osd.bytes[OsdRecord::ShowTime] = 1;
        records[{ CmdOsd, ch }] = bytesOf(osd);
    }

    OnvifRecord onvif;
    std::memset(&onvif, 0, sizeof onvif);
    onvif.setWord(OnvifRecord::Enable, d.onvif ? 1 : 0);
    records[{ CmdOnvif, -1 }] = bytesOf(onvif);

    DhcpRecord dhcp;
    std::memset(&dhcp, 0, sizeof dhcp);
    dhcp.setWord(DhcpRecord::Enable, d.dhcp ? 1 : 0);
    records[{ CmdDhcp, -1 }] = bytesOf(dhcp);
}

int64_t hostLocalSeconds()
{
    const std::time_t t = std::time(nullptr);
    std::tm local {};
    localtime_r(&t, &local);
    return int64_t(t) + local.tm_gmtoff;
}

} // namespace

DeviceModel::DeviceModel(DeviceSpec spec)
    : m_spec(std::move(spec))
{
    m_records = defaultRecords(m_spec);
    m_factory = m_records;
    m_factoryIp = m_spec.ip;
    m_factoryMask = m_spec.mask;
    m_factoryGateway = m_spec.gateway;
    m_clockOffset = m_spec.clockOffsetS;
    m_capsNtsc = m_spec.ntsc;
    m_hostClock = hostLocalSeconds;
    for (User &u : m_spec.users) {
        proto::pake::VerifierRecord record;
        if (m_verifiers.count(u.name) > 0)
            continue;
        if (!u.verifier.empty() ? parseVerifier(u.verifier, record)
                                : proto::pake::registerPassword(u.password, u.name, std::string(),
                                      proto::pake::KdfParams(), record)
                    == proto::pake::Error::None) {
            m_verifiers.emplace(u.name, record);
            // Like a real device, it keeps the verifier and forgets the password.
            u.verifier = verifierText(record);
            u.password.clear();
        }
    }
}

int64_t DeviceModel::pixels(int res) const
{
    const auto *list = find(CmdResolutionList, -1);
    if (!list || list->size() != sizeof(ResolutionList) || res < 0
        || res >= ResolutionList::Entries)
        return 0;
    const auto *e = reinterpret_cast<const ResolutionEntry *>(list->data()) + res;
    return int64_t(e->widthValue()) * e->heightValue();
}

DeviceModel::Records DeviceModel::defaultRecords(const DeviceSpec &d)
{
    Records records;
    const Profile p = profileOf(d);
    const int fps = d.ntsc ? 30 : 25;

    ResolutionList list;
    std::memset(&list, 0, sizeof list);
    for (int i = 0; i < 21; ++i) {
        Resolution r = kResolutions[i];
        if (d.type == 2 && i == 17)
            r = { 2304, 1296, 1296, "3M(2304x1296)", "3M(2304x1296)" };
        if (d.type == 2 && i == 18)
            r = { 2592, 1944, 1944, "5M(2592*1944)", "5M(2592*1944)" };
        list.entry[i].set(r.width, d.ntsc ? r.ntscHeight : r.height, d.ntsc ? r.ntsc : r.pal);
    }
    records[{ CmdResolutionList, -1 }] = bytesOf(list);
    auto pixels = [&list](int res) {
        return int64_t(list.entry[res].widthValue()) * list.entry[res].heightValue();
    };

    const int64_t mainPix = pixels(p.mainRes), subPix = pixels(p.subRes);
    EncodeCaps caps;
    std::memset(&caps, 0, sizeof caps);
    // The budget is what every channel at its default settings uses: a
    // channel can only be raised by lowering another.
    const int64_t budget = int64_t(d.channels) * (mainPix + subPix) * fps;
    caps.setWord(EncodeCaps::PixelRateBudget, int32_t(std::min<int64_t>(budget, INT32_MAX)));
    caps.setWord(EncodeCaps::SharedBudget, p.shared ? 1 : 0);
    // Which sub resolutions go with which main resolution; the program's
    // own table says the same, so the two never disagree.
    const ResolutionTable pairs = ResolutionTable::fixed(d.ntsc, d.type);
    for (int ch = 0; ch < d.channels; ++ch) {
        // A camera's limit is for the channel as a whole: the sub stream
        // draws on it too.
        if (d.type == 2)
            caps.setMainPixelLimit(ch, int32_t((mainPix + subPix) * fps));
        caps.setMainResolutionMask(ch, p.mainMask);
        caps.setSubResolutionMask(ch, p.subMask);
        for (int r = 0; r < ResolutionCount; ++r) {
            if (p.mainMask >> r & 1u)
                caps.setSubMaskByMainRes(ch, r, p.subMask & pairs.allowedSub(r));
        }
    }
    caps.setEntry(EncodeCaps::MainEntry, p.typeMask, p.mainMask);
    caps.setEntry(EncodeCaps::SubEntry, p.typeMask & bits({ 7, 8 }), p.subMask);
    // Never below what the channels' own defaults use, or a device of an
    // unusual channel count would refuse its own table written back.
    // A device without a budget of its own is held to the program's default
    // one, so it reports a budget once its defaults outgrow that.
    const int defaultMainBitRate = gradeBitRate(p.mainRes, 3, usesH265Table(p.encodeType));
    const int64_t defaultsUse = int64_t(d.channels) * defaultMainBitRate;
    int64_t bitRateBudget = int64_t(d.channels) * std::max(p.bitRatePerChannel, defaultMainBitRate);
    if (p.bitRatePerChannel == 0)
        bitRateBudget = defaultsUse > EncodeCaps::DefaultBitRateBudget ? defaultsUse : 0;
    caps.setWord(EncodeCaps::BitRateBudget, int32_t(std::min<int64_t>(bitRateBudget, INT32_MAX)));
    records[{ CmdEncodeCaps, -1 }] = bytesOf(caps);

    EncodeTable table;
    std::memset(&table, 0, sizeof table);
    for (int ch = 0; ch < EncodeTable::Channels; ++ch) {
        ChannelEncode &c = table.channel[ch];
        StreamParams *streams[3] = { &c.main, &c.sub, &c.third };
        // Bytes the program leaves alone carry something, so a round trip
        // that loses them shows.
        for (int s = 0; s < 3; ++s) {
            for (std::size_t b = 28; b < 40; ++b)
                streams[s]->bytes[b] = uint8_t(0x40 + ch + s);
            for (std::size_t b = 42; b < 132; ++b)
                streams[s]->bytes[b] = uint8_t(b ^ ch ^ (s << 6));
        }
        if (ch >= d.channels)
            continue;
        const bool audio = ch < d.audioChannels;
        c.main.setEncodeType(p.encodeType);
        c.main.setResolution(p.mainRes);
        c.main.setBitControl(0);
        c.main.setQuality(4);
        c.main.setFrameRate(fps);
        // A device's own default bit rate is one its encode page offers: the
        // grade value of the stream's encode type at the full frame rate.
        c.main.setBitRate(gradeBitRate(p.mainRes, 3, usesH265Table(p.encodeType)));
        c.main.setIFrameInterval(2 * fps);
        c.main.setVideoOn(true);
        c.main.setAudioOn(audio);
        c.sub.setEncodeType(7);
        c.sub.setResolution(p.subRes);
        c.sub.setBitControl(1);
        c.sub.setQuality(3);
        c.sub.setFrameRate(fps);
        c.sub.setBitRate(gradeBitRate(p.subRes, 2, false));
        c.sub.setIFrameInterval(2 * fps);
        c.sub.setVideoOn(true);
        c.sub.setAudioOn(false);
        c.third.setEncodeType(7);
        c.third.setResolution(6);
    }
    records[{ CmdEncodeTable, -1 }] = bytesOf(table);

    VideoStandard standard;
    std::memset(&standard, 0, sizeof standard);
    standard.setNtsc(d.ntsc);
    standard.setLanguage(d.language);
    records[{ CmdVideoStandard, -1 }] = bytesOf(standard);

    DeviceInfoRecord info;
    std::memset(&info, 0, sizeof info);
    putText(info.bytes, 64, d.version);
    putText(info.bytes + 64, 64, d.serial);
    putText(info.bytes + 128, 32, d.model);
    info.setWord(160, d.channels);
    info.setWord(164, d.audioChannels);
    info.setWord(168, d.type);
    info.setBuildTime(d.build[0], d.build[1], d.build[2], d.build[3], d.build[4], d.build[5]);
    putText(info.bytes + 224, 32, "HW-" + std::to_string(d.type) + ".1");
    records[{ CmdDeviceInfo, 0 }] = bytesOf(info);
    records[{ CmdHardware, -1 }] = bytesOf(hardwareRecord(d));

    addSystemRecords(d, records);

    for (const ExtraRecord &r : d.extraRecords) {
        // The fleet refuses these; a record the device itself reads stays whole.
        const std::size_t builtIn = builtInRecordSize(r.command);
        if (builtIn == 0 || r.bytes.size() == builtIn)
            records[{ r.command, r.channel }] = r.bytes;
    }
    return records;
}

NetInfo DeviceModel::netInfo() const
{
    NetInfo n;
    std::memset(&n, 0, sizeof n);
    putText(n.reserved0, sizeof n.reserved0,
        m_spec.model + "-"
            + m_spec.serial.substr(m_spec.serial.size() > 4 ? m_spec.serial.size() - 4 : 0));
    for (int i = 0; i < 4; ++i) {
        n.ip[i] = uint8_t(m_spec.ip >> (24 - 8 * i));
        n.mask[i] = uint8_t(m_spec.mask >> (24 - 8 * i));
        n.gateway[i] = uint8_t(m_spec.gateway >> (24 - 8 * i));
    }
    n.setPortValue(boundPort());
    writeLe32(n.reserved84, 80); // web port
    setFieldText(n.mac, m_spec.mac);
    return n;
}

SearchRecord DeviceModel::searchRecord() const
{
    SearchRecord r;
    std::memset(&r, 0, sizeof r);
    r.net = netInfo();
    putText(r.dev.reserved0, sizeof r.dev.reserved0, m_spec.version);
    setFieldText(r.dev.serial, m_spec.serial);
    setFieldText(r.dev.model, m_spec.model);
    r.dev.setDeviceType(m_spec.type);
    writeLe32(r.dev.reserved164, uint32_t(m_spec.channels));
    return r;
}

LoginInfo DeviceModel::loginBlock() const
{
    LoginInfo b;
    std::memset(&b, 0, sizeof b);
    putText(b.bytes + LoginInfo::VersionText, LoginInfo::VersionTextSize, m_spec.version);
    putText(b.bytes + 64, 64, m_spec.serial);
    putText(b.bytes + 128, 32, m_spec.model);
    b.setWord(LoginInfo::VideoChannelCount, m_spec.channels);
    b.setWord(292, m_spec.channels); // alarm inputs
    b.setWord(296, 1); // alarm outputs
    b.setWord(300, m_spec.type == 2 ? 0 : 1); // disks
    b.setWord(LoginInfo::LoginDeviceType, m_spec.type);
    b.setWord(LoginInfo::AudioChannelCount, m_spec.audioChannels);
    b.setWord(320, 1); // talk channels
    b.setWord(LoginInfo::AllChannelsFlag, 0);
    return b;
}

const proto::pake::VerifierRecord *DeviceModel::verifierOf(const std::string &user) const
{
    const auto it = m_verifiers.find(user);
    return it == m_verifiers.end() ? nullptr : &it->second;
}

int32_t DeviceModel::admitUser(const std::string &user, const std::string &clientAddress,
    int openSessions, Clock::time_point now) const
{
    if (m_spec.faults.busy)
        return proto::SystemBusy;
    if (m_spec.uninitialised)
        return proto::Uninitialised;
    if (std::find(m_spec.blacklist.begin(), m_spec.blacklist.end(), clientAddress)
        != m_spec.blacklist.end())
        return proto::BlackListed;
    if (!verifierOf(user))
        return proto::NoSuchUser;
    if (isLocked(user, clientAddress, now))
        return proto::Locked;
    if (openSessions >= m_spec.maxSessions)
        return proto::InUse;
    return proto::Ok;
}

bool DeviceModel::isLocked(const std::string &user, const std::string &clientAddress, Clock::time_point now) const
{
    const auto it = m_locks.find({user, clientAddress});
    return it != m_locks.end() && now < it->second.lockedUntil;
}

void DeviceModel::wrongPassword(const std::string &user, const std::string &clientAddress, Clock::time_point now)
{
    // Bounded: a flood of made-up user names or addresses must not grow it
    // without end; the oldest-keyed entries without a running lock go first.
    if (m_locks.size() >= 4096) {
        for (auto it = m_locks.begin(); it != m_locks.end();)
            it = now >= it->second.lockedUntil ? m_locks.erase(it) : std::next(it);
    }
    LockState &s = m_locks[{user, clientAddress}];
    // The count stays at the limit while the lock runs, so an attempt that
    // turns out right can take its share of the lock back.
    if (s.failures >= m_spec.lockoutAfter && now >= s.lockedUntil)
        s.failures = 0;
    if (++s.failures >= m_spec.lockoutAfter && now >= s.lockedUntil)
        s.lockedUntil = now + std::chrono::milliseconds(m_spec.lockoutMs);
}

void DeviceModel::withdrawWrongPassword(const std::string &user, const std::string &clientAddress)
{
    const auto it = m_locks.find({user, clientAddress});
    if (it == m_locks.end() || it->second.failures == 0)
        return;
    if (--it->second.failures < m_spec.lockoutAfter)
        it->second.lockedUntil = {};
}

void DeviceModel::rightPassword(const std::string &user, const std::string &clientAddress)
{
    m_locks.erase({user, clientAddress});
}

const std::vector<uint8_t> *DeviceModel::find(int32_t command, int32_t channel) const
{
    for (const int32_t ch : { channel, -1, 0 }) {
        const auto it = m_records.find({ command, ch });
        if (it != m_records.end())
            return &it->second;
    }
    return nullptr;
}

uint8_t DeviceModel::lightModes() const
{
    const auto it = m_records.find({ CmdLightCaps, -1 });
    if (it == m_records.end() || it->second.size() != sizeof(LightCapsRecord))
        return 0;
    return it->second[LightCapsRecord::ModeMask] & 7u;
}

std::vector<uint8_t> DeviceModel::clockRecord() const
{
    std::vector<uint8_t> out = m_records.at({ CmdSystemTime, -1 });
    const std::time_t t = std::time_t(m_hostClock() + m_clockOffset);
    std::tm tm {};
    gmtime_r(&t, &tm);
    SystemTimeRecord r;
    std::memcpy(&r, out.data(), sizeof r);
    r.setWord(SystemTimeRecord::Year, tm.tm_year + 1900);
    r.setWord(SystemTimeRecord::Month, tm.tm_mon + 1);
    r.setWord(SystemTimeRecord::Day, tm.tm_mday);
    r.setWord(SystemTimeRecord::Hour, tm.tm_hour);
    r.setWord(SystemTimeRecord::Minute, tm.tm_min);
    r.setWord(SystemTimeRecord::Second, tm.tm_sec);
    std::memcpy(out.data(), &r, sizeof r);
    return out;
}

int32_t DeviceModel::getConfig(int32_t command, int32_t channel, std::vector<uint8_t> &out) const
{
    switch (command) {
    case CmdNetWithoutLogin: {
        const NetInfo n = netInfo();
        out = bytesOf(n);
        return proto::Ok;
    }
    case CmdSystemTime:
        out = clockRecord();
        return proto::Ok;
    case CmdConfigExport:
        out = exportImage();
        return out.empty() ? int32_t(proto::Fail) : int32_t(proto::Ok);
    case CmdRestoreDefaults:
    case CmdConfigImport:
        return proto::NotSupported; // actions, nothing to read
    case CmdOsd: {
        // One record per channel; a channel the device lacks has none.
        const auto it = m_records.find({ CmdOsd, channel });
        if (it == m_records.end())
            return proto::Fail;
        out = it->second;
        return proto::Ok;
    }
    default:
        break;
    }
    const auto *r = find(command, channel);
    if (!r)
        return proto::NotSupported;
    out = *r;
    return proto::Ok;
}

std::vector<std::pair<int32_t, int32_t>> DeviceModel::imageRecords() const
{
    // The general record first: the encode table is checked against the
    // video standard the image brings.
    std::vector<std::pair<int32_t, int32_t>> keys
        = { { CmdVideoStandard, -1 }, { CmdEncodeTable, -1 }, { CmdChannelNames, -1 } };
    for (int ch = 0; ch < m_spec.channels; ++ch)
        keys.push_back({ CmdOsd, ch });
    for (const int32_t c : { CmdNtp, CmdTimeZone, CmdOnvif, CmdDhcp })
        keys.push_back({ c, -1 });
    if (lightModes() != 0)
        keys.push_back({ CmdLightMode, 0 });
    // A camera's image, exposure and audio settings travel with the rest.
    for (const int32_t c : { CmdImage, CmdExposure, CmdAudio }) {
        if (m_records.count({ c, 0 }))
            keys.push_back({ c, 0 });
    }
    return keys;
}

namespace {

// The model as the device's own records carry it: cut to its field and at a NUL.
std::string modelText(const std::string &model)
{
    return model.substr(0, std::min(model.find('\0'), ConfigImage::ModelBytes - 1));
}

} // namespace

std::vector<uint8_t> DeviceModel::exportImage() const
{
    ConfigImage image;
    image.model = modelText(m_spec.model);
    image.deviceType = m_spec.type;
    image.channels = m_spec.channels;
    for (const auto &key : imageRecords()) {
        const auto it = m_records.find(key);
        if (it != m_records.end())
            image.entries.push_back({ key.first, key.second, it->second });
    }
    std::vector<uint8_t> out;
    image.encode(out);
    return out;
}

std::string DeviceModel::encodeTableRefusal(const EncodeTable &table) const
{
    const auto *capsRecord = find(CmdEncodeCaps, -1);
    if (!capsRecord || capsRecord->size() != sizeof(EncodeCaps))
        return "no encoding capabilities of " + std::to_string(sizeof(EncodeCaps)) + " bytes";
    EncodeCaps caps;
    std::memcpy(&caps, capsRecord->data(), sizeof caps);
    const int maxFps = m_spec.ntsc ? 30 : 25;
    const int64_t bitRateBudget = caps.bitRateBudget();
    auto allowed = [](uint32_t own, uint32_t fallback) { return own != 0 ? own : fallback; };
    int64_t used = 0;
    int64_t mainBitRates = 0;
    for (int ch = 0; ch < m_spec.channels; ++ch) {
        const ChannelEncode &c = table.channel[ch];
        const std::string where = "channel " + std::to_string(ch + 1);
        for (const StreamParams *s : { &c.main, &c.sub }) {
            if (!s->videoOn())
                continue;
            const bool main = s == &c.main;
            const std::string stream = where + (main ? " main" : " sub");
            const int res = s->resolution();
            const int64_t pix = pixels(res);
            if (pix <= 0)
                return stream + ": no such resolution " + std::to_string(res);
            const uint32_t entryTypes = caps.typeMask(main ? EncodeCaps::MainEntry : EncodeCaps::SubEntry);
            const uint32_t types = allowed(entryTypes, caps.typeMask(EncodeCaps::MainEntry));
            if (s->encodeType() < 0 || s->encodeType() >= 32 || !(types >> s->encodeType() & 1u))
                return stream + ": encode type " + std::to_string(s->encodeType()) + " not offered";
            uint32_t mask;
            if (main) {
                mask = allowed(caps.mainResolutionMask(ch), caps.entryResolutionMask(EncodeCaps::MainEntry));
            } else {
                mask = allowed(caps.subResolutionMask(ch),
                    allowed(caps.entryResolutionMask(EncodeCaps::SubEntry),
                        caps.entryResolutionMask(EncodeCaps::MainEntry)));
                if (const uint32_t pair = caps.subMaskByMainRes(ch, c.main.resolution()))
                    mask &= pair;
            }
            if (mask != 0 && !(mask >> res & 1u))
                return stream + ": resolution " + std::to_string(res) + " not in the mask";
            if (s->frameRate() < 1 || s->frameRate() > maxFps)
                return stream + ": frame rate " + std::to_string(s->frameRate());
            if (s->quality() < 1 || s->quality() > QualityGrades)
                return stream + ": quality " + std::to_string(s->quality());
            if (s->bitRate() < 1 || s->bitRate() > bitRateBudget)
                return stream + ": bit rate " + std::to_string(s->bitRate());
            if (main)
                mainBitRates += s->bitRate();
            used += pix * s->frameRate();
        }
    }
    if (mainBitRates > bitRateBudget)
        return "main-stream bit rates " + std::to_string(mainBitRates) + " over the budget of "
            + std::to_string(bitRateBudget);
    if (used > caps.pixelRateBudget())
        return "pixel rate " + std::to_string(used) + " over the budget of "
            + std::to_string(caps.pixelRateBudget());
    return std::string();
}

void DeviceModel::store(const std::pair<int32_t, int32_t> &key, const std::vector<uint8_t> &bytes)
{
    m_records[key] = bytes;
    if (std::find(m_changed.begin(), m_changed.end(), key) == m_changed.end())
        m_changed.push_back(key);
}

int32_t DeviceModel::setConfig(int32_t command, int32_t channel, const std::vector<uint8_t> &data)
{
    m_lastRefusal.clear();
    bool restart = false;
    int32_t r;
    switch (command) {
    case CmdEncodeCaps:
    case CmdDeviceInfo:
    case CmdResolutionList:
    case CmdNetWithoutLogin:
    case CmdLightCaps:
    case CmdConfigExport:
    case CmdHardware:
        return proto::NotSupported; // read-only on this device
    case CmdRestoreDefaults:
        r = restoreDefaults(data, restart);
        break;
    case CmdConfigImport:
        r = importImage(data, restart);
        break;
    default: {
        // The on-screen display is kept per channel, and only for channels
        // the device has.
        const std::vector<uint8_t> *existing = command == CmdOsd
            ? (m_records.count({ CmdOsd, channel }) ? &m_records.at({ CmdOsd, channel }) : nullptr)
            : find(command, channel);
        if (!existing) {
            if (command != CmdOsd)
                return proto::NotSupported;
            m_lastRefusal = "no channel " + std::to_string(channel);
            return proto::Fail;
        }
        if (existing->size() != data.size()) {
            m_lastRefusal = "record of " + std::to_string(data.size()) + " bytes, "
                + std::to_string(existing->size()) + " expected";
            return proto::Fail;
        }
        r = checkRecord(command, *existing, data, restart);
        if (r != proto::Ok)
            return r;
        // Store under the key the record was found by, so a get reads it back.
        for (const auto &kv : m_records) {
            if (&kv.second == existing) {
                store(kv.first, data);
                break;
            }
        }
        break;
    }
    }
    // A moved device answers as if the session were lost; that outweighs a
    // restart it also needs.
    if (r == proto::Ok && (restart || m_spec.faults.needReboot))
        return proto::NeedReboot;
    return r;
}

int32_t DeviceModel::checkRecord(int32_t command, const std::vector<uint8_t> &now,
    const std::vector<uint8_t> &next, bool &restart)
{
    auto refuse = [this](int32_t code, std::string why) {
        m_lastRefusal = std::move(why);
        return code;
    };
    auto flag = [](const uint8_t *p, std::size_t at, bool word) {
        const uint32_t v = word ? readLe32(p + at) : p[at];
        return v <= 1;
    };
    const uint8_t *p = next.data();
    switch (command) {
    case CmdEncodeTable: {
        EncodeTable table;
        std::memcpy(&table, p, sizeof table);
        const std::string why = encodeTableRefusal(table);
        return why.empty() ? int32_t(proto::Ok) : refuse(proto::Fail, why);
    }
    case CmdVideoStandard: {
        GeneralRecord was, will;
        std::memcpy(&was, now.data(), sizeof was);
        std::memcpy(&will, p, sizeof will);
        if (will.videoFormat() < 0 || will.videoFormat() > 1)
            return refuse(proto::Fail, "video format " + std::to_string(will.videoFormat()));
        if (will.language() < 0 || will.language() > 31)
            return refuse(proto::Fail, "language " + std::to_string(will.language()));
        // A new video standard or menu language only takes effect after a restart.
        restart = was.videoFormat() != will.videoFormat() || was.language() != will.language();
        m_spec.ntsc = will.isNtsc();
        m_spec.language = will.language();
        return proto::Ok;
    }
    case CmdSystemTime: {
        SystemTimeRecord t;
        std::memcpy(&t, p, sizeof t);
        const int y = t.word(SystemTimeRecord::Year), mo = t.word(SystemTimeRecord::Month),
                  d = t.word(SystemTimeRecord::Day), h = t.word(SystemTimeRecord::Hour),
                  mi = t.word(SystemTimeRecord::Minute), se = t.word(SystemTimeRecord::Second);
        if (y < kFirstYear || y > kLastYear || !isRealDate(y, mo, d) || h < 0 || h > 23 || mi < 0
            || mi > 59 || se < 0 || se > 59) {
            char text[80];
            std::snprintf(text, sizeof text, "no such time %d-%d-%d %d:%d:%d", y, mo, d, h, mi, se);
            return refuse(proto::Fail, text);
        }
        std::tm tm {};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = se;
        m_clockOffset = int64_t(timegm(&tm)) - m_hostClock();
        return proto::Ok;
    }
    case CmdNtp: {
        NtpRecord n;
        std::memcpy(&n, p, sizeof n);
        const int32_t port = n.word(NtpRecord::Port), period = n.word(NtpRecord::Period),
                      zone = n.word(NtpRecord::ZoneIndex);
        if (!flag(p, NtpRecord::Enable, false))
            return refuse(proto::Fail, "NTP enable byte " + std::to_string(p[NtpRecord::Enable]));
        if (port < 0 || port > 65535 || period < 0 || period > 65535)
            return refuse(proto::Fail, "NTP port " + std::to_string(port) + " or period " + std::to_string(period));
        if (zone < 0 || zone >= kTimeZones)
            return refuse(proto::Fail, "time zone index " + std::to_string(zone));
        if (n.enabled() && (port == 0 || n.server().empty()))
            return refuse(proto::Fail, "NTP on without a server and port");
        return proto::Ok;
    }
    case CmdTimeZone: {
        const int32_t west = int32_t(readLe32(p + TimeZoneRecord::MinutesWest));
        // Zones run from UTC-12:00 to UTC+14:00 in quarter hours.
        if (west < -840 || west > 720 || west % 15 != 0)
            return refuse(proto::Fail, "time zone of " + std::to_string(west) + " minutes");
        return proto::Ok;
    }
    case CmdLightMode: {
        const uint8_t type = p[LightModeRecord::Type];
        if (type > LightModeRecord::Dual)
            return refuse(proto::Fail, "light mode " + std::to_string(type));
        if (!(lightModes() >> type & 1u))
            return refuse(proto::NotSupported, "no light mode " + std::to_string(type) + " on this device");
        if (!flag(p, LightModeRecord::Photosensitive, false) || p[LightModeRecord::FlashMode] > 2
            || p[LightModeRecord::Brightness] > 100 || !flag(p, LightModeRecord::Dimming, false)
            || !flag(p, LightModeRecord::WarmControl, false)
            || !flag(p, LightModeRecord::InfraredControl, false)
            || !flag(p, LightModeRecord::Detection, false))
            return refuse(proto::Fail, "light settings out of range");
        return proto::Ok;
    }
    case CmdImage: {
        const CameraFeatures features = cameraFeaturesOf(m_spec);
        if (p[0] > 2 || p[1] < 1 || p[1] > 50 || p[2] > 1 || p[3] > 1 || p[4] > 1 || p[5] > 1
            || p[6] > 2 || p[7] > 1)
            return refuse(proto::Fail, "image settings out of range");
        if ((p[6] != 0 && !features.focus) || (p[7] != 0 && !features.wdr))
            return refuse(proto::NotSupported, "no focus or WDR on this camera");
        return proto::Ok;
    }
    case CmdExposure:
        for (std::size_t block = 0; block < 4; ++block) {
            const uint8_t *b = p + 4 + 52 * block;
            const int32_t mode = int32_t(readLe32(b));
            const int ae = int16_t(uint16_t(b[26] | b[27] << 8));
            if (mode < 0 || mode > 8 || b[20] > 2 || b[21] > 1 || b[22] < 1 || b[22] > 10 || b[23] > 1
                || ae < 1 || ae > 255 || b[32] > 5)
                return refuse(proto::Fail, "exposure block " + std::to_string(block) + " out of range");
        }
        return proto::Ok;
    case CmdAudio:
        if (readLe32(p) != readLe32(now.data()) || readLe32(p + 16) != readLe32(now.data() + 16))
            return refuse(proto::Fail, "audio words 0 and 16 are the device's own");
        if (readLe32(p + 4) > 1 || readLe32(p + 8) > 100 || readLe32(p + 12) > 10)
            return refuse(proto::Fail, "audio settings out of range");
        return proto::Ok;
    case CmdOsd:
        if (!flag(p, OsdRecord::ShowName, false) || !flag(p, OsdRecord::ShowTime, false))
            return refuse(proto::Fail, "display flags are 0 or 1");
        return proto::Ok;
    case CmdOnvif:
        return flag(p, OnvifRecord::Enable, true) ? int32_t(proto::Ok)
                                                  : refuse(proto::Fail, "Onvif flag is 0 or 1");
    case CmdDhcp:
        return flag(p, DhcpRecord::Enable, true) ? int32_t(proto::Ok)
                                                 : refuse(proto::Fail, "DHCP flag is 0 or 1");
    default:
        return proto::Ok;
    }
}

bool DeviceModel::restoresNetwork(const std::vector<uint8_t> &record)
{
    RestoreDefaultsRecord r;
    if (record.size() != sizeof r)
        return false;
    std::memcpy(&r, record.data(), sizeof r);
    return r.word(4 * RestoreDefaultsRecord::Network) == 1;
}

int32_t DeviceModel::restoreDefaults(const std::vector<uint8_t> &record, bool &restart)
{
    using G = RestoreDefaultsRecord;
    G r;
    if (record.size() != sizeof r) {
        m_lastRefusal = "restore record of " + std::to_string(record.size()) + " bytes";
        return proto::Fail;
    }
    std::memcpy(&r, record.data(), sizeof r);
    for (int g = 0; g < G::Groups; ++g) {
        const int32_t w = r.word(std::size_t(4 * g));
        if (w != 0 && w != 1) {
            m_lastRefusal = "restore word " + std::to_string(g) + " is " + std::to_string(w);
            return proto::Fail;
        }
    }
    auto reset = [this](int32_t command, int32_t channel) {
        const auto it = m_factory.find({ command, channel });
        if (it != m_factory.end() && m_records.count(it->first) && m_records.at(it->first) != it->second)
            store(it->first, it->second);
    };
    if (r.group(G::General)) {
        GeneralRecord was, factory;
        std::memcpy(&was, m_records.at({ CmdVideoStandard, -1 }).data(), sizeof was);
        std::memcpy(&factory, m_factory.at({ CmdVideoStandard, -1 }).data(), sizeof factory);
        restart = was.videoFormat() != factory.videoFormat() || was.language() != factory.language();
        reset(CmdVideoStandard, -1);
        m_spec.ntsc = factory.isNtsc();
        m_spec.language = factory.language();
        reset(CmdTimeZone, -1);
    }
    if (r.group(G::Encode)) {
        // The factory table belongs to the factory standard. After a change
        // of standard the table is built anew, at frame rates both the
        // standard now set and the one the capabilities still follow until
        // the restart allow.
        GeneralRecord factory;
        std::memcpy(&factory, m_factory.at({ CmdVideoStandard, -1 }).data(), sizeof factory);
        if (factory.isNtsc() == m_spec.ntsc && m_capsNtsc == m_spec.ntsc) {
            reset(CmdEncodeTable, -1);
        } else {
            DeviceSpec now = m_spec;
            now.ntsc = m_spec.ntsc && m_capsNtsc;
            store({ CmdEncodeTable, -1 }, defaultRecords(now).at({ CmdEncodeTable, -1 }));
        }
    }
    if (r.group(G::NetService)) {
        reset(CmdOnvif, -1);
        reset(CmdNtp, -1);
    }
    if (r.group(G::GuiDisplay)) {
        reset(CmdChannelNames, -1);
        for (int ch = 0; ch < m_spec.channels; ++ch)
            reset(CmdOsd, ch);
    }
    if (r.group(G::IpcConfig)) {
        reset(CmdLightMode, 0);
        reset(CmdImage, 0);
        reset(CmdExposure, 0);
    }
    // Record, alarm and account settings are not kept by this device; their
    // restore has nothing to do. Accounts in particular keep their passwords.
    if (r.group(G::Network)) {
        reset(CmdDhcp, -1);
        const bool moves = m_spec.ip != m_factoryIp;
        m_spec.ip = m_factoryIp;
        m_spec.mask = m_factoryMask;
        m_spec.gateway = m_factoryGateway;
        // The client loses the device at its old address.
        if (moves)
            return proto::Timeout;
    }
    return proto::Ok;
}

int32_t DeviceModel::importImage(const std::vector<uint8_t> &bytes, bool &restart)
{
    if (bytes.size() > ConfigImage::MaxSize) {
        m_lastRefusal = "image of " + std::to_string(bytes.size()) + " bytes";
        return proto::Fail;
    }
    ConfigImage image;
    std::string why;
    switch (ConfigImage::decode(bytes.data(), bytes.size(), image, why)) {
    case ConfigImage::Error::None:
        break;
    case ConfigImage::Error::Version:
        m_lastRefusal = why;
        return proto::NotSupported;
    default:
        m_lastRefusal = why;
        return proto::Fail;
    }
    if (image.model != modelText(m_spec.model) || image.deviceType != m_spec.type
        || image.channels != m_spec.channels) {
        m_lastRefusal = "image of a " + image.model + " (" + std::to_string(image.channels)
            + " channels), not of this " + m_spec.model;
        return proto::NotSupported;
    }
    if (image.entries.empty()) {
        m_lastRefusal = "image without records";
        return proto::Fail;
    }
    const auto allowed = imageRecords();
    std::vector<std::pair<int32_t, int32_t>> seen;
    // All or nothing: the records are tried on a copy, which replaces the
    // device only when every one of them was taken.
    DeviceModel trial(*this);
    trial.m_spec.faults.needReboot = false;
    for (const ConfigImage::Entry &e : image.entries) {
        const std::pair<int32_t, int32_t> key { e.command, e.channel };
        const std::string what = "record " + std::to_string(e.command) + " channel " + std::to_string(e.channel);
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()
            || std::find(seen.begin(), seen.end(), key) != seen.end()) {
            m_lastRefusal = what + " does not belong in this image";
            return proto::Fail;
        }
        seen.push_back(key);
        const int32_t r = trial.setConfig(e.command, e.channel, e.bytes);
        if (r != proto::Ok && r != proto::NeedReboot) {
            m_lastRefusal = what + ": " + trial.lastRefusal();
            return proto::Fail;
        }
        restart = restart || r == proto::NeedReboot;
    }
    trial.m_spec.faults = m_spec.faults;
    trial.m_lastRefusal.clear();
    *this = std::move(trial);
    return proto::Ok;
}

void DeviceModel::restarted()
{
    if (m_capsNtsc == m_spec.ntsc)
        return;
    m_capsNtsc = m_spec.ntsc;
    const Records fresh = defaultRecords(m_spec);
    for (const int32_t command : { CmdEncodeCaps, CmdResolutionList })
        m_records[{ command, -1 }] = fresh.at({ command, -1 });
    // Frame rates over the new standard's limit come down to it.
    EncodeTable table;
    auto &stored = m_records.at({ CmdEncodeTable, -1 });
    std::memcpy(&table, stored.data(), sizeof table);
    const int maxFps = m_spec.ntsc ? 30 : 25;
    for (ChannelEncode &c : table.channel) {
        for (StreamParams *s : { &c.main, &c.sub, &c.third }) {
            if (s->frameRate() > maxFps)
                s->setFrameRate(maxFps);
        }
    }
    std::vector<uint8_t> clamped = bytesOf(table);
    if (clamped != stored)
        store({ CmdEncodeTable, -1 }, clamped);
}

HardwareRecord DeviceModel::hardwareRecord(const DeviceSpec &d)
{
    HardwareRecord r;
    std::memset(&r, 0, sizeof r);
    const std::string name = hardwareNameOf(d);
    r.setHardwareName(name);
    r.setVersionText("HW-" + std::to_string(d.type) + ".1");
    r.setVendorText("SX Vision");
    // Cramfs boards carry their own area; recorders keep a larger one.
    const uint32_t start = d.type == 2 ? 0x300000 : (d.type == 0 ? 0x380000 : 0x3C0000);
    const uint32_t size = d.type == 2 ? 0x10000 : (d.type == 0 ? 0x20000 : 0x40000);
    const firmware::LogoArea area = firmware::logoAreaOf(name, start, start + size);
    r.setArea(area.start, area.end);
    return r;
}

void DeviceModel::applyFirmware(const std::string &version, const int build[6])
{
    m_spec.version = version;
    for (int i = 0; i < 6; ++i)
        m_spec.build[i] = build[i];
    auto &bytes = m_records[{ CmdDeviceInfo, 0 }];
    DeviceInfoRecord info;
    std::memcpy(&info, bytes.data(), sizeof info);
    putText(info.bytes, 64, version);
    info.setBuildTime(build[0], build[1], build[2], build[3], build[4], build[5]);
    bytes = bytesOf(info);
}

void DeviceModel::restoreRecord(int32_t command, int32_t channel, const std::vector<uint8_t> &bytes)
{
    const auto it = m_records.find({ command, channel });
    if (it == m_records.end() || it->second.size() != bytes.size())
        return;
    store(it->first, bytes);
    if (command == CmdVideoStandard && bytes.size() == sizeof(VideoStandard)) {
        VideoStandard s;
        std::memcpy(&s, bytes.data(), sizeof s);
        m_spec.ntsc = s.isNtsc();
        m_spec.language = s.language();
    }
}

std::string DeviceModel::addressRefusal(uint32_t ip, uint32_t mask, uint32_t gateway)
{
    // No device takes an address nobody could reach it on.
    if ((ip >> 24) == 0 || (ip >> 24) >= 224)
        return "address " + net::ipv4Text(ip) + " cannot be a device's";
    // A mask is ones, then zeros: its complement plus one is a power of two.
    const uint32_t hosts = ~mask;
    if (mask == 0 || (hosts & (hosts + 1)) != 0)
        return "mask " + net::ipv4Text(mask) + " is not contiguous";
    // /31 and /32 have no network or broadcast address of their own.
    const bool hasEnds = hosts > 1;
    if (hasEnds && (ip & hosts) == 0)
        return net::ipv4Text(ip) + " is the network address of its subnet";
    if (hasEnds && (ip & hosts) == hosts)
        return net::ipv4Text(ip) + " is the broadcast address of its subnet";
    // 0.0.0.0 means no gateway.
    if (gateway != 0) {
        if ((gateway & mask) != (ip & mask))
            return "gateway " + net::ipv4Text(gateway) + " is outside the subnet";
        if (gateway == ip)
            return "gateway " + net::ipv4Text(gateway) + " is the device itself";
        if (hasEnds && ((gateway & hosts) == 0 || (gateway & hosts) == hosts))
            return "gateway " + net::ipv4Text(gateway) + " is the network or broadcast address";
    }
    return std::string();
}

int32_t DeviceModel::setNetwork(const std::vector<uint8_t> &record)
{
    m_lastRefusal.clear();
    if (record.size() != sizeof(NetWithoutLoginRecord)) {
        m_lastRefusal = "network record of " + std::to_string(record.size()) + " bytes";
        return proto::Fail;
    }
    NetWithoutLoginRecord n;
    std::memcpy(&n, record.data(), sizeof n);
    auto word = [](const uint8_t *o) {
        return uint32_t(o[0]) << 24 | uint32_t(o[1]) << 16 | uint32_t(o[2]) << 8 | o[3];
    };
    const uint32_t ip = word(n.ip), mask = word(n.mask), gw = word(n.gateway);
    m_lastRefusal = addressRefusal(ip, mask, gw);
    if (!m_lastRefusal.empty())
        return proto::Fail;
    m_spec.ip = ip;
    m_spec.mask = mask;
    m_spec.gateway = gw;
    return proto::Ok;
}

} // namespace scoutrix::devsim
