// The clock, NTP and time zone records on an ONVIF device. The device keeps
// UTC and a POSIX TZ; the records hold local time, a zone index and minutes
// west of UTC.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "ConfigRecords.h"
#include "MapCommon.h"

namespace scoutrix::netsdk::onvifmap {

namespace {

// Minutes west of UTC by zone index, the order the system page lists them.
constexpr int32_t kZoneMinutesWest[] = {
    0,
    -60,
    -120,
    -180,
    -210,
    -240,
    -270,
    -300,
    -330,
    -345,
    -360,
    -390,
    -420,
    -480,
    -540,
    -570,
    -600,
    -660,
    -720,
    -780,
    60,
    120,
    180,
    210,
    240,
    300,
    360,
    420,
    480,
    540,
    600,
    660,
    720,
};
constexpr int32_t kZones = int32_t(sizeof kZoneMinutesWest / sizeof kZoneMinutesWest[0]);

// What ONVIF cannot tell or take: the NTP port and poll period are the
// device's own business.
constexpr int32_t kNtpPort = 123, kNtpPeriodMinutes = 60;

// The zone nearest |minutesWest|; ties go to the lower index.
int32_t zoneIndexOf(int32_t minutesWest)
{
    int32_t best = 0;
    for (int32_t i = 1; i < kZones; ++i) {
        if (std::abs(kZoneMinutesWest[i] - minutesWest)
            < std::abs(kZoneMinutesWest[best] - minutesWest))
            best = i;
    }
    return best;
}

int64_t secondsOf(const onvif::DateTime &t)
{
    std::tm tm {};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    return int64_t(timegm(&tm));
}

onvif::DateTime dateTimeOf(int64_t seconds)
{
    const std::time_t t = std::time_t(seconds);
    std::tm tm {};
    gmtime_r(&t, &tm);
    return { tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec };
}

bool isRealTime(const onvif::DateTime &t)
{
    static const int days[12] = { 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (t.year < 1970 || t.year > 2099 || t.month < 1 || t.month > 12 || t.day < 1
        || t.day > days[t.month - 1] || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59
        || t.second < 0 || t.second > 59)
        return false;
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    return t.month != 2 || t.day <= 28 || leap;
}

int32_t zoneOf(const onvif::SystemDateAndTime &now)
{
    return minutesWestOf(now.timeZone).value_or(0);
}

// The device's local time: as it said, or its UTC moved by its zone.
onvif::DateTime localTimeOf(const onvif::SystemDateAndTime &now)
{
    if (now.local)
        return *now.local;
    if (now.utc)
        return dateTimeOf(secondsOf(*now.utc) - int64_t(zoneOf(now)) * 60);
    return {};
}

// Keeps the device's way of keeping time; only what is given changes.
onvif::SetDateAndTime keeping(const onvif::SystemDateAndTime &now)
{
    onvif::SetDateAndTime set;
    set.ntp = now.ntp;
    set.daylightSavings = now.daylightSavings;
    return set;
}

int32_t sent(const onvif::Reply<onvif::Done> &done)
{
    return done ? doneResult(done->rebootNeeded) : resultFor(done.failure());
}

// The server as the record shows it: a name too long for the field reads
// as none, and then an unchanged record must not clear it.
std::string shownServer(const onvif::NtpSettings &ntp)
{
    if (ntp.servers.empty() || ntp.servers.front().size() >= NtpRecord::ServerBytes)
        return {};
    return ntp.servers.front();
}

int32_t setSystemTime(onvif::DeviceApi &device, const SystemTimeRecord &record)
{
    const onvif::DateTime local { record.word(SystemTimeRecord::Year),
        record.word(SystemTimeRecord::Month), record.word(SystemTimeRecord::Day),
        record.word(SystemTimeRecord::Hour), record.word(SystemTimeRecord::Minute),
        record.word(SystemTimeRecord::Second) };
    if (!isRealTime(local))
        return NETSDK_ERR_FAIL;
    const auto now = device.getSystemDateAndTime();
    if (!now)
        return resultFor(now.failure());
    onvif::SetDateAndTime set = keeping(now.value());
    // A time set by hand is manual time, as on the device's own menu.
    set.ntp = false;
    set.utc = dateTimeOf(secondsOf(local) + int64_t(zoneOf(now.value())) * 60);
    return sent(device.setSystemDateAndTime(set));
}

int32_t setNtp(onvif::DeviceApi &device, const NtpRecord &record)
{
    const uint8_t enable = record.bytes[NtpRecord::Enable];
    const int32_t zone = record.word(NtpRecord::ZoneIndex);
    if (enable > 1 || zone < 0 || zone >= kZones)
        return NETSDK_ERR_FAIL;
    const auto now = device.getSystemDateAndTime();
    if (!now)
        return resultFor(now.failure());
    const auto ntp = device.getNtp();
    if (!ntp)
        return resultFor(ntp.failure());
    // A server on another port cannot be named to an ONVIF device, so that
    // set is refused. The poll period is only a hint for how often to ask:
    // the device keeps its own schedule, and the system page's default of
    // one minute must not make the whole NTP item unusable.
    if (record.word(NtpRecord::Port) != kNtpPort)
        return NETSDK_ERR_NOT_SUPPORTED;

    const std::string server = record.server();
    const std::string oldServer = shownServer(ntp.value());
    const bool on = enable == 1;
    const bool serverChanged = server != oldServer;
    const bool leftWithoutServer = serverChanged ? server.empty() : ntp->servers.empty();
    if (on && leftWithoutServer && !ntp->fromDhcp)
        return NETSDK_ERR_FAIL;
    const int32_t oldZone = zoneIndexOf(zoneOf(now.value()));
    const bool zoneChanged = zone != oldZone;

    bool rebootNeeded = false;
    if (serverChanged) {
        onvif::NtpSettings settings;
        settings.fromDhcp = server.empty() && ntp->fromDhcp;
        if (!server.empty())
            settings.servers.push_back(server);
        const auto done = device.setNtp(settings);
        if (!done)
            return resultFor(done.failure());
        rebootNeeded = done->rebootNeeded;
    }
    if (on != now->ntp || zoneChanged) {
        onvif::SetDateAndTime set = keeping(now.value());
        set.ntp = on;
        if (zoneChanged)
            set.timeZone = posixTimeZone(kZoneMinutesWest[zone]);
        const int32_t r = sent(device.setSystemDateAndTime(set));
        if (r < 0 && r != NETSDK_ERR_NEED_REBOOT)
            return r;
        rebootNeeded = rebootNeeded || r == NETSDK_ERR_NEED_REBOOT;
    }
    return doneResult(rebootNeeded);
}

int32_t setTimeZone(onvif::DeviceApi &device, const TimeZoneRecord &record)
{
    const int32_t west = record.word(TimeZoneRecord::MinutesWest);
    if (west < -840 || west > 720 || west % 15 != 0)
        return NETSDK_ERR_FAIL;
    const auto now = device.getSystemDateAndTime();
    if (!now)
        return resultFor(now.failure());
    if (zoneOf(now.value()) == west)
        return NETSDK_OK;
    onvif::SetDateAndTime set = keeping(now.value());
    set.timeZone = posixTimeZone(west);
    return sent(device.setSystemDateAndTime(set));
}

} // namespace

std::string posixTimeZone(int32_t minutesWest)
{
    const int32_t magnitude = std::abs(minutesWest);
    char text[24];
    if (magnitude % 60 == 0)
        std::snprintf(text, sizeof text, "UTC%s%d", minutesWest < 0 ? "-" : "", magnitude / 60);
    else
        std::snprintf(text, sizeof text, "UTC%s%d:%02d", minutesWest < 0 ? "-" : "", magnitude / 60,
            magnitude % 60);
    return text;
}

std::optional<int32_t> minutesWestOf(const std::string &tz)
{
    std::size_t i = 0;
    if (i < tz.size() && tz[i] == ':')
        return std::nullopt; // a zone file name carries no offset of its own
    if (i < tz.size() && tz[i] == '<') {
        i = tz.find('>');
        if (i == std::string::npos)
            return std::nullopt;
        ++i;
    } else {
        const std::size_t start = i;
        while (i < tz.size() && std::isalpha(uint8_t(tz[i])))
            ++i;
        if (i - start < 3)
            return std::nullopt;
    }
    int sign = 1;
    if (i < tz.size() && (tz[i] == '+' || tz[i] == '-'))
        sign = tz[i++] == '-' ? -1 : 1;
    int parts[3] = { 0, 0, 0 };
    for (int part = 0; part < 3; ++part) {
        if (i >= tz.size() || !std::isdigit(uint8_t(tz[i])))
            return std::nullopt;
        int value = 0;
        for (int digits = 0; i < tz.size() && std::isdigit(uint8_t(tz[i])) && digits < 2; ++digits)
            value = value * 10 + (tz[i++] - '0');
        parts[part] = value;
        if (i >= tz.size() || tz[i] != ':')
            break;
        ++i;
    }
    if (parts[0] > 24 || parts[1] > 59 || parts[2] > 59)
        return std::nullopt;
    return sign * (parts[0] * 60 + parts[1]);
}

int32_t getClock(onvif::DeviceApi &device, int32_t command, void *buffer, int32_t bufferSize,
    int32_t *bytesReturned)
{
    const auto now = device.getSystemDateAndTime();
    if (!now)
        return resultFor(now.failure());
    switch (command) {
    case CmdSystemTime: {
        const onvif::DateTime local = localTimeOf(now.value());
        SystemTimeRecord record;
        zero(record);
        record.setWord(SystemTimeRecord::Year, local.year);
        record.setWord(SystemTimeRecord::Month, local.month);
        record.setWord(SystemTimeRecord::Day, local.day);
        record.setWord(SystemTimeRecord::Hour, local.hour);
        record.setWord(SystemTimeRecord::Minute, local.minute);
        record.setWord(SystemTimeRecord::Second, local.second);
        return putRecord(record, buffer, bufferSize, bytesReturned);
    }
    case CmdNtp: {
        const auto ntp = device.getNtp();
        if (!ntp)
            return resultFor(ntp.failure());
        NtpRecord record;
        zero(record);
        record.setEnabled(now->ntp);
        record.setServer(shownServer(ntp.value()));
        record.setWord(NtpRecord::Port, kNtpPort);
        record.setWord(NtpRecord::Period, kNtpPeriodMinutes);
        record.setWord(NtpRecord::ZoneIndex, zoneIndexOf(zoneOf(now.value())));
        return putRecord(record, buffer, bufferSize, bytesReturned);
    }
    case CmdTimeZone: {
        TimeZoneRecord record;
        zero(record);
        record.setWord(TimeZoneRecord::MinutesWest, zoneOf(now.value()));
        return putRecord(record, buffer, bufferSize, bytesReturned);
    }
    default:
        return NETSDK_ERR_NOT_SUPPORTED;
    }
}

int32_t setClock(onvif::DeviceApi &device, int32_t command, const void *buffer, int32_t size)
{
    switch (command) {
    case CmdSystemTime: {
        SystemTimeRecord record;
        return takeRecord(buffer, size, record) ? setSystemTime(device, record) : NETSDK_ERR_FAIL;
    }
    case CmdNtp: {
        NtpRecord record;
        return takeRecord(buffer, size, record) ? setNtp(device, record) : NETSDK_ERR_FAIL;
    }
    case CmdTimeZone: {
        TimeZoneRecord record;
        return takeRecord(buffer, size, record) ? setTimeZone(device, record) : NETSDK_ERR_FAIL;
    }
    default:
        return NETSDK_ERR_NOT_SUPPORTED;
    }
}

} // namespace scoutrix::netsdk::onvifmap
