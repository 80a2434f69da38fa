#include "SystemBatch.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "ActivityLog.h"
#include "CMultiLanguage.h"
#include "ConfigRecords.h"
#include "DeviceRecords.h"
#include "NetSdk.h"

namespace scoutrix::syscfg {

bool isOkCode(int code) { return setTaken(code); }

bool isOkOutcome(int code, int operation)
{
    return isOkCode(code) || (code == NETSDK_ERR_TIMEOUT && operation == ResultTexts::OpResetWithNetwork);
}

namespace {

QString lookUp(const TextLookup &lookup, const QString &key)
{
    if (lookup)
        return lookup(key);
    // The language files are read through QSettings at every lookup; the
    // workers take turns rather than share its file cache.
    static std::mutex m;
    std::lock_guard<std::mutex> lock(m);
    return CMultiLanguage::text(key);
}

} // namespace

QString outcomeText(const DeviceOutcome &outcome, const TextLookup &lookup)
{
    // Steps that repeat the one before (two sets of one item, both taken)
    // are named once.
    QVector<StepResult> named;
    for (const StepResult &s : outcome.steps) {
        if (s.advisory)
            continue;
        if (!named.isEmpty() && named.last().operation == s.operation && named.last().code == s.code)
            continue;
        named.append(s);
    }
    QString text;
    if (named.isEmpty() || (named.size() == 1 && named.first().operation != ResultTexts::OpLogin)) {
        text = lookUp(lookup, ResultTexts::resultKey(outcome.code, outcome.operation));
    } else {
        // Which step it was matters: a login, or Onvif beside DHCP.
        QStringList parts;
        for (const StepResult &s : named) {
            const QString key = ResultTexts::operationKey(s.operation);
            const QString result = lookUp(lookup, ResultTexts::resultKey(s.code, s.operation));
            parts << (key.isEmpty() ? result : lookUp(lookup, key) + QStringLiteral(": ") + result);
        }
        text = parts.join(QStringLiteral("; "));
    }
    if (!outcome.detail.isEmpty())
        text += QStringLiteral("; ") + outcome.detail;
    return text;
}

namespace {

constexpr int kConfigTimeoutMs = 1000;
constexpr int kClockTimeoutMs = 4000;
constexpr int kRebootTimeoutMs = 10000;
constexpr int kExportTimeoutMs = 12000;
constexpr int kImportTimeoutMs = 2000;

QString onOff(bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); }

QString clockText(const ClockTime &c)
{
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

QString zoneText(int index)
{
    if (index < 0 || index >= TimeZoneCount)
        return QStringLiteral("zone #%1").arg(index);
    return QString::fromLatin1(timeZones()[std::size_t(index)].text);
}

QString listText(const QStringList &list, int index, const char *what)
{
    if (index < 0 || index >= list.size())
        return QStringLiteral("%1 #%2").arg(QLatin1String(what)).arg(index);
    return list.at(index);
}

QString ntpText(const NtpRecord &r)
{
    return QStringLiteral("NTP %1, server %2, port %3, period %4 min, %5")
        .arg(onOff(r.enabled()), QString::fromLatin1(r.server().c_str()))
        .arg(r.word(NtpRecord::Port))
        .arg(r.word(NtpRecord::Period))
        .arg(zoneText(r.word(NtpRecord::ZoneIndex)));
}

QString lightText(const LightSettings &l)
{
    static const char *const types[] = { "infrared", "fullcolor", "dual" };
    return QStringLiteral("mode %1, photosensitive %2, flash %3, light time %4, brightness %5, dimming %6, "
                          "warm light %7, infrared %8, detection %9")
        .arg(l.type < 3 ? QString::fromLatin1(types[l.type]) : QString::number(l.type),
             l.photosensitive ? QStringLiteral("soft") : QStringLiteral("hard"))
        .arg(l.flashMode)
        .arg(l.lightTime)
        .arg(l.brightness)
        .arg(onOff(l.dimming != 0), l.warmControl ? QStringLiteral("low") : QStringLiteral("high"),
             l.infraredControl ? QStringLiteral("low") : QStringLiteral("high"),
             l.detection ? QStringLiteral("unconventional") : QStringLiteral("conventional"));
}

QString osdText(const OsdRecord &r)
{
    return QStringLiteral("name %1, time %2").arg(onOff(r.bytes[OsdRecord::ShowName] != 0),
                                                  onOff(r.bytes[OsdRecord::ShowTime] != 0));
}

// The name in the PC's 8-bit encoding, cut at a character boundary so that
// it fits |limit| bytes: a cut inside a multi-byte character would leave the
// device a broken name.
QByteArray boundedLocal8Bit(const QString &text, int limit, bool &cut)
{
    QByteArray out;
    cut = false;
    for (int i = 0; i < text.size();) {
        const int len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QByteArray piece = text.mid(i, len).toLocal8Bit();
        if (out.size() + piece.size() > limit) {
            cut = true;
            break;
        }
        out += piece;
        i += len;
    }
    return out;
}

template<typename Record>
void zero(Record &r)
{
    std::memset(&r, 0, sizeof r);
}

template<typename Record>
int32_t getRecord(int32_t handle, int32_t command, int32_t channel, Record &r, int timeoutMs = kConfigTimeoutMs)
{
    int32_t got = 0;
    return NetSdk_GetConfig(handle, command, channel, &r, int32_t(sizeof r), &got, timeoutMs);
}

template<typename Record>
int32_t setRecord(int32_t handle, int32_t command, int32_t channel, const Record &r, int timeoutMs = kConfigTimeoutMs)
{
    return NetSdk_SetConfig(handle, command, channel, &r, int32_t(sizeof r), timeoutMs);
}

// Qt reads the local time zone behind a lock of its own that the workers
// cannot see; they take their clock readings and log entries in turn.
std::mutex &clockMutex()
{
    static std::mutex m;
    return m;
}

QDateTime localNow()
{
    std::lock_guard<std::mutex> lock(clockMutex());
    return QDateTime::currentDateTime();
}

struct Session
{
    int32_t handle = 0;
    int32_t error = 0;
    LoginInfo info {};
};

} // namespace

struct SystemBatch::Impl
{
    explicit Impl(SystemBatch *owner)
        : q(owner)
    {
    }

    SystemBatch *q;

    // Settings, read when a batch starts.
    std::atomic<int> jobs { DefaultJobs };
    TextLookup lookup;

    // One batch.
    ItemRequest request;
    QVector<BatchTarget> targets;
    TextLookup batchLookup;
    int batchJobs = DefaultJobs;
    std::atomic<bool> cancelled { false };
    int done = 0;
    std::mutex reportMutex;

    std::mutex mutex;
    std::condition_variable changed;
    bool active = false;      // isRunning()
    bool threadDone = true;   // the controller has emitted finished()
    enum class Answer { None, Yes, No } answer = Answer::None;
    quint64 generation = 0;
    std::thread controller;

    QString tr(const QString &key) const { return lookUp(batchLookup, key); }

    // Runs fn(i) for i = 0..count-1, at most batchJobs at once, starting in
    // order; no index starts after cancel().
    template<typename Fn>
    void pool(int count, Fn fn)
    {
        std::atomic<int> next { 0 };
        auto worker = [&] {
            for (;;) {
                if (cancelled)
                    return;
                const int i = next++;
                if (i >= count || cancelled)
                    return;
                fn(i);
            }
        };
        const int n = std::min(batchJobs, count);
        std::vector<std::thread> threads;
        threads.reserve(std::size_t(std::max(0, n - 1)));
        for (int t = 1; t < n; ++t)
            threads.emplace_back(worker);
        worker();
        for (std::thread &t : threads)
            t.join();
    }

    void report(DeviceOutcome outcome)
    {
        std::lock_guard<std::mutex> lock(reportMutex);
        emit q->deviceFinished(outcome);
        ++done;
        emit q->progress(done, targets.size());
    }

    static DeviceOutcome outcomeFor(const BatchTarget &t)
    {
        DeviceOutcome o;
        o.deviceIndex = t.deviceIndex;
        o.mac = t.mac;
        o.ip = t.ip;
        return o;
    }

    static void loginFailed(DeviceOutcome &o, int32_t error)
    {
        // The login's own reason reads better than -1 where it has a text of
        // its own (a timeout); 0 and positive reasons (network error, busy)
        // would read as success, so they become -1.
        const int code = (error < 0 && error != NETSDK_ERR_NEED_REBOOT) ? error : NETSDK_ERR_FAIL;
        o.code = code;
        o.operation = ResultTexts::OpLogin;
        o.steps = { StepResult { ResultTexts::OpLogin, code, false } };
    }

    static Session login(const BatchTarget &t)
    {
        Session s;
        s.handle = NetSdk_Login(t.ip.c_str(), t.port, t.user.c_str(), t.password.c_str(), &s.info, 1,
                                &s.error, 0, 0);
        return s;
    }

    static void logout(Session &s)
    {
        if (s.handle > 0)
            NetSdk_Logout(s.handle);
        s.handle = 0;
    }

    void log(const BatchTarget &t, int operation, const QString &oldValue, const QString &newValue, int code)
    {
        ActivityEntry e;
        e.mac = QString::fromStdString(t.mac);
        e.serial = QString::fromStdString(t.serial);
        e.model = QString::fromStdString(t.model);
        e.address = QString::fromStdString(t.ip);
        e.operation = operation;
        e.oldValue = oldValue;
        e.newValue = newValue;
        e.result = code;
        e.resultText = tr(ResultTexts::resultKey(code, operation));
        std::lock_guard<std::mutex> lock(clockMutex());
        e.time = QDateTime::currentDateTime();
        ActivityLog::instance().append(e);
    }

    // The item's exchange with one logged-in device. Every step goes into
    // o.steps; the mark is settled by the caller.
    void exchange(const BatchTarget &t, Session &s, DeviceOutcome &o);
    void settleMark(DeviceOutcome &o, int mainStep) const;

    void run();
    void runEach();
    void runAskingFirst();
    void runExport();
    void finish(int applied);
};

void SystemBatch::Impl::settleMark(DeviceOutcome &o, int mainStep) const
{
    for (const StepResult &s : o.steps) {
        if (!s.advisory && !isOkOutcome(s.code, s.operation)) {
            o.code = s.code;
            o.operation = s.operation;
            return;
        }
    }
    if (mainStep >= 0 && mainStep < o.steps.size()) {
        o.code = o.steps.at(mainStep).code;
        o.operation = o.steps.at(mainStep).operation;
    }
}

void SystemBatch::Impl::exchange(const BatchTarget &t, Session &s, DeviceOutcome &o)
{
    const ItemRequest &req = request;
    const int32_t h = s.handle;
    // A set that answers -11401 took the setting and waits for a restart.
    // The clock items need none; the others restart the device once, after
    // its last set, so no later step of the exchange meets a device that is
    // going down.
    bool restart = false;
    auto step = [&](int operation, int32_t code) {
        o.steps.append(StepResult { operation, code, false });
        if (code == NETSDK_ERR_NEED_REBOOT)
            restart = true;
    };
    int mainStep = -1;

    switch (req.item) {
    case Item::PcTime:
    case Item::ManualTime: {
        // The PC's clock is read again for every device, at the moment it is sent.
        const ClockTime c = req.item == Item::PcTime ? ClockTime::fromDateTime(localNow())
                                                     : req.manualTime;
        SystemTimeRecord r;
        zero(r);
        r.setWord(SystemTimeRecord::Year, c.year);
        r.setWord(SystemTimeRecord::Month, c.month);
        r.setWord(SystemTimeRecord::Day, c.day);
        r.setWord(SystemTimeRecord::Hour, c.hour);
        r.setWord(SystemTimeRecord::Minute, c.minute);
        r.setWord(SystemTimeRecord::Second, c.second);
        const int32_t code = setRecord(h, CmdSystemTime, -1, r, kClockTimeoutMs);
        o.steps.append(StepResult { ResultTexts::OpSysTimeSet, code, false });
        log(t, ResultTexts::OpSysTimeSet, QString(), clockText(c), code);
        mainStep = 0;
        break;
    }
    case Item::Ntp: {
        NtpRecord ntp;
        TimeZoneRecord zone;
        zero(ntp);
        zero(zone);
        // Failed reads are not fatal: the sets go with what the records hold.
        const bool readNtp = getRecord(h, CmdNtp, -1, ntp) >= 0;
        const bool readZone = getRecord(h, CmdTimeZone, -1, zone) >= 0;
        const QString oldNtp = readNtp ? ntpText(ntp) : QString();
        const int32_t oldMinutes = zone.word(TimeZoneRecord::MinutesWest);
        const NtpSettings &n = req.ntp;
        ntp.setEnabled(n.enabled);
        ntp.setServer(n.server.toLatin1().toStdString());
        ntp.setWord(NtpRecord::Port, n.port);
        ntp.setWord(NtpRecord::Period, n.period);
        ntp.setWord(NtpRecord::ZoneIndex, n.zoneIndex);
        int32_t code = setRecord(h, CmdNtp, -1, ntp);
        log(t, ResultTexts::OpNTPSet, oldNtp, ntpText(ntp), code);
        // The zone follows only a device that took the NTP record (-11401
        // is taken: it only asks for a restart, which the time page never
        // makes).
        if (isOkCode(code)) {
            const int32_t minutes = timeZones()[std::size_t(std::clamp(n.zoneIndex, 0, TimeZoneCount - 1))].minutesWest;
            zone.setWord(TimeZoneRecord::MinutesWest, minutes);
            code = setRecord(h, CmdTimeZone, -1, zone);
            log(t, ResultTexts::OpNTPSet,
                readZone ? QStringLiteral("zone offset %1 min").arg(oldMinutes) : QString(),
                QStringLiteral("zone offset %1 min (%2)").arg(minutes).arg(zoneText(n.zoneIndex)), code);
        }
        o.steps.append(StepResult { ResultTexts::OpNTPSet, code, false });
        mainStep = 0;
        break;
    }
    case Item::Format: {
        GeneralRecord g;
        zero(g);
        const bool read = getRecord(h, CmdGeneral, -1, g) >= 0;
        const QString oldValue = read ? listText(videoFormats(), g.videoFormat(), "format") + QStringLiteral(", ")
                + listText(deviceLanguages(), g.language(), "language")
                                      : QString();
        g.setVideoFormat(req.videoFormat);
        g.setLanguage(req.language);
        const int32_t code = setRecord(h, CmdGeneral, -1, g);
        step(ResultTexts::OpLanguageVideo, code);
        log(t, ResultTexts::OpLanguageVideo, oldValue,
            listText(videoFormats(), req.videoFormat, "format") + QStringLiteral(", ")
                + listText(deviceLanguages(), req.language, "language"),
            code);
        mainStep = 0;
        break;
    }
    case Item::Reboot: {
        // The byte result is 1 for success and 0 for failure; 0 must not be
        // recorded as the code 0, which reads "successful".
        const int32_t code = NetSdk_Reboot(h, 0, kRebootTimeoutMs) ? NETSDK_OK : NETSDK_ERR_FAIL;
        o.steps.append(StepResult { ResultTexts::OpReboot, code, false });
        log(t, ResultTexts::OpReboot, QString(), QStringLiteral("reboot"), code);
        mainStep = 0;
        break;
    }
    case Item::Defaults: {
        RestoreDefaultsRecord r;
        zero(r);
        QStringList names;
        for (int g = 0; g < RestoreDefaultsRecord::Groups; ++g) {
            const bool on = g != RestoreDefaultsRecord::Unused && req.groups[std::size_t(g)];
            r.setGroup(g, on);
            if (on)
                names << defaultGroupName(g);
        }
        const int32_t code = setRecord(h, CmdRestoreDefaults, 0, r);
        const bool network = req.groups[RestoreDefaultsRecord::Network];
        const int operation = network && code == NETSDK_ERR_TIMEOUT ? ResultTexts::OpResetWithNetwork
                                                                     : ResultTexts::OpReset;
        step(operation, code);
        log(t, operation, QString(), QStringLiteral("defaults: ") + names.join(QStringLiteral(", ")), code);
        mainStep = 0;
        break;
    }
    case Item::Light: {
        const LightSettings &l = req.light;
        LightModeRecord mode;
        zero(mode);
        mode.bytes[LightModeRecord::Type] = l.type;
        mode.bytes[LightModeRecord::Photosensitive] = l.photosensitive;
        mode.bytes[LightModeRecord::FlashMode] = l.flashMode;
        mode.bytes[LightModeRecord::LightTime] = l.lightTime;
        mode.bytes[LightModeRecord::Brightness] = l.brightness;
        mode.bytes[LightModeRecord::Dimming] = l.dimming;
        mode.bytes[LightModeRecord::WarmControl] = l.warmControl;
        mode.bytes[LightModeRecord::InfraredControl] = l.infraredControl;
        mode.bytes[LightModeRecord::Detection] = l.detection;
        LightCapsRecord caps;
        zero(caps);
        const int32_t capsResult = getRecord(h, CmdLightCaps, -1, caps);
        const uint8_t mask = caps.bytes[LightCapsRecord::ModeMask];
        if (capsResult < 0 || mask == 0) {
            // A device that does not say what it has is sent the mode anyway.
            o.steps.append(StepResult { ResultTexts::OpLightType, NETSDK_ERR_FAIL, true });
            o.detail = tr(QStringLiteral(LANG_KEY("The device did not report its light modes, so the mode was sent anyway.")));
        } else if (l.type >= 8 || !(mask & (1u << l.type))) {
            o.steps.append(StepResult { ResultTexts::OpLightType, NETSDK_ERR_NOT_SUPPORTED, false });
            mainStep = 0;
            break;
        }
        const int32_t code = setRecord(h, CmdLightMode, 0, mode);
        step(ResultTexts::OpLightType, code);
        log(t, ResultTexts::OpLightType, QString(), lightText(l), code);
        mainStep = o.steps.size() - 1;
        break;
    }
    case Item::ChannelName: {
        ChannelNamesRecord names;
        OsdRecord osd;
        zero(names);
        zero(osd);
        const bool readNames = getRecord(h, CmdChannelNames, -1, names) >= 0;
        const bool readOsd = getRecord(h, CmdOsd, 0, osd) >= 0;
        const QString oldName = readNames ? QString::fromLocal8Bit(names.name(0).c_str()) : QString();
        const QString oldOsd = readOsd ? osdText(osd) : QString();
        bool cut = false;
        const int limit = int(ChannelNamesRecord::ChannelNameBytes) - 1;
        const QByteArray name = boundedLocal8Bit(req.channel.name, limit, cut);
        names.setName(0, name.toStdString());
        osd.bytes[OsdRecord::ShowName] = req.channel.showName ? 1 : 0;
        osd.bytes[OsdRecord::ShowTime] = req.channel.showTime ? 1 : 0;
        if (cut) {
            QString text = tr(QStringLiteral(LANG_KEY("System.NameCut")));
            if (!text.contains(QLatin1String("%1")))
                text = QStringLiteral("The name was cut to %1 bytes.");
            o.detail = text.arg(name.size());
        }
        const int32_t namesCode = setRecord(h, CmdChannelNames, -1, names);
        step(ResultTexts::OpChannelName, namesCode);
        log(t, ResultTexts::OpChannelName, oldName, QString::fromLocal8Bit(name), namesCode);
        const int32_t osdCode = setRecord(h, CmdOsd, 0, osd);
        step(ResultTexts::OpChannelName, osdCode);
        log(t, ResultTexts::OpChannelName, oldOsd, osdText(osd), osdCode);
        mainStep = 1;
        break;
    }
    case Item::Services: {
        OnvifRecord onvif;
        zero(onvif);
        const bool readOnvif = getRecord(h, CmdOnvif, -1, onvif) >= 0;
        const QString oldOnvif = readOnvif ? onOff(onvif.word(OnvifRecord::Enable) != 0) : QString();
        onvif.setWord(OnvifRecord::Enable, req.services.onvif ? 1 : 0);
        const int32_t onvifCode = setRecord(h, CmdOnvif, -1, onvif);
        step(ResultTexts::OpOnvif, onvifCode);
        log(t, ResultTexts::OpOnvif, oldOnvif, onOff(req.services.onvif), onvifCode);
        DhcpRecord dhcp;
        zero(dhcp);
        const bool readDhcp = getRecord(h, CmdDhcp, -1, dhcp) >= 0;
        const QString oldDhcp = readDhcp ? onOff(dhcp.word(DhcpRecord::Enable) != 0) : QString();
        dhcp.setWord(DhcpRecord::Enable, req.services.dhcp ? 1 : 0);
        const int32_t dhcpCode = setRecord(h, CmdDhcp, -1, dhcp);
        step(ResultTexts::OpDhcp, dhcpCode);
        log(t, ResultTexts::OpDhcp, oldDhcp, onOff(req.services.dhcp), dhcpCode);
        mainStep = 1;
        break;
    }
    case Item::Export: {
        const QByteArray infoText(reinterpret_cast<const char *>(s.info.bytes) + LoginInfo::VersionText,
                                  int(LoginInfo::VersionTextSize));
        const QString path = exportFilePath(req.exportDirectory, infoText, localNow());
        QByteArray image(ConfigImageMax, '\0');
        int32_t got = 0;
        const int32_t result
            = NetSdk_GetConfig(h, CmdConfigExport, -1, image.data(), ConfigImageMax, &got, kExportTimeoutMs);
        // A device reports the image's length, or 0 with the bytes counted;
        // either way an export that returned nothing wrote nothing, and must
        // not read as done.
        int32_t code = result < 0 ? result : NETSDK_ERR_FAIL;
        if (result > 0 || (result == 0 && got > 0)) {
            // The whole 64 KiB image, or no file at all.
            QSaveFile file(path);
            const bool written
                = file.open(QIODevice::WriteOnly) && file.write(image) == image.size() && file.commit();
            code = written ? int32_t(NETSDK_OK) : int32_t(CodeFileNotWritten);
            if (written)
                o.detail = path;
        }
        o.steps.append(StepResult { ResultTexts::OpExport, code, false });
        log(t, ResultTexts::OpExport, QString(), code == NETSDK_OK ? path : QString(), code);
        mainStep = 0;
        break;
    }
    case Item::Import: {
        const QByteArray image = req.importImage.left(ConfigImageMax);
        const int32_t code = NetSdk_SetConfig(h, CmdConfigImport, -1, image.constData(), int32_t(image.size()),
                                              kImportTimeoutMs);
        step(ResultTexts::OpImport, code);
        log(t, ResultTexts::OpImport, QString(),
            QFileInfo(req.importFile).fileName() + QStringLiteral(" (%1 bytes)").arg(image.size()), code);
        mainStep = 0;
        break;
    }
    }

    const bool clockItem = req.item == Item::PcTime || req.item == Item::ManualTime || req.item == Item::Ntp;
    if (restart && !clockItem) {
        const int32_t code = NetSdk_Reboot(h, 0, kRebootTimeoutMs) ? NETSDK_OK : NETSDK_ERR_FAIL;
        o.steps.append(StepResult { ResultTexts::OpReboot, code, false });
        log(t, ResultTexts::OpReboot, QString(), QStringLiteral("reboot to apply"), code);
    }
    settleMark(o, mainStep);
}

void SystemBatch::Impl::runEach()
{
    std::atomic<int> applied { 0 };
    pool(targets.size(), [&](int i) {
        const BatchTarget &t = targets.at(i);
        DeviceOutcome o = outcomeFor(t);
        Session s = login(t);
        if (s.handle <= 0) {
            loginFailed(o, s.error);
        } else {
            exchange(t, s, o);
            logout(s);
            ++applied;
        }
        report(o);
    });
    finish(applied);
}

void SystemBatch::Impl::runAskingFirst()
{
    const int n = targets.size();
    std::vector<Session> sessions(static_cast<std::size_t>(n));
    std::atomic<int> failed { 0 };
    pool(n, [&](int i) {
        Session &s = sessions[std::size_t(i)];
        s = login(targets.at(i));
        if (s.handle <= 0) {
            ++failed;
            DeviceOutcome o = outcomeFor(targets.at(i));
            loginFailed(o, s.error);
            report(o);
        }
    });
    auto logoutAll = [&] {
        for (Session &s : sessions)
            logout(s);
    };
    if (cancelled) {
        logoutAll();
        finish(0);
        return;
    }
    if (failed > 0) {
        // One device that cannot be reached: the item goes to none, so the
        // batch never leaves the devices half changed.
        for (int i = 0; i < n; ++i) {
            if (sessions[std::size_t(i)].handle <= 0)
                continue;
            DeviceOutcome o = outcomeFor(targets.at(i));
            o.code = CodeNotSent;
            o.operation = operationOf(request.item);
            o.steps = { StepResult { o.operation, CodeNotSent, false } };
            report(o);
        }
        logoutAll();
        emit q->refusedForLogin(failed);
        finish(0);
        return;
    }

    emit q->confirmationNeeded(n);
    bool yes = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return answer != Answer::None || cancelled; });
        yes = answer == Answer::Yes && !cancelled;
    }
    if (!yes) {
        logoutAll();
        finish(0);
        return;
    }
    std::atomic<int> applied { 0 };
    pool(n, [&](int i) {
        Session &s = sessions[std::size_t(i)];
        DeviceOutcome o = outcomeFor(targets.at(i));
        exchange(targets.at(i), s, o);
        logout(s);
        ++applied;
        report(o);
    });
    // Devices a cancel kept from their turn still hold a session.
    logoutAll();
    finish(applied);
}

void SystemBatch::Impl::runExport()
{
    // The first device that logs in is the one exported; the walk stops there.
    for (const BatchTarget &t : qAsConst(targets)) {
        if (cancelled)
            break;
        DeviceOutcome o = outcomeFor(t);
        Session s = login(t);
        if (s.handle <= 0) {
            loginFailed(o, s.error);
            report(o);
            continue;
        }
        exchange(t, s, o);
        logout(s);
        report(o);
        finish(1);
        return;
    }
    finish(0);
}

void SystemBatch::Impl::run()
{
    if (request.item == Item::Export)
        runExport();
    else if (asksFirst(request.item))
        runAskingFirst();
    else
        runEach();
}

void SystemBatch::Impl::finish(int applied)
{
    quint64 gen;
    {
        std::lock_guard<std::mutex> lock(mutex);
        active = false;
        gen = generation;
    }
    emit q->finished(applied, cancelled);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (gen == generation)
            threadDone = true;
    }
    changed.notify_all();
}

SystemBatch::SystemBatch(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Impl>(this))
{
    qRegisterMetaType<scoutrix::syscfg::DeviceOutcome>("scoutrix::syscfg::DeviceOutcome");
}

SystemBatch::~SystemBatch()
{
    cancel();
    if (d->controller.joinable()) {
        if (d->controller.get_id() == std::this_thread::get_id())
            d->controller.detach();
        else
            d->controller.join();
    }
}

void SystemBatch::setJobs(int jobs) { d->jobs = std::max(1, jobs); }

int SystemBatch::jobs() const { return d->jobs; }

void SystemBatch::setTextLookup(TextLookup lookup)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->lookup = std::move(lookup);
}

bool SystemBatch::start(const ItemRequest &request, const QVector<BatchTarget> &targets)
{
    if (targets.isEmpty())
        return false;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (d->active)
            return false;
        d->active = true;
    }
    // The previous batch's controller has finished its work; it may still be
    // on its way out of finished().
    if (d->controller.joinable()) {
        if (d->controller.get_id() == std::this_thread::get_id())
            d->controller.detach();
        else
            d->controller.join();
    }
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->request = request;
        d->targets = targets;
        d->batchLookup = d->lookup;
        d->batchJobs = d->jobs;
        d->cancelled = false;
        d->done = 0;
        d->answer = Impl::Answer::None;
        d->threadDone = false;
        ++d->generation;
    }
    d->controller = std::thread([this] { d->run(); });
    return true;
}

bool SystemBatch::isRunning() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->active;
}

void SystemBatch::confirm(bool yes)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (d->answer == Impl::Answer::None)
            d->answer = yes ? Impl::Answer::Yes : Impl::Answer::No;
    }
    d->changed.notify_all();
}

void SystemBatch::cancel()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->cancelled = true;
    }
    d->changed.notify_all();
}

bool SystemBatch::waitForFinished(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    auto done = [&] { return d->threadDone; };
    if (timeoutMs < 0) {
        d->changed.wait(lock, done);
        return true;
    }
    return d->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

} // namespace scoutrix::syscfg
