#include "UpgradeBatch.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "ActivityLog.h"
#include "AppPaths.h"
#include "CMultiLanguage.h"
#include "ConfigRecords.h"
#include "DeviceRecords.h"
#include "FirmwareFile.h"
#include "LogoBuilder.h"
#include "NetSdk.h"
#include "ResultTexts.h"

namespace scoutrix::upgrade {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxJobs = 64;
constexpr int kHardwareTimeoutMs = 4000;
// The path goes to the SDK in a buffer of this size, terminator included.
constexpr int kPathBufferBytes = 1024;

QString lookUp(const TextLookup &lookup, const char *key)
{
    const QString k = QString::fromLatin1(key);
    if (lookup)
        return lookup(k);
    // The language files are read through QSettings at every lookup; the
    // workers take turns rather than share its file cache.
    static std::mutex m;
    std::lock_guard<std::mutex> lock(m);
    return CMultiLanguage::text(k);
}

QString lookUp(const TextLookup &lookup, const QString &key) { return lookUp(lookup, key.toLatin1().constData()); }

// What the device's own failure statuses mean, for the notice.
const char *deviceStatusKey(int status)
{
    switch (status) {
    case NETSDK_UPGRADE_ERR_BUSY:
        return LANG_KEY("Upgrade.DeviceBusy");
    case NETSDK_UPGRADE_ERR_FORMAT:
        return LANG_KEY("Upgrade.DeviceFormat");
    case NETSDK_UPGRADE_ERR_MODEL:
        return LANG_KEY("Upgrade.WrongModel");
    case NETSDK_UPGRADE_ERR_CHECKSUM:
        return LANG_KEY("Upgrade.DeviceChecksum");
    case NETSDK_UPGRADE_ERR_TRUNCATED:
    case NETSDK_UPGRADE_ERR_TRANSFER:
        return LANG_KEY("Upgrade.DeviceTruncated");
    case NETSDK_UPGRADE_ERR_TOO_LARGE:
    case NETSDK_UPGRADE_ERR_LOGO_SIZE:
        return LANG_KEY("Upgrade.OverSize");
    case NETSDK_UPGRADE_ERR_LOGO_PACKAGE:
    case NETSDK_UPGRADE_ERR_LOGO_HARDWARE:
    case NETSDK_UPGRADE_ERR_LOGO_IMAGE:
    case NETSDK_UPGRADE_ERR_LOGO_FILESYSTEM:
        return LANG_KEY("Upgrade.DeviceLogo");
    case NETSDK_ERR_TIMEOUT:
    case -10003:
        return LANG_KEY("Upgrade.ConnectionLost");
    default:
        return nullptr;
    }
}

} // namespace

UpgradeSettings UpgradeSettings::fromIni()
{
    UpgradeSettings s;
    const QSettings ini(AppPaths::programDir() + QStringLiteral("/scoutrix.ini"), QSettings::IniFormat);
    bool ok = false;
    const int jobs = ini.value(QStringLiteral("UpgradePage/jobs")).toInt(&ok);
    if (ok && jobs >= 1)
        s.jobs = std::min(jobs, kMaxJobs);
    const int comeback = ini.value(QStringLiteral("UpgradePage/comeback_s")).toInt(&ok);
    if (ok && comeback >= 1)
        s.comebackS = std::min(comeback, 3600);
    return s;
}

QString outcomeText(const UpgradeOutcome &o, int comebackS, const TextLookup &lookup)
{
    switch (o.code) {
    case CodeUpgradeOk:
        return lookUp(lookup, LANG_KEY("UpgradeSuccess"));
    case CodeWrongModel:
        return lookUp(lookup, LANG_KEY("Upgrade.WrongModel"));
    case CodeNotFirmware:
        return lookUp(lookup, LANG_KEY("Upgrade.NotFirmware"));
    case CodeOldVersion:
        return lookUp(lookup, LANG_KEY("Upgrade.OldVersion"));
    case CodeNoComeback:
        return lookUp(lookup, LANG_KEY("Upgrade.NoComeback")).arg(comebackS);
    case CodeLogoFailed:
        return lookUp(lookup, LANG_KEY("Upgrade.LogoFailed"));
    case CodeNotStarted:
        return lookUp(lookup, LANG_KEY("Upgrade.NotStarted"));
    case CodeHardwareUnread:
        return lookUp(lookup, LANG_KEY("Upgrade.HardwareUnread"));
    case CodeCancelled:
        return lookUp(lookup, LANG_KEY("Not sent"));
    default:
        break;
    }
    if (o.operation == ResultTexts::OpLogin) {
        QString text = lookUp(lookup, ResultTexts::operationKey(ResultTexts::OpLogin)) + QStringLiteral(": ")
            + lookUp(lookup, ResultTexts::resultKey(o.code, ResultTexts::OpLogin));
        // The device's own reason, where the code had to stand in for it
        // (0 network error, 7 system busy).
        if (o.deviceStatus != o.code)
            text += QStringLiteral(" (") + lookUp(lookup, LANG_KEY("Upgrade.LoginError")).arg(o.deviceStatus)
                + QLatin1Char(')');
        return text;
    }
    QString text = lookUp(lookup, LANG_KEY("UpgradeFail"));
    if (const char *key = deviceStatusKey(o.deviceStatus))
        text += QStringLiteral(": ") + lookUp(lookup, key);
    if (o.deviceStatus != 0)
        text += QStringLiteral(" (%1)").arg(o.deviceStatus);
    return text;
}

namespace {

// One file's verdict, kept for the batch: a 32 MiB firmware is hashed once,
// not once per device.
struct FileCheck
{
    qint64 size = -1;
    qint64 modified = 0;
    firmware::Error error = firmware::Error::Io;
    firmware::Header header;
    std::string why;
};

// Finds devices by MAC after their reboot. Workers share one search result
// for a second rather than each flooding the network with its own.
class Finder
{
public:
    struct Address
    {
        std::string ip;
        uint16_t port = 0;
    };

    std::optional<Address> find(const std::string &mac, int timeoutMs, int freshMs)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_when || Clock::now() - *m_when > std::chrono::milliseconds(freshMs)) {
            std::vector<char> buffer(NETSDK_SEARCH_BUFFER_SIZE);
            int32_t bytes = 0;
            m_records.clear();
            if (NetSdk_SearchDevice(buffer.data(), int32_t(buffer.size()), &bytes, timeoutMs, 0)) {
                const std::size_t n = std::size_t(std::max(0, bytes)) / sizeof(SearchRecord);
                m_records.resize(n);
                if (n)
                    std::memcpy(m_records.data(), buffer.data(), n * sizeof(SearchRecord));
            }
            m_when = Clock::now();
        }
        for (const SearchRecord &r : m_records) {
            if (sameMac(r.net.macText(), mac))
                return Address { r.net.ipText(), r.net.loginPort() };
        }
        return std::nullopt;
    }

    static bool sameMac(const std::string &a, const std::string &b)
    {
        return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
    }

private:
    std::mutex m_mutex;
    std::optional<Clock::time_point> m_when;
    std::vector<SearchRecord> m_records;
};

// Handed to the SDK as the user pointer. It lives on the worker's stack, and
// the worker leaves only after the final callback, after which the SDK calls
// no more.
struct Transfer
{
    UpgradeBatch *batch = nullptr;
    int ticket = 0;
    int deviceIndex = -1;
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    int final = 0; // -1 success, -2 failure
    int status = 0;
    bool writing = false;
    int lastPercent = -1;
    Stage lastStage = Stage::Queued;
};

} // namespace

struct UpgradeBatch::Impl
{
    UpgradeBatch *q = nullptr;

    // Workers start when devices are queued and end when the queue is empty;
    // at most settings.jobs live at once.
    struct Worker
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    std::vector<Worker> workers; // under mutex
    int liveWorkers = 0;

    mutable std::mutex mutex;
    std::condition_variable idle;
    UpgradeSettings settings;
    TextLookup lookup;
    std::deque<std::pair<int, UpgradeTarget>> queue;
    std::set<std::string> busyMacs; // upper case
    int underway = 0;
    int nextTicket = 1;

    std::mutex fileMutex;
    std::map<std::string, FileCheck> files;

    Finder finder;

    static std::string macKey(const std::string &mac) { return QString::fromStdString(mac).toUpper().toStdString(); }

    int pendingLocked() const { return int(queue.size()) + underway; }

    void emitProgress(int ticket, int deviceIndex, Stage stage, int percent)
    {
        emit q->progress(UpgradeProgress { ticket, deviceIndex, stage, percent });
    }

    void work(const std::shared_ptr<std::atomic<bool>> &ended);
    bool runNext();
    // Joins workers that have ended and starts new ones for the queue.
    void staffLocked();
    UpgradeOutcome runOne(int ticket, const UpgradeTarget &t, const UpgradeSettings &s, const TextLookup &lookup);
    const FileCheck &checkFile(const std::string &path);
    void awaitComeback(UpgradeOutcome &o, const UpgradeTarget &t, const UpgradeSettings &s,
                       const std::string &expected, bool needReboot);
    void log(const UpgradeTarget &t, const UpgradeOutcome &o, const QString &newValue);
};

namespace {

int32_t onProgress(int32_t, int32_t status, int32_t total, int32_t progress, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    if (progress == -1 || progress == -2) {
        std::lock_guard<std::mutex> lock(t->mutex);
        t->final = progress;
        t->status = status;
        t->done = true;
        t->cv.notify_all();
        return 0;
    }
    Stage stage;
    int percent;
    if (total == -1) {
        stage = Stage::Writing;
        percent = std::clamp(progress, 0, 100);
    } else {
        stage = Stage::Sending;
        percent = total > 0 ? int(qint64(progress) * 100 / total) : 0;
        percent = std::clamp(percent, 0, 100);
    }
    {
        std::lock_guard<std::mutex> lock(t->mutex);
        if (stage == Stage::Writing)
            t->writing = true;
        // One report per percent is plenty for a bar.
        if (stage == t->lastStage && percent == t->lastPercent)
            return 0;
        t->lastStage = stage;
        t->lastPercent = percent;
    }
    emit t->batch->progress(UpgradeProgress { t->ticket, t->deviceIndex, stage, percent });
    return 0;
}

struct Session
{
    int32_t handle = 0;
    int32_t error = 0;
    LoginInfo info {};
};

Session login(const std::string &ip, uint16_t port, const UpgradeTarget &t)
{
    Session s;
    s.handle = NetSdk_Login(ip.c_str(), port, t.user.c_str(), t.password.c_str(), &s.info, 1, &s.error, 0, 0);
    return s;
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

QString modelList(const std::vector<std::string> &models)
{
    QStringList l;
    for (const std::string &m : models)
        l << QString::fromStdString(m);
    return l.join(QStringLiteral(", "));
}

} // namespace

const FileCheck &UpgradeBatch::Impl::checkFile(const std::string &path)
{
    std::lock_guard<std::mutex> lock(fileMutex);
    const QFileInfo info(QString::fromStdString(path));
    FileCheck &c = files[path];
    const qint64 modified = info.lastModified().toMSecsSinceEpoch();
    if (c.size == info.size() && c.modified == modified && c.error != firmware::Error::Io)
        return c;
    c = FileCheck();
    c.size = info.size();
    c.modified = modified;
    c.error = firmware::verifyFile(path, c.header, c.why);
    return c;
}

void UpgradeBatch::Impl::log(const UpgradeTarget &t, const UpgradeOutcome &o, const QString &newValue)
{
    ActivityEntry e;
    e.mac = QString::fromStdString(t.mac);
    e.serial = QString::fromStdString(t.serial);
    e.model = QString::fromStdString(t.model);
    e.address = QString::fromStdString(t.ip);
    e.operation = ResultTexts::OpUpgrade;
    e.oldValue = QString::fromStdString(o.oldVersion);
    e.newValue = newValue;
    e.result = o.code;
    e.resultText = o.text;
    ActivityLog::instance().append(e);
}

void UpgradeBatch::Impl::awaitComeback(UpgradeOutcome &o, const UpgradeTarget &t, const UpgradeSettings &s,
                                       const std::string &expected, bool needReboot)
{
    emitProgress(o.ticket, o.deviceIndex, Stage::Verifying, 0);
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(s.comebackS);
    // A device that still answers with its old version has not rebooted yet;
    // only what it says after it was gone is its final word.
    bool wentAway = false;
    bool answered = false;
    const int freshMs = std::max(200, s.pollMs / 2);
    while (Clock::now() < deadline) {
        sleepMs(s.pollMs);
        const int elapsed = int(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
        emitProgress(o.ticket, o.deviceIndex, Stage::Verifying, std::min(99, elapsed * 100 / std::max(1, s.comebackS)));
        const auto where = finder.find(t.mac, s.searchTimeoutMs, freshMs);
        if (!where) {
            wentAway = true;
            continue;
        }
        Session session = login(where->ip, where->port, t);
        if (session.handle <= 0) {
            wentAway = true;
            continue;
        }
        const std::string version = session.info.versionText();
        NetSdk_Logout(session.handle);
        answered = true;
        o.ip = where->ip;
        o.version = version;
        const bool rightVersion = expected.empty() || version == expected;
        if (rightVersion && (wentAway || !needReboot)) {
            o.code = CodeUpgradeOk;
            return;
        }
        if (!rightVersion && wentAway) {
            o.code = CodeOldVersion;
            return;
        }
    }
    if (answered && expected.empty()) {
        // A logo written by a device that never restarted: it answers, and
        // the version was never going to change.
        o.code = CodeUpgradeOk;
        return;
    }
    o.code = answered && o.version != expected ? CodeOldVersion : CodeNoComeback;
}

UpgradeOutcome UpgradeBatch::Impl::runOne(int ticket, const UpgradeTarget &t, const UpgradeSettings &s,
                                          const TextLookup &lookup)
{
    UpgradeOutcome o;
    o.ticket = ticket;
    o.deviceIndex = t.deviceIndex;
    o.mac = t.mac;
    o.ip = t.ip;
    o.operation = ResultTexts::OpUpgrade;
    emitProgress(ticket, t.deviceIndex, Stage::Preparing, 0);

    QString detail;
    auto done = [&](int code, const QString &extra = QString()) {
        o.code = code;
        detail = extra;
        o.text = outcomeText(o, s.comebackS, lookup);
        if (!detail.isEmpty())
            o.text += QStringLiteral(": ") + detail;
        return o;
    };

    const QString file = QString::fromStdString(t.file);
    const bool picture = LogoBuilder::pictureType(file) != 0;
    const FileCheck *firmwareCheck = nullptr;
    if (!picture) {
        // Checked before any device is touched: a damaged or foreign file is
        // refused with nothing sent.
        firmwareCheck = &checkFile(t.file);
        if (firmwareCheck->error != firmware::Error::None)
            return done(CodeNotFirmware, QString::fromStdString(firmwareCheck->why));
        if (!firmwareCheck->header.acceptsModel(t.model)) {
            return done(CodeWrongModel, lookUp(lookup, LANG_KEY("Upgrade.ModelDetail"))
                                            .arg(QString::fromStdString(t.model), modelList(firmwareCheck->header.models)));
        }
    }
    const QByteArray pathBytes = QFile::encodeName(file);
    if (pathBytes.size() >= kPathBufferBytes)
        return done(CodeNotFirmware, lookUp(lookup, LANG_KEY("Upgrade.PathTooLong")));

    Session session = login(t.ip, t.port, t);
    if (session.handle <= 0) {
        o.operation = ResultTexts::OpLogin;
        // 0 (network) and 7 (busy) are failures too, whatever their sign.
        const int code = (session.error < 0 && session.error != NETSDK_ERR_NEED_REBOOT) ? session.error : NETSDK_ERR_FAIL;
        o.deviceStatus = session.error;
        return done(code);
    }
    o.oldVersion = session.info.versionText();
    emit q->versionRead(ticket, t.deviceIndex, QString::fromStdString(o.oldVersion));

    std::string sendPath = pathBytes.toStdString();
    QString newValue;
    if (picture) {
        HardwareRecord hw {};
        int32_t got = 0;
        const int32_t r = NetSdk_GetConfig(session.handle, CmdHardware, -1, hw.bytes, int32_t(sizeof(hw.bytes)), &got,
                                           kHardwareTimeoutMs);
        if (r < 0) {
            NetSdk_Logout(session.handle);
            o.deviceStatus = r;
            return done(CodeHardwareUnread);
        }
        const LogoResult built = LogoBuilder().build(file, hw);
        if (!built.ok()) {
            NetSdk_Logout(session.handle);
            return done(CodeLogoFailed, lookUp(lookup, built.messageKey));
        }
        sendPath = QFile::encodeName(built.packagePath).toStdString();
        newValue = lookUp(lookup, LANG_KEY("Upgrade.LogoValue")).arg(QFileInfo(file).fileName());
    } else {
        newValue = QString::fromStdString(firmwareCheck->header.version);
    }

    Transfer transfer;
    transfer.batch = q;
    transfer.ticket = ticket;
    transfer.deviceIndex = t.deviceIndex;
    emitProgress(ticket, t.deviceIndex, Stage::Sending, 0);
    if (NetSdk_Upgrade(session.handle, sendPath.c_str(), 0, onProgress, &transfer, s.upgradeType) == 0) {
        NetSdk_Logout(session.handle);
        return done(CodeNotStarted);
    }
    {
        std::unique_lock<std::mutex> lock(transfer.mutex);
        transfer.cv.wait(lock, [&] { return transfer.done; });
    }
    // The device drops the session when it restarts; the SDK's side of it
    // still has to go.
    NetSdk_Logout(session.handle);
    o.deviceStatus = transfer.status;

    const std::string expected = picture ? std::string() : firmwareCheck->header.version;
    const bool lostWhileWriting
        = transfer.writing && (transfer.status == -10003 || transfer.status == NETSDK_ERR_TIMEOUT);
    if (transfer.final == -1 || lostWhileWriting) {
        // A connection lost while the device was writing says nothing of how
        // the writing ended: the version it comes back with does.
        awaitComeback(o, t, s, expected, picture || expected == o.oldVersion || lostWhileWriting);
        if (o.code == CodeOldVersion && !o.version.empty())
            detail = QString::fromStdString(o.version);
        done(o.code, detail);
    } else {
        done(transfer.status < 0 ? transfer.status : NETSDK_ERR_FAIL);
    }
    log(t, o, newValue);
    return o;
}

void UpgradeBatch::Impl::staffLocked()
{
    for (auto it = workers.begin(); it != workers.end();) {
        if (it->ended->load()) {
            it->thread.join(); // it has left its loop: this returns at once
            it = workers.erase(it);
        } else {
            ++it;
        }
    }
    // Workers busy with a device do not count towards the queue's: a device
    // queued while all of them are under way needs a worker of its own.
    while (liveWorkers < settings.jobs && liveWorkers - underway < int(queue.size())) {
        auto ended = std::make_shared<std::atomic<bool>>(false);
        ++liveWorkers;
        workers.push_back(Worker { std::thread([this, ended] { work(ended); }), ended });
    }
}

void UpgradeBatch::Impl::work(const std::shared_ptr<std::atomic<bool>> &ended)
{
    while (runNext()) {
    }
    ended->store(true);
}

bool UpgradeBatch::Impl::runNext()
{
    std::pair<int, UpgradeTarget> job;
    UpgradeSettings s;
    TextLookup words;
    {
        std::lock_guard<std::mutex> lock(mutex);
        // Fewer workers when the setting went down since they started.
        if (queue.empty() || liveWorkers > settings.jobs) {
            --liveWorkers;
            return false;
        }
        job = std::move(queue.front());
        queue.pop_front();
        ++underway;
        s = settings;
        words = lookup;
    }
    const UpgradeOutcome o = runOne(job.first, job.second, s, words);
    emit q->deviceFinished(o);
    bool idleNow = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        --underway;
        busyMacs.erase(macKey(job.second.mac));
        idleNow = pendingLocked() == 0;
    }
    if (idleNow) {
        emit q->runningChanged(false);
        idle.notify_all();
    }
    return true;
}

UpgradeBatch::UpgradeBatch(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Impl>())
{
    qRegisterMetaType<UpgradeProgress>();
    qRegisterMetaType<UpgradeOutcome>();
    d->q = this;
}

UpgradeBatch::~UpgradeBatch()
{
    cancel();
    std::vector<Impl::Worker> workers;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        workers.swap(d->workers);
    }
    for (Impl::Worker &w : workers)
        w.thread.join();
}

void UpgradeBatch::setSettings(const UpgradeSettings &settings)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->settings = settings;
    d->settings.jobs = std::clamp(settings.jobs, 1, kMaxJobs);
    d->settings.upgradeType = std::clamp(settings.upgradeType, 0, 2);
    d->settings.comebackS = std::max(1, settings.comebackS);
    d->settings.pollMs = std::max(10, settings.pollMs);
    d->settings.searchTimeoutMs = std::max(10, settings.searchTimeoutMs);
    d->staffLocked();
}

UpgradeSettings UpgradeBatch::settings() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->settings;
}

void UpgradeBatch::setTextLookup(TextLookup lookup)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->lookup = std::move(lookup);
}

QVector<int> UpgradeBatch::enqueue(const QVector<UpgradeTarget> &targets)
{
    QVector<int> tickets;
    int started = 0;
    bool wasIdle = false;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        wasIdle = d->pendingLocked() == 0;
        for (const UpgradeTarget &t : targets) {
            const std::string key = Impl::macKey(t.mac);
            if (key.empty() || !d->busyMacs.insert(key).second) {
                tickets.append(0);
                continue;
            }
            const int ticket = d->nextTicket++;
            d->queue.emplace_back(ticket, t);
            tickets.append(ticket);
            ++started;
        }
    }
    if (started == 0)
        return tickets;
    // Announced before any worker can report the end.
    if (wasIdle)
        emit runningChanged(true);
    std::lock_guard<std::mutex> lock(d->mutex);
    d->staffLocked();
    return tickets;
}

bool UpgradeBatch::isRunning() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->pendingLocked() > 0;
}

int UpgradeBatch::pending() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->pendingLocked();
}

void UpgradeBatch::cancel()
{
    std::deque<std::pair<int, UpgradeTarget>> dropped;
    UpgradeSettings s;
    TextLookup lookup;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        dropped.swap(d->queue);
        for (const auto &job : dropped)
            d->busyMacs.erase(Impl::macKey(job.second.mac));
        s = d->settings;
        lookup = d->lookup;
    }
    for (const auto &job : dropped) {
        UpgradeOutcome o;
        o.ticket = job.first;
        o.deviceIndex = job.second.deviceIndex;
        o.mac = job.second.mac;
        o.ip = job.second.ip;
        o.code = CodeCancelled;
        o.operation = ResultTexts::OpUpgrade;
        o.text = outcomeText(o, s.comebackS, lookup);
        emit deviceFinished(o);
    }
    bool idleNow = false;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        idleNow = !dropped.empty() && d->pendingLocked() == 0;
    }
    if (idleNow) {
        emit runningChanged(false);
        d->idle.notify_all();
    }
}

bool UpgradeBatch::waitForFinished(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    auto idle = [&] { return d->pendingLocked() == 0; };
    if (timeoutMs < 0) {
        d->idle.wait(lock, idle);
        return true;
    }
    return d->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), idle);
}

} // namespace scoutrix::upgrade
