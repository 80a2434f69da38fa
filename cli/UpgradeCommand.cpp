// scoutrix-cli batch upgrade: firmware or a boot logo to many devices through
// the upgrade page's own engine, each device verified after its reboot.

#include <atomic>
#include <csignal>
#include <iostream>
#include <map>
#include <mutex>
#include <set>

#include <QFileInfo>

#include "CliSupport.h"
#include "ResultTexts.h"
#include "UpgradeBatch.h"

namespace scoutrix::cli {

namespace {

using namespace scoutrix::upgrade;

std::atomic<bool> g_interrupted { false };

void onInterrupt(int) { g_interrupted = true; }

const char *stageWord(Stage stage)
{
    switch (stage) {
    case Stage::Queued:
        return "queued";
    case Stage::Preparing:
        return "preparing";
    case Stage::Sending:
        return "SendData";
    case Stage::Writing:
        return "Progress";
    case Stage::Verifying:
        return "verifying";
    case Stage::Done:
        break;
    }
    return "done";
}

} // namespace

int cmdBatchUpgrade(const Args &a)
{
    static const std::set<std::string> known
        = { "discovery", "timeout", "user", "password", "jobs", "json", "all", "file", "type", "comeback" };
    for (const auto &kv : a.options) {
        if (!known.count(kv.first))
            return fail(ExitUsage, "batch upgrade takes no option --" + kv.first);
    }
    const std::vector<std::string> named(a.positional.begin() + 2, a.positional.end());
    const bool all = a.has("all");
    if (all == !named.empty())
        return fail(ExitUsage, "batch upgrade takes --all or DEVICE..., not both and not neither");
    const std::string file = a.get("file");
    if (file.empty())
        return fail(ExitUsage, "batch upgrade needs --file F");
    const QFileInfo info(QString::fromLocal8Bit(file.c_str()));
    if (!info.isFile() || !info.isReadable())
        return fail(ExitFile, "cannot read " + terminalText(file));

    UpgradeSettings settings = UpgradeSettings::fromIni();
    long value = 0;
    if (a.has("jobs")) {
        if (!toInt(a.get("jobs"), 1, 64, value))
            return fail(ExitUsage, "--jobs takes 1 to 64");
        settings.jobs = int(value);
    }
    if (a.has("type")) {
        if (!toInt(a.get("type"), 0, 2, value))
            return fail(ExitUsage, "--type takes 0 (upgrade), 1 (and super reset) or 2 (and delete logs)");
        settings.upgradeType = int(value);
    }
    if (a.has("comeback")) {
        if (!toInt(a.get("comeback"), 1, 3600, value))
            return fail(ExitUsage, "--comeback takes 1 to 3600 s");
        settings.comebackS = int(value);
    }
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

    const std::string absolute = info.absoluteFilePath().toLocal8Bit().toStdString();
    QVector<UpgradeTarget> targets;
    for (const SearchRecord *r : chosen) {
        UpgradeTarget t;
        static_cast<DeviceTarget &>(t) = DeviceTarget::of(*r, targets.size(), user, password);
        t.file = absolute;
        targets.append(t);
    }

    const auto english = std::make_shared<EnglishTexts>();
    UpgradeBatch batch;
    batch.setSettings(settings);
    batch.setTextLookup([english](const QString &key) { return english->text(key); });
    const bool json = a.has("json");
    std::ostream &progressOut = json ? std::cerr : std::cout;
    std::mutex m;
    std::map<int, UpgradeOutcome> outcomes; // by device index: the order of the command line
    std::map<int, std::pair<Stage, int>> shown;
    QObject::connect(&batch, &UpgradeBatch::progress, &batch, [&](const UpgradeProgress &p) {
        std::lock_guard<std::mutex> lock(m);
        auto &last = shown[p.deviceIndex];
        // A line per stage and per tenth: enough to follow, little enough to read.
        const bool sameStage = last.first == p.stage && (p.stage != Stage::Queued || last.second != 0);
        if (sameStage && p.percent / 10 == last.second / 10)
            return;
        last = { p.stage, p.percent };
        const UpgradeTarget &t = targets.at(p.deviceIndex);
        progressOut << t.ip << ' ' << stageWord(p.stage);
        if (p.stage == Stage::Sending || p.stage == Stage::Writing)
            progressOut << ' ' << p.percent << '%';
        progressOut << std::endl;
    }, Qt::DirectConnection);
    QObject::connect(&batch, &UpgradeBatch::deviceFinished, &batch, [&](const UpgradeOutcome &o) {
        std::lock_guard<std::mutex> lock(m);
        outcomes[o.deviceIndex] = o;
        progressOut << o.ip << ' ' << (o.ok() ? "UpgradeSuccess" : "UpgradeFail") << ' '
                    << terminalText(o.text.toStdString()) << std::endl;
    }, Qt::DirectConnection);

    // Ctrl-C: no device starts after it; a device being written is never cut off.
    struct sigaction sa {};
    struct sigaction oldInt {};
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &oldInt);
    batch.enqueue(targets);
    bool cancelled = false;
    while (!batch.waitForFinished(100)) {
        if (g_interrupted && !cancelled) {
            cancelled = true;
            batch.cancel();
            std::cerr << "scoutrix-cli: interrupted; waiting for the devices under way\n";
        }
    }
    ::sigaction(SIGINT, &oldInt, nullptr);

    bool loginFailed = false, otherFailed = false;
    for (const auto &kv : outcomes) {
        if (kv.second.ok())
            continue;
        (kv.second.operation == ResultTexts::OpLogin ? loginFailed : otherFailed) = true;
    }
    if (json) {
        std::cout << "[\n";
        std::size_t i = 0;
        for (const auto &kv : outcomes) {
            const UpgradeOutcome &o = kv.second;
            std::cout << "  {\"ip\": " << jsonText(QString::fromStdString(o.ip))
                      << ", \"mac\": " << jsonText(deviceText(o.mac)) << ", \"code\": " << o.code
                      << ", \"text\": " << jsonText(o.text)
                      << ", \"version\": " << jsonText(deviceText(o.version)) << "}"
                      << (++i < outcomes.size() ? "," : "") << "\n";
        }
        std::cout << "]\n";
    } else {
        auto cell = [](const std::string &text, int width) {
            return QString::fromStdString(text).leftJustified(width).toStdString();
        };
        std::cout << cell("IP", 16) << ' ' << cell("MAC", 18) << ' ' << cell("CODE", 7) << ' '
                  << cell("VERSION", 24) << " RESULT\n";
        for (const auto &kv : outcomes) {
            const UpgradeOutcome &o = kv.second;
            std::cout << cell(o.ip, 16) << ' ' << cell(terminalText(o.mac), 18) << ' '
                      << cell(std::to_string(o.code), 7) << ' ' << cell(terminalText(o.version), 24) << ' '
                      << terminalText(o.text.toStdString()) << "\n";
        }
    }
    if (cancelled)
        std::cerr << "scoutrix-cli: interrupted; " << outcomes.size() << " of " << targets.size()
                  << " device(s) upgraded or refused\n";
    if (otherFailed || cancelled)
        return ExitFailed;
    if (loginFailed)
        return ExitLogin;
    return ExitOk;
}

} // namespace scoutrix::cli
