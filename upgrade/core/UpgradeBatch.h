#pragma once
// Sends firmware (or a logo package built from a picture) to many devices and
// verifies each one afterwards, off the GUI thread. The upgrade page and
// scoutrix-cli drive the same class.
//
// Devices wait in a queue and at most jobs() of them are under way at once:
// a few hundred files in flight on one site network would starve each other
// and the installer's own traffic. Each device is logged in afresh, its model
// checked against the firmware's header before a byte is sent, its file sent,
// and then it is watched until it has rebooted, been found again by its MAC,
// logged in and reported the new version. Only then is it a success.
//
// Every upgrade has a ticket of its own, and every report carries it: a
// report finds its device's row however often the page's table was refilled.

#include <QObject>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <string>

#include "DeviceRecords.h"

namespace scoutrix::upgrade {

// One device to upgrade, copied out of the device list: the batch never holds
// a pointer into it.
// The model text is matched against the firmware header; the MAC finds the
// device after its reboot.
struct UpgradeTarget : DeviceTarget
{
    std::string file; // firmware file, or a .jpg / .bmp / .gif picture for the boot logo
};

// Where an upgrade stands, as its row shows it.
enum class Stage {
    Queued, // waiting for a free slot
    Preparing, // logging in, reading the hardware, checking or building the file
    Sending, // percent of the file sent
    Writing, // the device's own percent
    Verifying, // sent and written; waiting for the device to come back
    Done, // see UpgradeOutcome
};

struct UpgradeProgress
{
    int ticket = 0;
    int deviceIndex = -1;
    Stage stage = Stage::Queued;
    int percent = 0;
};

// Outcome codes of the program's own; device and SDK codes pass through.
enum UpgradeCode : int {
    CodeUpgradeOk = 1, // came back with the firmware's version (or, for a logo, came back)
    CodeWrongModel = -30101, // the firmware's header does not name the device's model; nothing sent
    CodeNotFirmware = -30102, // neither a firmware file nor a picture, or a damaged one; nothing sent
    CodeOldVersion = -30103, // came back, still on the version it had
    CodeNoComeback = -30104, // not found or not logged in again within the comeback time
    CodeLogoFailed = -30105, // the logo package could not be built; nothing sent
    CodeNotStarted = -30106, // the device did not take the upgrade
    CodeHardwareUnread = -30107, // the hardware record (logo area) could not be read
    CodeCancelled = -30108, // still queued when the batch was cancelled; nothing sent
};

struct UpgradeOutcome
{
    int ticket = 0;
    int deviceIndex = -1;
    std::string mac;
    std::string ip; // where the device answered last
    // 1 for success; negative for a failure: a login error (operation
    // OpLogin), an UpgradeCode, or the device's own status.
    int code = 0;
    int operation = 0; // ResultTexts::OpUpgrade, or OpLogin for a refused login
    QString text; // the outcome in words, in the batch's language
    std::string oldVersion; // the version before, "" when never logged in
    std::string version; // the version the device reports at the end ("" when unknown)
    int deviceStatus = 0; // the final callback's status value
    bool ok() const { return code == CodeUpgradeOk; }
};

struct UpgradeSettings
{
    static constexpr int DefaultJobs = 4;
    static constexpr int DefaultComebackS = 300;
    int jobs = DefaultJobs; // 1..64 devices under way at once
    int upgradeType = 0; // 0 upgrade, 1 and super-reset, 2 and delete logs
    int comebackS = DefaultComebackS; // how long a rebooting device may take to come back
    int pollMs = 1000; // between looks for a rebooting device
    int searchTimeoutMs = 1000; // of each search for the device's MAC
    // [UpgradePage] jobs= and comeback_s= in scoutrix.ini, over the defaults.
    static UpgradeSettings fromIni();
};

// Turns a language key into the text shown; CMultiLanguage::text when empty.
using TextLookup = std::function<QString(const QString &key)>;

class UpgradeBatch : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpgradeBatch)

public:
    explicit UpgradeBatch(QObject *parent = nullptr);
    // Cancels the queue and waits for the devices under way to end: a
    // transfer cut off mid-flash would leave the device worse off than either.
    ~UpgradeBatch() override;

    // Take effect for devices started after the call.
    void setSettings(const UpgradeSettings &settings);
    UpgradeSettings settings() const;
    void setTextLookup(TextLookup lookup);

    // Queues devices; returns one ticket per target (0 for a target refused:
    // a device already queued or under way, found by its MAC, is never
    // upgraded twice at once). May be called while a batch runs.
    QVector<int> enqueue(const QVector<UpgradeTarget> &targets);

    bool isRunning() const; // something queued or under way
    int pending() const; // queued plus under way
    // Queued devices are dropped (reported with CodeCancelled); the ones under
    // way finish.
    void cancel();
    // Blocks until nothing is queued or under way; false on timeout.
    bool waitForFinished(int timeoutMs = -1);

signals:
    // From worker threads; connect queued to widgets.
    void runningChanged(bool running); // true at the first enqueue, false after the last outcome
    void progress(const scoutrix::upgrade::UpgradeProgress &progress);
    void versionRead(int ticket, int deviceIndex, const QString &version); // after the first login
    void deviceFinished(const scoutrix::upgrade::UpgradeOutcome &outcome);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The outcome in words: "UpgradeSuccess", "came back with the old version",
// "did not come back within 300 s", the wrong model named...
QString outcomeText(const UpgradeOutcome &outcome, int comebackS, const TextLookup &lookup = TextLookup());

} // namespace scoutrix::upgrade

Q_DECLARE_METATYPE(scoutrix::upgrade::UpgradeProgress)
Q_DECLARE_METATYPE(scoutrix::upgrade::UpgradeOutcome)
