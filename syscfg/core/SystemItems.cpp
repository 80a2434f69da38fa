#include "SystemItems.h"

#include <QFileInfo>
#include <QTextCodec>

#include "CMultiLanguage.h"
#include "ConfigRecords.h"
#include "ResultTexts.h"

namespace scoutrix::syscfg {

bool asksFirst(Item item) { return item == Item::Format || item == Item::Services; }

int operationOf(Item item)
{
    switch (item) {
    case Item::PcTime:
    case Item::ManualTime: return ResultTexts::OpSysTimeSet;
    case Item::Ntp: return ResultTexts::OpNTPSet;
    case Item::Format: return ResultTexts::OpLanguageVideo;
    case Item::Reboot: return ResultTexts::OpReboot;
    case Item::Defaults: return ResultTexts::OpReset;
    case Item::Light: return ResultTexts::OpLightType;
    case Item::ChannelName: return ResultTexts::OpChannelName;
    case Item::Services: return ResultTexts::OpDhcp;
    case Item::Export: return ResultTexts::OpExport;
    case Item::Import: return ResultTexts::OpImport;
    }
    return ResultTexts::OpLogin;
}

namespace {

struct ItemNameRow
{
    Item item;
    const char *name;
};

constexpr ItemNameRow kItemNames[] = {
    { Item::PcTime, "pc-time" },
    { Item::ManualTime, "time" },
    { Item::Ntp, "ntp" },
    { Item::Format, "format" },
    { Item::Reboot, "reboot" },
    { Item::Defaults, "defaults" },
    { Item::Light, "light" },
    { Item::ChannelName, "channel-name" },
    { Item::Services, "services" },
    { Item::Export, "export-config" },
    { Item::Import, "import-config" },
};

} // namespace

QString itemName(Item item)
{
    for (const ItemNameRow &row : kItemNames) {
        if (row.item == item)
            return QString::fromLatin1(row.name);
    }
    return QString();
}

bool itemFromName(const QString &name, Item &out)
{
    for (const ItemNameRow &row : kItemNames) {
        if (name == QLatin1String(row.name)) {
            out = row.item;
            return true;
        }
    }
    return false;
}

const std::array<TimeZoneRow, TimeZoneCount> &timeZones()
{
    // Minutes west of UTC, as the device's time-zone record holds them.
    static const std::array<TimeZoneRow, TimeZoneCount> rows = { {
        { "UTC+00:00", 0 },    { "UTC+01:00", -60 },  { "UTC+02:00", -120 }, { "UTC+03:00", -180 },
        { "UTC+03:30", -210 }, { "UTC+04:00", -240 }, { "UTC+04:30", -270 }, { "UTC+05:00", -300 },
        { "UTC+05:30", -330 }, { "UTC+05:45", -345 }, { "UTC+06:00", -360 }, { "UTC+06:30", -390 },
        { "UTC+07:00", -420 }, { "UTC+08:00", -480 }, { "UTC+09:00", -540 }, { "UTC+09:30", -570 },
        { "UTC+10:00", -600 }, { "UTC+11:00", -660 }, { "UTC+12:00", -720 }, { "UTC+13:00", -780 },
        { "UTC-01:00", 60 },   { "UTC-02:00", 120 },  { "UTC-03:00", 180 },  { "UTC-03:30", 210 },
        { "UTC-04:00", 240 },  { "UTC-05:00", 300 },  { "UTC-06:00", 360 },  { "UTC-07:00", 420 },
        { "UTC-08:00", 480 },  { "UTC-09:00", 540 },  { "UTC-10:00", 600 },  { "UTC-11:00", 660 },
        { "UTC-12:00", 720 },
    } };
    return rows;
}

int timeZoneIndex(const QString &text)
{
    const auto &rows = timeZones();
    for (int i = 0; i < TimeZoneCount; ++i) {
        if (text == QLatin1String(rows[std::size_t(i)].text))
            return i;
    }
    return -1;
}

// The texts are keys the page looks up when it fills its lists.
const QStringList &deviceLanguages()
{
    static const QStringList list = {
        QStringLiteral("English"), QStringLiteral("SimpChinese"),
        QStringLiteral("TradChinese"), QStringLiteral("Italian"),
        QStringLiteral("Spanish"), QStringLiteral("Japanese"),
        QStringLiteral("Russian"), QStringLiteral("French"),
        QStringLiteral("German"), QStringLiteral("Portugal"),
        QStringLiteral("Turkey"), QStringLiteral("Poland"),
        QStringLiteral("Romanian"), QStringLiteral("Hungarian"),
        QStringLiteral("Finnish"), QStringLiteral("Estonian"),
        QStringLiteral("Korean"), QStringLiteral("Farsi"),
        QStringLiteral("Dansk"), QStringLiteral("Thai"),
        QStringLiteral("Greek"), QStringLiteral("Vietnamese"),
        QStringLiteral("Ukrainian"), QStringLiteral("Brazilian"),
        QStringLiteral("Hebrew"), QStringLiteral("Indonesian"),
        QStringLiteral("Arabic"), QStringLiteral("Swedish"),
        QStringLiteral("Czech"), QStringLiteral("Bulgarian"),
        QStringLiteral("Slovakia"), QStringLiteral("Dutch"),
    };
    return list;
}

const QStringList &videoFormats()
{
    static const QStringList list = { QStringLiteral("PAL"), QStringLiteral("NTSC") };
    return list;
}

ClockTime ClockTime::fromDateTime(const QDateTime &t)
{
    ClockTime c;
    const QDate d = t.date();
    const QTime tm = t.time();
    c.year = d.year();
    c.month = d.month();
    c.day = d.day();
    c.hour = tm.hour();
    c.minute = tm.minute();
    c.second = tm.second();
    return c;
}

namespace {

// A whole decimal number within [lo, hi]; blanks around it are allowed,
// anything else in the text is not.
bool numberIn(const QString &text, int lo, int hi, int &out)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace

QString parseNtp(bool enabled, const QString &server, const QString &port, const QString &period,
                 int zoneIndex, NtpSettings &out)
{
    NtpSettings s;
    s.enabled = enabled;
    if (!numberIn(port, 1, 65535, s.port))
        return CMultiLanguage::text(QStringLiteral("The NTP port must be a number from 1 to 65535."));
    if (!numberIn(period, 0, 65535, s.period))
        return CMultiLanguage::text(
            QStringLiteral("The update period must be a number of minutes from 0 to 65535."));
    s.server = server.trimmed();
    if (s.server.isEmpty())
        return CMultiLanguage::text(QStringLiteral("Enter the NTP server's name."));
    for (const QChar c : s.server) {
        const char16_t u = c.unicode();
        // The device keeps the name as Latin-1 bytes; control bytes have no
        // place in a host name.
        if (u > 0xff || u < 0x20 || (u >= 0x7f && u <= 0x9f))
            return CMultiLanguage::text(
                QStringLiteral("The NTP server name holds characters a device cannot take."));
    }
    // The field is 64 bytes and needs its terminator.
    if (s.server.size() >= int(NtpRecord::ServerBytes))
        return CMultiLanguage::text(QStringLiteral("The NTP server name must be shorter than 64 characters."));
    if (zoneIndex < 0 || zoneIndex >= TimeZoneCount)
        return CMultiLanguage::text(QStringLiteral("Choose a time zone from the list."));
    s.zoneIndex = zoneIndex;
    out = s;
    return QString();
}

namespace {

const char *const kGroupNames[RestoreDefaultsRecord::Groups] = {
    "general", "encode", "record", "netservice", "network", "alarm", "", "account", "gui", "ipc",
};

} // namespace

QString defaultGroupName(int group)
{
    if (group < 0 || group >= RestoreDefaultsRecord::Groups)
        return QString();
    return QString::fromLatin1(kGroupNames[group]);
}

int defaultGroupFromName(const QString &name)
{
    if (name.isEmpty())
        return -1;
    for (int g = 0; g < RestoreDefaultsRecord::Groups; ++g) {
        if (name == QLatin1String(kGroupNames[g]))
            return g;
    }
    return -1;
}

namespace {

// Characters no file name may carry on any system the file may travel to,
// and the ones that steer a terminal or reorder text.
bool unsafeInFileName(char16_t c)
{
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f))
        return true;
    switch (c) {
    case '/': case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
    case 0x2028: case 0x2029: case 0x200e: case 0x200f: case 0x061c:
        return true;
    default:
        return (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
    }
}

// A device text has no declared encoding: UTF-8 when it is valid UTF-8,
// else Latin-1, so every byte means something.
QString deviceText(const QByteArray &bytes)
{
    QTextCodec::ConverterState state(QTextCodec::ConvertInvalidToNull);
    const QString utf8 = QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return utf8;
    return QString::fromLatin1(bytes);
}

} // namespace

QString exportFilePath(const QString &directory, const QByteArray &loginInfoText, const QDateTime &now)
{
    QString name;
    const int nul = loginInfoText.indexOf('\0');
    for (const QChar c : deviceText(nul < 0 ? loginInfoText : loginInfoText.left(nul))) {
        if (!unsafeInFileName(c.unicode()))
            name += c;
    }
    name = name.trimmed();
    // Windows drops trailing dots; "." and ".." alone mean folders.
    while (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty())
        name = QStringLiteral("device");

    QString dir = directory;
    dir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    const QString base = dir + QStringLiteral("/Cfg_") + name + now.toString(QStringLiteral("_MM.dd.hh.mm"));
    QString path = base + QStringLiteral(".cfg");
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = base + QLatin1Char('_') + QString::number(n) + QStringLiteral(".cfg");
    return path;
}

} // namespace scoutrix::syscfg
