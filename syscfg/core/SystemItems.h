#pragma once
// What one item of the system page sends, decided without a window: the
// option lists, the checks made before anything is sent, and the settings a
// batch carries to every device. The page and scoutrix-cli both fill an
// ItemRequest and hand it to SystemBatch.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

namespace scoutrix::syscfg {

enum class Item {
    PcTime,      // device clock from the PC's clock, read again for every device
    ManualTime,  // device clock from a typed date and time
    Ntp,         // NTP and time zone
    Format,      // video format and device language (asks first)
    Reboot,
    Defaults,    // restore defaults of chosen groups
    Light,       // light mode
    ChannelName, // first channel's name and its OSD flags
    Services,    // Onvif and DHCP (asks first)
    Export,      // configuration image of the first device that logs in
    Import,      // configuration image into every device
};

// Items that log every device in, ask one question, then apply.
bool asksFirst(Item item);
// The operation id a device's result is recorded under (the login step is
// always ResultTexts::OpLogin; Services: DHCP, its last step; Defaults:
// OpReset, or OpResetWithNetwork for a -10005 answer with the network group).
int operationOf(Item item);
// The CLI's name of an item ("pc-time", "ntp", ...), and back; false if unknown.
QString itemName(Item item);
bool itemFromName(const QString &name, Item &out);

// The 33 time zones, in list order: text and minutes west of UTC.
struct TimeZoneRow
{
    const char *text;
    int32_t minutesWest;
};
constexpr int TimeZoneCount = 33;
constexpr int DefaultTimeZone = 13; // "UTC+08:00"
const std::array<TimeZoneRow, TimeZoneCount> &timeZones();
// Index of a zone text such as "UTC+05:45"; -1 when it is not in the list.
int timeZoneIndex(const QString &text);

// Device languages (32) and video formats (2), value = index. The texts are
// the list's language keys.
const QStringList &deviceLanguages();
const QStringList &videoFormats();

struct ClockTime
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    static ClockTime fromDateTime(const QDateTime &t);
};

struct NtpSettings
{
    bool enabled = true;
    QString server = QStringLiteral("time.windows.com");
    int port = 123;
    int period = 1;             // minutes, 0 to 65535
    int zoneIndex = DefaultTimeZone;
};

// Reads the page's NTP texts. Returns an empty string when they are sound,
// else the message to show, and nothing may be sent: a port outside 1 to
// 65535, a period outside 0 to 65535, text that is not a number, a server
// that is empty, not Latin-1, holds control bytes, or is 64 bytes or longer.
QString parseNtp(bool enabled, const QString &server, const QString &port, const QString &period,
                 int zoneIndex, NtpSettings &out);

struct LightSettings
{
    uint8_t type = 0;           // LightModeRecord::Type
    uint8_t photosensitive = 0; // 0 hard, 1 soft
    uint8_t flashMode = 0;
    uint8_t lightTime = 10;     // 10 to 30
    uint8_t brightness = 100;   // 0 to 100
    uint8_t dimming = 0;
    uint8_t warmControl = 0;
    uint8_t infraredControl = 0;
    uint8_t detection = 0;
};

struct ChannelNameSettings
{
    QString name;
    bool showName = true;
    bool showTime = true;
};

struct ServiceSettings
{
    bool onvif = true;
    bool dhcp = false;
};

// Everything one batch sends. Only the members of its item are read.
struct ItemRequest
{
    Item item = Item::PcTime;
    ClockTime manualTime;                  // ManualTime
    NtpSettings ntp;                       // Ntp
    int videoFormat = 0;                   // Format
    int language = 0;                      // Format
    std::array<bool, 10> groups {};        // Defaults, by RestoreDefaultsRecord::Group
    LightSettings light;                   // Light
    ChannelNameSettings channel;           // ChannelName
    ServiceSettings services;              // Services
    QString exportDirectory;               // Export: "\\" already read as "/"
    QByteArray importImage;                // Import: at most ConfigImageMax bytes
    QString importFile;                    // Import: for the activity log
};

// The scoutrix-cli names of the restore-defaults groups ("general", "encode",
// "record", "netservice", "network", "alarm", "account", "gui", "ipc"), by
// RestoreDefaultsRecord::Group; empty for the word without a group.
QString defaultGroupName(int group);
// -1 when the name is not a group's.
int defaultGroupFromName(const QString &name);

// Export file name: <dir>/Cfg_<name>_MM.dd.hh.mm.cfg, where <name> is the
// text at the start of the device's login block with path separators,
// control characters and other characters unsafe in a file name dropped. When
// that file exists already, "_2", "_3", ... is put before the extension.
QString exportFilePath(const QString &directory, const QByteArray &loginInfoText, const QDateTime &now);

} // namespace scoutrix::syscfg
