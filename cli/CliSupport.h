#pragma once
// What the commands of scoutrix-cli share: exit codes, the parsed command
// line, and the helpers for passwords, searches and device texts.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <QHash>
#include <QString>

#include "CliExit.h"
#include "DeviceRecords.h"

namespace scoutrix::cli {

struct Args
{
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    bool has(const std::string &k) const { return options.count(k) != 0; }
    std::string get(const std::string &k, const std::string &fallback = std::string()) const
    {
        const auto it = options.find(k);
        return it == options.end() ? fallback : it->second;
    }
};

// Prints "scoutrix-cli: message" to stderr and returns |code|.
int fail(int code, const std::string &message);
// A whole number within [lo, hi] (decimal, or 0x hexadecimal).
bool toInt(const std::string &text, long lo, long hi, long &out);
// --timeout within 1..600000, else |fallback|; -1 for a bad value.
int timeoutOf(const Args &a, int fallback);
// The password from --password, $SCOUTRIX_PASSWORD, a prompt without echo,
// or the factory default; |where| names the device(s) in the prompt.
bool passwordFor(const Args &a, const std::string &user, const std::string &where, std::string &password);
// One search; the records in arrival order.
int runSearch(int timeoutMs, std::vector<SearchRecord> &out);
// NetSdk_Login, and for a device found only by address that turns out to
// speak ONVIF there, the same login once a search has told the SDK so.
int32_t loginAt(const std::string &ip, uint16_t port, const std::string &user,
    const std::string &password, LoginInfo &info, int32_t &error);

// The devices a batch command acts on: every device the search finds (all),
// or each one named by IP or MAC (any case). A name no device answers for is
// an error before anything is sent. |chosen| points into |found|.
int chooseDevices(int timeoutMs, bool all, const std::vector<std::string> &named,
                  std::vector<SearchRecord> &found, std::vector<const SearchRecord *> &chosen);

// The notice's texts in English, whatever language the window was left in:
// read once from the language file beside the program, so worker threads
// only look up.
class EnglishTexts
{
public:
    EnglishTexts();
    QString text(const QString &key) const;

private:
    QHash<QString, QString> m_texts;
};

// Device texts: UTF-8 when valid, else Latin-1; neutralised for a terminal;
// quoted for JSON.
QString deviceText(const std::string &bytes);
std::string terminalText(const std::string &bytes);
std::string jsonText(const QString &s);

// scoutrix-cli batch ITEM ...: the system page's items over many devices.
int cmdBatch(const Args &a);
extern const char *const kBatchUsage;
// scoutrix-cli snapshot DEVICE --out F.png ...
int cmdSnapshot(const Args &a);
extern const char *const kSnapshotUsage;

// scoutrix-cli batch upgrade ...: firmware or a boot logo to many devices.
int cmdBatchUpgrade(const Args &a);

} // namespace scoutrix::cli
