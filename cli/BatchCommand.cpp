// scoutrix-cli batch: the system page's items over many devices, through the
// same engine as the page. The command line is the user's answer to the
// page's question, so the items that ask first are confirmed here.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QTextCodec>

#include "CliSupport.h"
#include "ConfigRecords.h"
#include "Net.h"
#include "ResultTexts.h"
#include "SystemBatch.h"
#include "SystemItems.h"

namespace scoutrix::cli {

const char *const kBatchUsage
    = "batch ITEM [options] (--all | DEVICE...): one item of the system page on every device\n"
      "  named (an IP or a MAC text, any case) or on every device the search finds (--all).\n"
      "  The devices are searched for first (--timeout, --discovery as for search); a DEVICE\n"
      "  no device answers for is an error before anything is sent. Each device is logged in\n"
      "  on its own (--user, --password as for login), at most --jobs N at once (default 8).\n"
      "  format and services ask nothing: the command is the answer; they go to no device\n"
      "  when any device cannot log in. --json prints [{\"ip\", \"mac\", \"code\", \"text\"}].\n"
      "  pc-time                             the PC's clock\n"
      "  time --at \"YYYY-MM-DD hh:mm:ss\"\n"
      "  ntp [--server S] [--port P] [--period MIN] [--zone UTC+08:00] [--off]\n"
      "                                      defaults time.windows.com, 123, 1, UTC+08:00\n"
      "  format --video PAL|NTSC --language NAME   (English, SimpChinese, ..., Dutch)\n"
      "  reboot\n"
      "  defaults --groups G,...             general, encode, record, netservice, network,\n"
      "                                      alarm, account, gui, ipc, or all\n"
      "  light --mode infrared|fullcolor|dual [--photosensitive hard|soft]\n"
      "        [--flash infrared|fullcolor|dual] [--light-time 10..30] [--brightness 0..100]\n"
      "        [--dimming on|off] [--warm high|low] [--infrared high|low]\n"
      "        [--detection conventional|unconventional]\n"
      "                                      defaults hard, infrared, 10, 100, off, high, high,\n"
      "                                      conventional\n"
      "  channel-name --name N [--show-name on|off] [--show-time on|off]   (defaults on, on)\n"
      "  services --onvif on|off --dhcp on|off\n"
      "  export-config --dir D               the first device that logs in, to D/Cfg_*.cfg\n"
      "  import-config FILE                  at most the file's first 65536 bytes\n"
      "  upgrade --file F [--type 0|1|2] [--jobs N] [--comeback S]\n"
      "                                      firmware (or a .jpg/.bmp/.gif boot logo) to each\n"
      "                                      device, at most N at once (default 4); each is\n"
      "                                      verified after its reboot, within S s (default\n"
      "                                      300). --json adds \"version\", the one read back\n"
      "batch exit codes: 0 every device ok; 4 only logins failed; 6 the export file could\n"
      "  not be written; 1 any other failure; 3 a DEVICE not found; 2 usage.\n";

namespace {

using namespace scoutrix::syscfg;

// Options each item takes beyond the shared ones.
const std::map<std::string, std::set<std::string>> &itemOptions()
{
    static const std::map<std::string, std::set<std::string>> m = {
        { "pc-time", {} },
        { "time", { "at" } },
        { "ntp", { "server", "port", "period", "zone", "off" } },
        { "format", { "video", "language" } },
        { "reboot", {} },
        { "defaults", { "groups" } },
        { "light", { "mode", "photosensitive", "flash", "light-time", "brightness", "dimming", "warm", "infrared",
                     "detection" } },
        { "channel-name", { "name", "show-name", "show-time" } },
        { "services", { "onvif", "dhcp" } },
        { "export-config", { "dir" } },
        { "import-config", {} },
    };
    return m;
}

// One of |choices| (case-insensitive), as its index; |fallback| when the
// option is absent; -1 for anything else.
int choice(const Args &a, const std::string &key, const QStringList &choices, int fallback)
{
    if (!a.has(key))
        return fallback;
    const QString v = QString::fromLocal8Bit(a.get(key).c_str());
    for (int i = 0; i < choices.size(); ++i) {
        if (v.compare(choices.at(i), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int badChoice(const std::string &key, const QStringList &choices)
{
    return fail(ExitUsage, "--" + key + " takes " + choices.join(QLatin1Char('|')).toStdString());
}

// The image file of import-config: a regular file, opened without blocking so
// a FIFO or a device named by mistake is refused instead of waited on; at most
// its first ConfigImageMax bytes.
int readImageFile(const std::string &path, QByteArray &out)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(ExitFile, "cannot read " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(ExitFile, path + " is not a regular file");
    }
    out.resize(ConfigImageMax);
    int got = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(fd, out.data() + got, std::size_t(out.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const std::string why = std::strerror(errno);
            ::close(fd);
            return fail(ExitFile, "cannot read " + path + ": " + why);
        }
        if (n == 0)
            break;
        got += int(n);
    }
    ::close(fd);
    out.resize(got);
    if (out.isEmpty())
        return fail(ExitFile, path + " is empty");
    if (st.st_size > ConfigImageMax)
        std::cerr << "scoutrix-cli: " << path << " is longer than " << ConfigImageMax
                  << " bytes; its first " << ConfigImageMax << " are sent\n";
    return ExitOk;
}

// Reads the item's options into |req|; ExitOk or the exit code of the refusal.
int readItem(const Args &a, const std::string &name, ItemRequest &req, std::size_t &firstDevice)
{
    if (!itemFromName(QString::fromStdString(name), req.item))
        return fail(ExitUsage, "unknown batch item " + name + "\n" + kBatchUsage);
    static const std::set<std::string> shared = { "discovery", "timeout", "user", "password", "jobs", "json", "all" };
    const std::set<std::string> &own = itemOptions().at(name);
    for (const auto &kv : a.options) {
        if (!shared.count(kv.first) && !own.count(kv.first))
            return fail(ExitUsage, "batch " + name + " takes no option --" + kv.first);
    }
    const QStringList onOff = { QStringLiteral("off"), QStringLiteral("on") };
    firstDevice = 2;
    switch (req.item) {
    case Item::PcTime:
    case Item::Reboot:
        break;
    case Item::ManualTime: {
        const QDateTime t
            = QDateTime::fromString(QString::fromStdString(a.get("at")), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!t.isValid())
            return fail(ExitUsage, "time needs --at \"YYYY-MM-DD hh:mm:ss\"");
        req.manualTime = ClockTime::fromDateTime(t);
        break;
    }
    case Item::Ntp: {
        const NtpSettings defaults;
        const QString zone = QString::fromStdString(a.get("zone", timeZones()[DefaultTimeZone].text));
        const int zoneIndex = timeZoneIndex(zone.toUpper());
        if (zoneIndex < 0)
            return fail(ExitUsage, "--zone takes a zone such as UTC+08:00, UTC+05:45 or UTC-03:30");
        const QString server
            = a.has("server") ? QString::fromLocal8Bit(a.get("server").c_str()) : defaults.server;
        const QString message = parseNtp(!a.has("off"), server,
                                         QString::fromStdString(a.get("port", std::to_string(defaults.port))),
                                         QString::fromStdString(a.get("period", std::to_string(defaults.period))),
                                         zoneIndex, req.ntp);
        if (!message.isEmpty())
            return fail(ExitUsage, message.toStdString());
        break;
    }
    case Item::Format:
        if (!a.has("video") || !a.has("language"))
            return fail(ExitUsage, "format needs --video PAL|NTSC and --language NAME");
        req.videoFormat = choice(a, "video", videoFormats(), -1);
        if (req.videoFormat < 0)
            return badChoice("video", videoFormats());
        req.language = choice(a, "language", deviceLanguages(), -1);
        if (req.language < 0)
            return badChoice("language", deviceLanguages());
        break;
    case Item::Defaults: {
        if (!a.has("groups"))
            return fail(ExitUsage, "defaults needs --groups G,... (general, encode, record, netservice, "
                                   "network, alarm, account, gui, ipc, or all)");
        req.groups.fill(false);
        for (const QString &g : QString::fromStdString(a.get("groups")).split(QLatin1Char(','))) {
            const QString name = g.trimmed().toLower();
            if (name == QLatin1String("all")) {
                req.groups.fill(true);
                req.groups[RestoreDefaultsRecord::Unused] = false;
                continue;
            }
            const int group = defaultGroupFromName(name);
            if (group < 0)
                return fail(ExitUsage, "unknown group " + name.toStdString()
                                           + " (general, encode, record, netservice, network, alarm, account, gui, "
                                             "ipc, all)");
            req.groups[std::size_t(group)] = true;
        }
        break;
    }
    case Item::Light: {
        const QStringList modes = { QStringLiteral("infrared"), QStringLiteral("fullcolor"), QStringLiteral("dual") };
        if (!a.has("mode"))
            return fail(ExitUsage, "light needs --mode infrared|fullcolor|dual");
        const int mode = choice(a, "mode", modes, -1);
        if (mode < 0)
            return badChoice("mode", modes);
        const QStringList hardSoft = { QStringLiteral("hard"), QStringLiteral("soft") };
        const QStringList highLow = { QStringLiteral("high"), QStringLiteral("low") };
        const QStringList detection = { QStringLiteral("conventional"), QStringLiteral("unconventional") };
        const struct
        {
            const char *key;
            const QStringList &choices;
            uint8_t &field;
        } lists[] = {
            { "photosensitive", hardSoft, req.light.photosensitive }, { "flash", modes, req.light.flashMode },
            { "dimming", onOff, req.light.dimming },                  { "warm", highLow, req.light.warmControl },
            { "infrared", highLow, req.light.infraredControl },       { "detection", detection, req.light.detection },
        };
        req.light.type = uint8_t(mode);
        for (const auto &l : lists) {
            const int v = choice(a, l.key, l.choices, l.field);
            if (v < 0)
                return badChoice(l.key, l.choices);
            l.field = uint8_t(v);
        }
        long v = 0;
        if (a.has("light-time")) {
            if (!toInt(a.get("light-time"), 10, 30, v))
                return fail(ExitUsage, "--light-time takes 10 to 30");
            req.light.lightTime = uint8_t(v);
        }
        if (a.has("brightness")) {
            if (!toInt(a.get("brightness"), 0, 100, v))
                return fail(ExitUsage, "--brightness takes 0 to 100");
            req.light.brightness = uint8_t(v);
        }
        break;
    }
    case Item::ChannelName: {
        if (!a.has("name"))
            return fail(ExitUsage, "channel-name needs --name N");
        req.channel.name = QString::fromLocal8Bit(a.get("name").c_str());
        const int showName = choice(a, "show-name", onOff, 1);
        const int showTime = choice(a, "show-time", onOff, 1);
        if (showName < 0)
            return badChoice("show-name", onOff);
        if (showTime < 0)
            return badChoice("show-time", onOff);
        req.channel.showName = showName == 1;
        req.channel.showTime = showTime == 1;
        break;
    }
    case Item::Services: {
        if (!a.has("onvif") || !a.has("dhcp"))
            return fail(ExitUsage, "services needs --onvif on|off and --dhcp on|off");
        const int onvif = choice(a, "onvif", onOff, -1);
        const int dhcp = choice(a, "dhcp", onOff, -1);
        if (onvif < 0)
            return badChoice("onvif", onOff);
        if (dhcp < 0)
            return badChoice("dhcp", onOff);
        req.services.onvif = onvif == 1;
        req.services.dhcp = dhcp == 1;
        break;
    }
    case Item::Export: {
        if (!a.has("dir"))
            return fail(ExitUsage, "export-config needs --dir D");
        const QString dir = QString::fromLocal8Bit(a.get("dir").c_str());
        if (!QFileInfo(dir).isDir())
            return fail(ExitFile, a.get("dir") + " is not a folder");
        req.exportDirectory = QFileInfo(dir).absoluteFilePath();
        break;
    }
    case Item::Import: {
        if (a.positional.size() < 3)
            return fail(ExitUsage, "import-config needs FILE");
        const std::string &file = a.positional[2];
        if (const int r = readImageFile(file, req.importImage))
            return r;
        req.importFile = QString::fromLocal8Bit(file.c_str());
        firstDevice = 3;
        break;
    }
    }
    return ExitOk;
}

std::atomic<bool> g_interrupted { false };

void onInterrupt(int) { g_interrupted = true; }

} // namespace

int cmdBatch(const Args &a)
{
    if (a.positional.size() < 2)
        return fail(ExitUsage, std::string("batch needs an item\n") + kBatchUsage);
    const std::string &itemText = a.positional[1];
    if (itemText == "upgrade")
        return cmdBatchUpgrade(a);
    ItemRequest req;
    std::size_t firstDevice = 2;
    if (const int r = readItem(a, itemText, req, firstDevice))
        return r;
    const std::vector<std::string> named(a.positional.begin() + long(std::min(firstDevice, a.positional.size())),
                                         a.positional.end());
    const bool all = a.has("all");
    if (all == !named.empty())
        return fail(ExitUsage, "batch takes --all or DEVICE..., not both and not neither");
    long jobs = SystemBatch::DefaultJobs;
    if (a.has("jobs") && !toInt(a.get("jobs"), 1, 256, jobs))
        return fail(ExitUsage, "--jobs takes 1 to 256");
    const int timeout = timeoutOf(a, 5000);
    if (timeout < 0)
        return fail(ExitUsage, "--timeout takes 1 to 600000 ms");

    std::vector<SearchRecord> found;
    std::vector<const SearchRecord *> chosen;
    if (const int r = chooseDevices(timeout, all, named, found, chosen))
        return r;

    const std::string user = a.get("user", "admin");
    std::string password;
    if (!passwordFor(a, user, std::to_string(chosen.size()) + " device(s)", password))
        return fail(ExitUsage, "no password read");
    QVector<BatchTarget> targets;
    for (const SearchRecord *r : chosen) {
        targets.append(DeviceTarget::of(*r, targets.size(), user, password));
    }

    const auto english = std::make_shared<EnglishTexts>();
    const syscfg::TextLookup lookup = [english](const QString &key) { return english->text(key); };
    SystemBatch batch;
    batch.setJobs(int(jobs));
    batch.setTextLookup(lookup);
    std::mutex m;
    QVector<DeviceOutcome> outcomes;
    int refused = 0;
    QObject::connect(&batch, &SystemBatch::deviceFinished, &batch, [&](const DeviceOutcome &o) {
        std::lock_guard<std::mutex> lock(m);
        outcomes.append(o);
    }, Qt::DirectConnection);
    QObject::connect(&batch, &SystemBatch::confirmationNeeded, &batch, [&](int) { batch.confirm(true); },
                     Qt::DirectConnection);
    QObject::connect(&batch, &SystemBatch::refusedForLogin, &batch, [&](int n) { refused = n; },
                     Qt::DirectConnection);

    // Ctrl-C: no device starts after it; the ones under way finish.
    struct sigaction sa {};
    struct sigaction oldInt {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &oldInt);
    batch.start(req, targets);
    bool cancelled = false;
    while (!batch.waitForFinished(100)) {
        if (g_interrupted && !cancelled) {
            cancelled = true;
            batch.cancel();
            std::cerr << "scoutrix-cli: interrupted; waiting for the devices under way\n";
        }
    }
    ::sigaction(SIGINT, &oldInt, nullptr);

    std::sort(outcomes.begin(), outcomes.end(),
              [](const DeviceOutcome &x, const DeviceOutcome &y) { return x.deviceIndex < y.deviceIndex; });
    bool loginFailed = false, fileFailed = false, otherFailed = false;
    for (const DeviceOutcome &o : qAsConst(outcomes)) {
        if (isOkOutcome(o.code, o.operation))
            continue;
        if (o.operation == ResultTexts::OpLogin || o.code == CodeNotSent)
            loginFailed = true;
        else if (o.code == CodeFileNotWritten)
            fileFailed = true;
        else
            otherFailed = true;
    }
    if (a.has("json")) {
        std::cout << "[\n";
        for (int i = 0; i < outcomes.size(); ++i) {
            const DeviceOutcome &o = outcomes.at(i);
            std::cout << "  {\"ip\": " << jsonText(QString::fromStdString(o.ip))
                      << ", \"mac\": " << jsonText(deviceText(o.mac)) << ", \"code\": " << o.code
                      << ", \"text\": " << jsonText(outcomeText(o, lookup)) << "}"
                      << (i + 1 < outcomes.size() ? "," : "") << "\n";
        }
        std::cout << "]\n";
    } else {
        auto cell = [](const QString &text, int width) { return text.leftJustified(width).toStdString(); };
        std::cout << cell(QStringLiteral("IP"), 16) << ' ' << cell(QStringLiteral("MAC"), 18) << ' '
                  << cell(QStringLiteral("CODE"), 7) << " RESULT\n";
        for (const DeviceOutcome &o : qAsConst(outcomes)) {
            // Device texts and the detail (a path) are shown neutralised.
            std::cout << cell(QString::fromStdString(o.ip), 16) << ' '
                      << cell(QString::fromStdString(terminalText(o.mac)), 18) << ' '
                      << cell(QString::number(o.code), 7) << ' '
                      << terminalText(outcomeText(o, lookup).toStdString()) << "\n";
        }
    }
    if (refused > 0)
        std::cerr << "scoutrix-cli: " << refused << " device(s) could not log in; " << itemText
                  << " was sent to no device\n";
    if (cancelled)
        std::cerr << "scoutrix-cli: interrupted; " << outcomes.size() << " of " << targets.size()
                  << " device(s) done\n";
    if (otherFailed || cancelled)
        return ExitFailed;
    if (fileFailed)
        return ExitFile;
    if (loginFailed)
        return ExitLogin;
    return ExitOk;
}

} // namespace scoutrix::cli
