#pragma once
// Runs one item of the system page over many devices, off the GUI thread.
// Devices are handled in the order given (the page's tree order) in a pool of
// at most jobs() at once; each one is logged in afresh, given the item's
// exchange in the order the device expects, logged out, and reported as soon
// as it finishes. The page and scoutrix-cli drive the same class.
//
// Sessions are the batch's own: a session another page holds on the device
// is left alone.

#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "DeviceRecords.h"
#include "ResultTexts.h"
#include "SystemItems.h"

namespace scoutrix::syscfg {

// One checked device, copied out of the device list: the batch never holds
// a pointer into it.
// The page's key (deviceIndex) is only handed back.
using BatchTarget = DeviceTarget;

// One operation's outcome within a device's exchange.
struct StepResult
{
    int operation = 0;
    int code = 0;
    // A check whose failure does not decide the mark (the light capability
    // read that failed before a set that was sent anyway).
    bool advisory = false;
};

struct DeviceOutcome
{
    int deviceIndex = -1;
    std::string mac;
    std::string ip;
    // The mark: the first step that failed (advisory steps aside), else the
    // item's last step (its set, not the reboot that may follow it). Shown
    // as ok when isOkOutcome(code, operation).
    int code = 0;
    int operation = 0;
    // Every outcome the notice names, in the order they happened (Onvif then
    // DHCP; the capability check before a light-mode set; the reboot after a
    // set that answered -11401; ...).
    QVector<StepResult> steps;
    // A line for the notice: the name was cut to N bytes, the file written...
    QString detail;
};

// Whether a code shows the ok mark: 0 or above, or -11401 (the device took
// the setting and restarts).
bool isOkCode(int code);
// Whether an outcome shows the ok mark: isOkCode(), and also -10005 after a
// restore that included the network settings (the device moved to its
// factory address and the answer could not reach back: "HaveModify").
bool isOkOutcome(int code, int operation);

// Program codes for outcomes no device returned.
enum BatchCode : int {
    // Pattern B: another checked device could not log in, so nothing was sent.
    CodeNotSent = ResultTexts::CodeNotSent,
    // Export: the device answered, but the file could not be written.
    CodeFileNotWritten = ResultTexts::CodeFileNotWritten,
};

// Turns a language key into the text shown; CMultiLanguage::text when empty.
using TextLookup = std::function<QString(const QString &key)>;

// A device's outcome in words, as its notice reads: the result text, each
// step named when there are several ("Onvif: Successful; DHCP: Failed"),
// then the detail line.
QString outcomeText(const DeviceOutcome &outcome, const TextLookup &lookup = TextLookup());

class SystemBatch : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SystemBatch)

public:
    static constexpr int DefaultJobs = 8;

    explicit SystemBatch(QObject *parent = nullptr);
    // Waits for the devices under way; none is started after cancel().
    ~SystemBatch() override;

    void setJobs(int jobs); // 1 or more; takes effect at the next start()
    int jobs() const;
    // How detail lines are worded (scoutrix-cli asks for English); takes
    // effect at the next start().
    void setTextLookup(TextLookup lookup);

    // Starts a batch; false (and nothing happens) while one runs or when
    // |targets| is empty.
    bool start(const ItemRequest &request, const QVector<BatchTarget> &targets);
    bool isRunning() const;

    // The answer to confirmationNeeded(): yes applies to every device that
    // logged in, no logs them out and ends the batch with nothing sent.
    void confirm(bool yes);
    // No device starts after this; a device under way finishes.
    void cancel();

    // Blocks until the batch ends (scoutrix-cli, tests); false on timeout.
    bool waitForFinished(int timeoutMs = -1);

signals:
    // Signals come from worker threads; connect queued to widgets.
    void deviceFinished(const scoutrix::syscfg::DeviceOutcome &outcome);
    void progress(int done, int total);
    // Asking items: every checked device logged in; ask, then call confirm().
    void confirmationNeeded(int devices);
    // Asking items: a login failed, so the item goes to no device. The
    // failed devices were reported with OpLogin; the others with CodeNotSent.
    void refusedForLogin(int failedLogins);
    // |applied| is how many devices the item was sent to; |cancelled| whether
    // cancel() cut the batch short.
    void finished(int applied, bool cancelled);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace scoutrix::syscfg

Q_DECLARE_METATYPE(scoutrix::syscfg::DeviceOutcome)
