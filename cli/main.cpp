// scoutrix-cli: the device network SDK from the command line, for installers
// who script and for tests.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTextCodec>

#include "ActivityLog.h"
#include "CliExit.h"
#include "CliSupport.h"
#include "ConfigRecords.h"
#include "DeviceRecords.h"
#include "LogoCommand.h"
#include "Net.h"
#include "NetSdk.h"
#include "NetSdkControl.h"
#include "Protocol.h"
#include "ResultTexts.h"

using namespace scoutrix;
using namespace scoutrix::cli;

namespace scoutrix::cli {

const char *const kUsage
    = "usage: scoutrix-cli [--discovery HOST:PORT[,...]] [--timeout MS] COMMAND ...\n"
      "  search [--json | --csv]             list the devices that answer; --json gives each\n"
      "                                      one's \"protocol\" (\"own\" or \"onvif\"); \"port\" is\n"
      "                                      an ONVIF device's HTTP port\n"
      "  set-ip MAC IP [--mask M] [--gateway G]\n"
      "                                      give the device with that MAC text a new address\n"
      "                                      (an ONVIF device: with the login options' user)\n"
      "  login IP [--port P]                 check a login, print the login block\n"
      "  get IP COMMAND [--channel C] [--size N] [--out FILE]\n"
      "                                      read a configuration record (hex dump, or raw to "
      "FILE)\n"
      "  set IP COMMAND --in FILE [--channel C]\n"
      "                                      write a configuration record from a raw file\n"
      "  reboot IP [--port P]\n"
      "  batch ITEM [options] (--all | DEVICE...)\n"
      "                                      one system item on many devices (see below)\n"
      "  logo --picture P (--device IP | --hardware-name H [--vendor V] [--version X]\n"
      "       [--start A --end A]) --out F\n"
      "                                      build the boot-logo package the upgrade page sends\n"
      "  snapshot DEVICE --out F.png [--channel N] [--stream main|sub]\n"
      "                                      one picture of the live stream, as a PNG\n"
      "login options: --port P (default 39510), --user U (admin), --password P\n"
      "  The password is taken from --password, else $SCOUTRIX_PASSWORD, else asked for\n"
      "  without echo when stdin is a terminal, else the factory default.\n"
      "Discovery goes to --discovery, else $SCOUTRIX_DISCOVERY, else netsdk.ini, else the "
      "broadcast\n"
      "address of every interface.\n"
      "exit codes: 0 ok, 1 refused or failed, 2 usage, 3 not found (also a search nobody\n"
      "            answered), 4 login refused, 5 timeout,\n"
      "            6 file error, 7 network error\n";

int fail(int code, const std::string &message)
{
    std::cerr << "scoutrix-cli: " << message << "\n";
    return code;
}

bool toInt(const std::string &text, long lo, long hi, long &out)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (*end || errno || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

std::string codeText(int32_t code)
{
    switch (code) {
    case proto::Ok:
        return "success";
    case proto::Fail:
        return "failed (-1)";
    case proto::NotSupported:
        return "not supported by the device (-3)";
    case proto::InvalidArgument:
        return "invalid argument (-10001)";
    case proto::InvalidHandle:
        return "not logged in (-10002)";
    case proto::NetworkError:
        return "network error (-10003)";
    case proto::ProtocolError:
        return "the device broke the protocol (-10004)";
    case proto::Timeout:
        return "timed out (-10005)";
    case proto::BufferTooSmall:
        return "record larger than the buffer (-10006)";
    case proto::WrongPassword:
        return "wrong password (-11301)";
    case proto::NoSuchUser:
        return "no such user (-11302)";
    case proto::Locked:
        return "user locked after wrong passwords (-11303)";
    case proto::BlackListed:
        return "this address is blacklisted (-11304)";
    case proto::InUse:
        return "no free session on the device (-11305)";
    case proto::NotFound:
        return "not found (-11307)";
    case proto::Uninitialised:
        return "device not initialised (-11317)";
    case proto::NeedReboot:
        return "accepted; restart the device to apply it (-11401)";
    default:
        return "result " + std::to_string(code);
    }
}

std::string loginCodeText(int32_t code)
{
    if (code == proto::LoginNetworkError)
        return "network error: the device cannot be reached (0)";
    if (code == proto::SystemBusy)
        return "the device is busy (7)";
    return codeText(code);
}

// Changes made from the command line go to the same activity log as the
// window's; a log that cannot be written is said, never fatal to the change.
void logChange(const std::string &mac, const std::string &serial, const std::string &model,
               const std::string &address, int operation, const std::string &oldValue,
               const std::string &newValue, int32_t code)
{
    ActivityEntry e;
    e.mac = deviceText(mac);
    e.serial = deviceText(serial);
    e.model = deviceText(model);
    e.address = QString::fromStdString(address);
    e.operation = operation;
    e.oldValue = QString::fromStdString(oldValue);
    e.newValue = QString::fromStdString(newValue);
    e.result = code;
    e.resultText = QString::fromStdString(codeText(code));
    if (!ActivityLog::instance().append(e))
        std::cerr << "scoutrix-cli: the activity log in "
                  << ActivityLog::instance().directory().toStdString() << " could not be written\n";
}

std::string netText(const NetInfo &n)
{
    return octetsText(n.ip) + " mask " + octetsText(n.mask) + " gw " + octetsText(n.gateway);
}

int exitForCode(int32_t code)
{
    if (code == proto::Timeout)
        return ExitTimeout;
    if (code == proto::NetworkError || code == proto::ProtocolError)
        return ExitNetwork;
    return ExitFailed;
}

int timeoutOf(const Args &a, int fallback)
{
    long v = fallback;
    if (a.has("timeout") && !toInt(a.get("timeout"), 1, 600000, v))
        return -1;
    return int(v);
}

// Texts from a device are 8-bit with no declared encoding: taken as UTF-8
// when they are valid UTF-8, else as Latin-1, so every byte means something.
QString deviceText(const std::string &bytes)
{
    QTextCodec::ConverterState state(QTextCodec::ConvertInvalidToNull);
    const QString utf8 = QTextCodec::codecForMib(106)->toUnicode(
        bytes.data(), int(bytes.size()), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return utf8;
    return QString::fromLatin1(bytes.data(), int(bytes.size()));
}

// C0, DEL, C1, the line and paragraph separators and the bidi overrides:
// characters that steer a terminal or reorder what the reader sees.
bool isSteering(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029
        || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069) || c == 0x200e
        || c == 0x200f || c == 0x061c;
}

// A device text for the terminal: steering characters as \xNN or \uNNNN, the
// backslash doubled so an escape cannot be forged.
std::string terminalText(const std::string &bytes)
{
    QString out;
    for (const QChar ch : deviceText(bytes)) {
        const char16_t c = ch.unicode();
        if (c == '\\')
            out += QStringLiteral("\\\\");
        else if (isSteering(c))
            out += (c < 0x100 ? QStringLiteral("\\x%1").arg(unsigned(c), 2, 16, QLatin1Char('0'))
                              : QStringLiteral("\\u%1").arg(unsigned(c), 4, 16, QLatin1Char('0')));
        else
            out += ch;
    }
    return out.toStdString();
}

std::string jsonText(const QString &s)
{
    QString out = QStringLiteral("\"");
    for (const QChar ch : s) {
        const char16_t c = ch.unicode();
        if (c == '"' || c == '\\')
            out += QLatin1Char('\\') + ch;
        else if (isSteering(c))
            out += QStringLiteral("\\u%1").arg(unsigned(c), 4, 16, QLatin1Char('0'));
        else
            out += ch; // a surrogate pair stays together and leaves as one UTF-8 sequence
    }
    out += QLatin1Char('"');
    return out.toStdString();
}

std::string jsonText(const std::string &s) { return jsonText(QString::fromStdString(s)); }

// Runs one search; the records in arrival order.
int runSearch(int timeoutMs, std::vector<SearchRecord> &out)
{
    std::vector<char> buffer(NETSDK_SEARCH_BUFFER_SIZE);
    int32_t bytes = 0;
    if (!NetSdk_SearchDevice(buffer.data(), int32_t(buffer.size()), &bytes, timeoutMs, 0)) {
        const netsdk::TargetChoice t = netsdk::resolveDiscoveryTargets();
        return fail(
            ExitNetwork, "search failed" + (t.error.empty() ? std::string() : ": " + t.error));
    }
    const std::size_t n = std::size_t(bytes) / sizeof(SearchRecord);
    out.resize(n);
    if (n)
        std::memcpy(out.data(), buffer.data(), n * sizeof(SearchRecord));
    return ExitOk;
}

int32_t loginAt(const std::string &ip, uint16_t port, const std::string &user,
    const std::string &password, LoginInfo &info, int32_t &error)
{
    int32_t handle
        = NetSdk_Login(ip.c_str(), port, user.c_str(), password.c_str(), &info, 1, &error, 0, 0);
    // An ONVIF device reached by address alone: the SDK learns what speaks at
    // an address from a search, so a login the own protocol could not make
    // sense of (no answer, a broken one, or the web server closing on it) is
    // tried again once a search has seen the device there.
    if (handle <= 0
        && (error == proto::Timeout || error == proto::ProtocolError
            || error == NETSDK_LOGIN_NET_ERROR)) {
        std::vector<char> buffer(NETSDK_SEARCH_BUFFER_SIZE);
        int32_t bytes = 0;
        NetSdk_SearchDevice(buffer.data(), int32_t(buffer.size()), &bytes, 3000, 0);
        const auto *records = reinterpret_cast<const SearchRecord *>(buffer.data());
        for (int32_t i = 0; i < bytes / int32_t(sizeof(SearchRecord)); ++i) {
            const SearchRecord &r = records[i];
            if (r.net.ipText() == ip && r.net.loginPort() == port
                && NetSdk_DeviceProtocol(r.net.macText().c_str()) == 1) {
                error = 0;
                handle = NetSdk_Login(
                    ip.c_str(), port, user.c_str(), password.c_str(), &info, 1, &error, 0, 0);
                break;
            }
        }
    }
    return handle;
}

int chooseDevices(int timeoutMs, bool all, const std::vector<std::string> &named,
                  std::vector<SearchRecord> &found, std::vector<const SearchRecord *> &chosen)
{
    chosen.clear();
    if (const int r = runSearch(timeoutMs, found))
        return r;
    auto pick = [&](const SearchRecord *r) {
        if (std::find(chosen.begin(), chosen.end(), r) == chosen.end())
            chosen.push_back(r);
    };
    if (all) {
        for (const SearchRecord &r : found)
            pick(&r);
        if (chosen.empty())
            return fail(ExitNotFound, "no device answered the search");
    }
    for (const std::string &name : named) {
        const QString wanted = QString::fromLocal8Bit(name.c_str());
        const SearchRecord *hit = nullptr;
        for (const SearchRecord &r : found) {
            if (QString::fromStdString(r.net.ipText()) == wanted
                || deviceText(r.net.macText()).compare(wanted, Qt::CaseInsensitive) == 0) {
                hit = &r;
                break;
            }
        }
        if (!hit)
            return fail(ExitNotFound, "no device with IP or MAC " + terminalText(name) + " answered the search");
        pick(hit);
    }
    return ExitOk;
}

EnglishTexts::EnglishTexts()
{
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return;
    const QString dir = QFileInfo(QString::fromLocal8Bit(exe, int(n))).absolutePath();
    QSettings ini(dir + QStringLiteral("/Language/Eng.ini"), QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    ini.beginGroup(QStringLiteral("Eng"));
    for (const QString &key : ini.allKeys())
        m_texts.insert(key, ini.value(key).toString());
}

QString EnglishTexts::text(const QString &key) const
{
    const QString t = m_texts.value(key);
    return t.isEmpty() ? key : t;
}

// For an ONVIF device the record's port is its device service's HTTP port.
const char *protocolText(const SearchRecord &r)
{
    return netsdk::protocolName(netsdk::protocolOf(r.net.macText()));
}

int cmdSearch(const Args &a)
{
    const int timeout = timeoutOf(a, 5000);
    if (timeout < 0)
        return fail(ExitUsage, "--timeout takes 1 to 600000 ms");
    std::vector<SearchRecord> records;
    if (const int r = runSearch(timeout, records))
        return r;
    const bool json = a.has("json"), csv = a.has("csv");
    if (json) {
        std::cout << "[\n";
        for (std::size_t i = 0; i < records.size(); ++i) {
            const SearchRecord &r = records[i];
            std::cout << "  {\"ip\": " << jsonText(r.net.ipText())
                      << ", \"mask\": " << jsonText(octetsText(r.net.mask))
                      << ", \"gateway\": " << jsonText(octetsText(r.net.gateway))
                      << ", \"port\": " << r.net.portValue()
                      << ", \"mac\": " << jsonText(deviceText(r.net.macText()))
                      << ", \"model\": " << jsonText(deviceText(r.dev.modelText()))
                      << ", \"serial\": " << jsonText(deviceText(r.dev.serialText()))
                      << ", \"type\": " << jsonText(QString::fromLatin1(deviceTypeName(r.dev.deviceType())))
                      << ", \"type_code\": " << r.dev.deviceType()
                      << ", \"protocol\": " << jsonText(std::string(protocolText(r))) << "}"
                      << (i + 1 < records.size() ? "," : "") << "\n";
        }
        std::cout << "]\n";
    } else if (csv) {
        // The same quoting and formula guard as the activity log's export.
        std::string text = ActivityLog::csvLine({ QStringLiteral("ip"), QStringLiteral("mask"),
            QStringLiteral("gateway"), QStringLiteral("port"), QStringLiteral("mac"),
            QStringLiteral("model"), QStringLiteral("serial"), QStringLiteral("type") })
                               .toStdString();
        for (const SearchRecord &r : records) {
            text += ActivityLog::csvLine({ QString::fromStdString(r.net.ipText()),
                QString::fromStdString(octetsText(r.net.mask)),
                QString::fromStdString(octetsText(r.net.gateway)),
                QString::number(r.net.portValue()), deviceText(r.net.macText()),
                deviceText(r.dev.modelText()), deviceText(r.dev.serialText()),
                QString::fromLatin1(deviceTypeName(r.dev.deviceType())) })
                        .toStdString();
        }
        std::cout << text;
    } else {
        // Padded by characters, not bytes, so a non-ASCII model keeps the columns.
        auto cell = [](const std::string &text, int width) {
            return QString::fromStdString(text).leftJustified(width).toStdString();
        };
        std::cout << cell("IP", 16) << ' ' << cell("PORT", 6) << ' ' << cell("MAC", 18) << ' '
                  << cell("TYPE", 5) << ' ' << cell("MODEL", 14) << ' ' << cell("SERIAL", 20)
                  << " PROTOCOL\n";
        for (const SearchRecord &r : records)
            std::cout << cell(r.net.ipText(), 16) << ' '
                      << cell(std::to_string(r.net.portValue()), 6) << ' '
                      << cell(terminalText(r.net.macText()), 18) << ' '
                      << cell(deviceTypeName(r.dev.deviceType()), 5) << ' '
                      << cell(terminalText(r.dev.modelText()), 14) << ' '
                      << cell(terminalText(r.dev.serialText()), 20) << ' ' << protocolText(r)
                      << "\n";
        std::cout << records.size() << " device(s)\n";
    }
    if (records.empty())
        return fail(ExitNotFound, "no device answered the search");
    return ExitOk;
}

bool octetsOf(const std::string &text, uint8_t out[4])
{
    uint32_t v;
    if (!net::parseIpv4(text, v))
        return false;
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(v >> (24 - 8 * i));
    return true;
}

bool passwordFor(const Args &a, const std::string &user, const std::string &where, std::string &password);

int cmdSetIp(const Args &a)
{
    if (a.positional.size() != 3)
        return fail(ExitUsage, "set-ip takes MAC and IP");
    const std::string mac = a.positional[1];
    uint8_t ip[4], mask[4], gw[4];
    if (!octetsOf(a.positional[2], ip))
        return fail(ExitUsage, "not an IPv4 address: " + a.positional[2]);
    if (a.has("mask") && !octetsOf(a.get("mask"), mask))
        return fail(ExitUsage, "not a mask: " + a.get("mask"));
    if (a.has("gateway") && !octetsOf(a.get("gateway"), gw))
        return fail(ExitUsage, "not a gateway address: " + a.get("gateway"));
    const int timeout = timeoutOf(a, 10000);
    if (timeout < 0)
        return fail(ExitUsage, "--timeout takes 1 to 600000 ms");
    // The device takes back the network record it answered the search with.
    std::vector<SearchRecord> records;
    if (const int r = runSearch(5000, records))
        return r;
    const SearchRecord *found = nullptr;
    for (const SearchRecord &r : records) {
        if (r.net.macText() == mac) {
            found = &r;
            break;
        }
    }
    if (!found)
        return fail(ExitNotFound, "no device with MAC " + mac + " answered the search");
    NetInfo net = found->net;
    std::memcpy(net.ip, ip, 4);
    if (a.has("mask"))
        std::memcpy(net.mask, mask, 4);
    if (a.has("gateway"))
        std::memcpy(net.gateway, gw, 4);
    // An ONVIF device takes a new address only with a login, the same one
    // the other commands use.
    if (NetSdk_DeviceProtocol(mac.c_str()) == 1) {
        const std::string user = a.get("user", "admin");
        std::string password;
        if (!passwordFor(a, user, mac, password))
            return fail(ExitUsage, "no password read");
        NetSdk_SetDefaultCredentials(user.c_str(), password.c_str());
    }
    const int32_t r = NetSdk_SetConfigWithoutLogin(20, -1, &net, int32_t(sizeof net), timeout);
    logChange(mac, found->dev.serialText(), found->dev.modelText(), octetsText(found->net.ip),
              ResultTexts::OpModifyIP, netText(found->net), netText(net), r);
    if (r != 0)
        return fail(exitForCode(r), "set-ip " + mac + ": " + codeText(r));
    std::cout << mac << " -> " << octetsText(net.ip) << "\n";
    return ExitOk;
}

struct Login
{
    int32_t handle = 0;
    LoginInfo info {};
    ~Login()
    {
        if (handle > 0)
            NetSdk_Logout(handle);
    }
};

// A password on the command line shows in the process list; the variable and
// the prompt keep it out.
bool passwordFor(const Args &a, const std::string &user, const std::string &where, std::string &password)
{
    if (a.has("password")) {
        password = a.get("password");
        return true;
    }
    if (const char *env = std::getenv("SCOUTRIX_PASSWORD")) {
        password = env;
        return true;
    }
    termios saved {};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved) != 0) {
        password = "739204"; // the factory default
        return true;
    }
    // Echo goes off before the prompt shows, so nothing typed after it is lost or seen.
    termios quiet = saved;
    quiet.c_lflag &= tcflag_t(~ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::cerr << "password for " << user << " on " << where
              << " (empty: factory default): " << std::flush;
    const bool ok = bool(std::getline(std::cin, password));
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    if (ok && password.empty())
        password = "739204";
    return ok;
}

int doLogin(const Args &a, Login &login)
{
    if (a.positional.size() < 2)
        return fail(ExitUsage, a.positional[0] + " needs the device's IP");
    long port = proto::ServicePort;
    if (a.has("port") && !toInt(a.get("port"), 1, 65535, port))
        return fail(ExitUsage, "--port takes 1 to 65535");
    uint32_t ignored;
    if (!net::parseIpv4(a.positional[1], ignored))
        return fail(ExitUsage, "not an IPv4 address: " + a.positional[1]);
    const std::string user = a.get("user", "admin");
    std::string password;
    if (!passwordFor(a, user, a.positional[1], password))
        return fail(ExitUsage, "no password read");
    int32_t error = 0;
    std::memset(&login.info, 0, sizeof login.info);
    login.handle = loginAt(a.positional[1], uint16_t(port), user, password, login.info, error);
    if (login.handle <= 0)
        return fail(error == proto::Timeout ? ExitTimeout : ExitLogin,
            "login to " + a.positional[1] + " refused: " + loginCodeText(error));
    return ExitOk;
}

int cmdLogin(const Args &a)
{
    Login login;
    if (const int r = doLogin(a, login))
        return r;
    std::cout << "login ok: " << a.positional[1] << "\n"
              << "version: " << terminalText(login.info.versionText()) << "\n"
              << "type: " << deviceTypeName(login.info.loginDeviceType()) << " ("
              << login.info.loginDeviceType() << ")\n"
              << "video channels: " << login.info.videoChannelCount() << "\n"
              << "audio channels: " << login.info.audioChannelCount() << "\n";
    return ExitOk;
}

bool commandAndChannel(const Args &a, long &command, long &channel)
{
    channel = -1;
    return a.positional.size() == 3 && toInt(a.positional[2], 0, 0x7fffffff, command)
        && (!a.has("channel") || toInt(a.get("channel"), -1, 255, channel));
}

void hexDump(const std::vector<uint8_t> &bytes)
{
    for (std::size_t off = 0; off < bytes.size(); off += 16) {
        std::printf("%08zx ", off);
        std::string ascii;
        for (std::size_t i = off; i < off + 16; ++i) {
            if (i < bytes.size()) {
                std::printf(" %02x", bytes[i]);
                ascii += (bytes[i] >= 0x20 && bytes[i] < 0x7f) ? char(bytes[i]) : '.';
            } else {
                std::printf("   ");
            }
        }
        std::printf("  |%s|\n", ascii.c_str());
    }
}

int cmdGet(const Args &a)
{
    long command, channel, size = 1 << 20;
    if (!commandAndChannel(a, command, channel))
        return fail(ExitUsage, "get takes IP and a command number; --channel -1..255");
    if (a.has("size") && !toInt(a.get("size"), 1, 1 << 20, size))
        return fail(ExitUsage, "--size takes 1 to 1048576");
    const int timeout = timeoutOf(a, 5000);
    if (timeout < 0)
        return fail(ExitUsage, "--timeout takes 1 to 600000 ms");
    Login login;
    if (const int r = doLogin(a, login))
        return r;
    std::vector<uint8_t> buffer(std::size_t(size), 0);
    int32_t got = 0;
    const int32_t r = NetSdk_GetConfig(login.handle, int32_t(command), int32_t(channel),
        buffer.data(), int32_t(buffer.size()), &got, timeout);
    // Only 0 is a record; a positive result is a device's refusal all the same.
    if (r != 0)
        return fail(exitForCode(r),
            "get " + std::to_string(command) + ": " + codeText(r)
                + (r == proto::BufferTooSmall ? " (" + std::to_string(got) + " bytes)" : ""));
    buffer.resize(std::size_t(got));
    if (a.has("out")) {
        std::ofstream out(a.get("out"), std::ios::binary | std::ios::trunc);
        if (!out
            || !out.write(
                reinterpret_cast<const char *>(buffer.data()), std::streamsize(buffer.size())))
            return fail(ExitFile, "cannot write " + a.get("out"));
        std::cerr << got << " bytes written to " << a.get("out") << "\n";
    } else {
        hexDump(buffer);
    }
    return ExitOk;
}

// A record file: a regular file no larger than a record can be. Opened
// without blocking, so a FIFO named by mistake is refused instead of waited on.
int readRecordFile(const std::string &path, std::string &data)
{
    const std::size_t limit = proto::MaxTcpPayload - 8;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(ExitFile, "cannot read " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(ExitFile, path + " is not a regular file");
    }
    if (std::size_t(st.st_size) > limit) {
        ::close(fd);
        return fail(ExitFile,
            path + " is larger than a record (" + std::to_string(limit) + " bytes at most)");
    }
    // Read at most one byte past the limit: the file may grow after the check.
    data.resize(limit + 1);
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, &data[got], data.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const std::string why = std::strerror(errno);
            ::close(fd);
            return fail(ExitFile, "cannot read " + path + ": " + why);
        }
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    ::close(fd);
    if (got > limit)
        return fail(ExitFile, path + " is larger than a record");
    data.resize(got);
    return ExitOk;
}

int cmdSet(const Args &a)
{
    long command, channel;
    if (!commandAndChannel(a, command, channel) || !a.has("in"))
        return fail(ExitUsage, "set takes IP, a command number and --in FILE; --channel -1..255");
    const int timeout = timeoutOf(a, 5000);
    if (timeout < 0)
        return fail(ExitUsage, "--timeout takes 1 to 600000 ms");
    std::string data;
    if (const int r = readRecordFile(a.get("in"), data))
        return r;
    Login login;
    if (const int r = doLogin(a, login))
        return r;
    const int32_t r = NetSdk_SetConfig(login.handle, int32_t(command), int32_t(channel),
        data.data(), int32_t(data.size()), timeout);
    logChange(std::string(), std::string(), login.info.versionText(), a.positional[1], ResultTexts::OpSetRecord,
              std::string(), "command " + std::to_string(command) + " channel " + std::to_string(channel) + ", "
                  + std::to_string(data.size()) + " bytes",
              r);
    if (r != 0) {
        if (r == proto::NeedReboot) {
            std::cout << "set " << command << ": " << codeText(r) << "\n";
            return ExitOk;
        }
        return fail(exitForCode(r), "set " + std::to_string(command) + ": " + codeText(r));
    }
    std::cout << "set " << command << ": " << data.size() << " bytes accepted\n";
    return ExitOk;
}

int cmdReboot(const Args &a)
{
    const int timeout = timeoutOf(a, 10000);
    if (timeout < 0)
        return fail(ExitUsage, "--timeout takes 1 to 600000 ms");
    Login login;
    if (const int r = doLogin(a, login))
        return r;
    const bool rebooted = NetSdk_Reboot(login.handle, 0, timeout);
    logChange(std::string(), std::string(), login.info.versionText(), a.positional[1], ResultTexts::OpReboot,
              std::string(), std::string(), rebooted ? 0 : -1);
    if (!rebooted)
        return fail(ExitFailed, "reboot of " + a.positional[1] + " failed");
    std::cout << "rebooting " << a.positional[1] << "\n";
    return ExitOk;
}

// The logo command's device read: the login every command makes, then the
// hardware record with the upgrade page's timeout.
int readHardware(const Args &a, const std::string &ip, HardwareRecord &hw)
{
    const int timeout = timeoutOf(a, 4000);
    if (timeout < 0)
        return fail(ExitUsage, "--timeout takes 1 to 600000 ms");
    Args target = a;
    target.positional = { "logo", ip };
    Login login;
    if (const int r = doLogin(target, login))
        return r;
    int32_t got = 0;
    const int32_t r
        = NetSdk_GetConfig(login.handle, CmdHardware, -1, hw.bytes, int32_t(sizeof hw.bytes), &got, timeout);
    if (r != 0)
        return fail(exitForCode(r), "get 61 (hardware record) from " + ip + ": " + codeText(r));
    return ExitOk;
}


} // namespace scoutrix::cli

using namespace scoutrix::cli;

int main(int argc, char **argv)
{
    Args a;
    static const char *const flags[] = { "json", "csv", "all", "off" };
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "--help" || s == "-h") {
            std::cout << kUsage << kBatchUsage;
            return ExitOk;
        }
        if (s.rfind("--", 0) == 0 && s.size() > 2) {
            const std::string key = s.substr(2);
            bool isFlag = false;
            for (const char *f : flags)
                isFlag = isFlag || key == f;
            if (isFlag) {
                a.options[key] = "1";
            } else if (i + 1 < argc) {
                a.options[key] = argv[++i];
            } else {
                return fail(ExitUsage, s + " needs a value\n" + kUsage);
            }
        } else {
            a.positional.push_back(s);
        }
    }
    if (a.positional.empty())
        return fail(ExitUsage, std::string("no command given\n") + kUsage);
    // A batch item checks its own options.
    static const char *const known[] = { "json", "csv", "discovery", "timeout", "mask", "gateway",
        "port", "user", "password", "channel", "size", "out", "in",
        "picture", "device", "hardware-name", "vendor", "version", "start", "end", "stream" };
    for (const auto &kv : a.options) {
        bool ok = a.positional[0] == "batch";
        for (const char *k : known)
            ok = ok || kv.first == k;
        if (!ok)
            return fail(ExitUsage, "unknown option --" + kv.first + "\n" + kUsage);
    }
    if (a.has("discovery")) {
        std::vector<net::Endpoint> targets;
        std::string error;
        if (!net::parseEndpointList(a.get("discovery"), targets, error))
            return fail(ExitUsage, "--discovery: " + error);
        netsdk::setDiscoveryTargets(targets);
    }
    NetSdk_Init(0, 0);
    const std::string &cmd = a.positional[0];
    if (cmd == "search")
        return cmdSearch(a);
    if (cmd == "set-ip")
        return cmdSetIp(a);
    if (cmd == "login")
        return cmdLogin(a);
    if (cmd == "get")
        return cmdGet(a);
    if (cmd == "set")
        return cmdSet(a);
    if (cmd == "reboot")
        return cmdReboot(a);
    if (cmd == "batch")
        return cmdBatch(a);
    if (cmd == "snapshot")
        return cmdSnapshot(a);
    if (cmd == "logo")
        return runLogoCommand(
            a.options, [&a](const std::string &ip, HardwareRecord &hw) { return readHardware(a, ip, hw); });
    return fail(ExitUsage, "unknown command " + cmd + "\n" + kUsage);
}
