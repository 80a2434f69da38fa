#include "LogoCommand.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>

#include "CliExit.h"
#include "LogoBuilder.h"

namespace scoutrix::cli {

namespace {

// The area a cramfs board gets when neither its name nor --start/--end gives
// one: the 64 KiB the squashfs boards use.
constexpr uint32_t kDefaultStart = 0x790000, kDefaultEnd = 0x7A0000;

int usage(const std::string &message)
{
    std::cerr << "scoutrix-cli: logo: " << message << "\n";
    return ExitUsage;
}

bool address(const std::string &text, uint32_t &out)
{
    if (text.empty() || text[0] == '-')
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (*end || errno || v > 0xFFFFFFFFull)
        return false;
    out = uint32_t(v);
    return true;
}

std::string hex(uint32_t v)
{
    return "0x" + QString::number(v, 16).toUpper().rightJustified(6, QLatin1Char('0')).toStdString();
}

// The hardware name may come from a device: anything but printable ASCII
// is shown as \xNN, so no byte can steer the terminal.
std::string printable(const std::string &text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += char(c);
        } else {
            static const char digits[] = "0123456789abcdef";
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

const char *failureText(int code)
{
    switch (code) {
    case LogoBuilder::OverSize:
        return "the image is larger than the device's logo area; choose a smaller picture";
    case LogoBuilder::SquashfsFailed:
        return "mksquashfs failed or is not installed (squashfs-tools)";
    case LogoBuilder::CramfsFailed:
        return "mkfs.cramfs failed or is not installed (util-linux)";
    case LogoBuilder::ImageFailed:
        return "mkimage failed or is not installed (u-boot-tools)";
    case LogoBuilder::ZipFailed:
        return "the package could not be zipped";
    case LogoBuilder::BadArea:
        return "the logo area ends before it starts";
    default:
        return "the picture could not be read or the package could not be written";
    }
}

} // namespace

int runLogoCommand(const std::map<std::string, std::string> &options, const HardwareReader &readHardware)
{
    const auto get = [&](const char *key) {
        const auto it = options.find(key);
        return it == options.end() ? std::string() : it->second;
    };
    const auto has = [&](const char *key) { return options.count(key) != 0; };
    const std::string picture = get("picture"), out = get("out");
    if (picture.empty() || out.empty())
        return usage("needs --picture P and --out F");
    if (has("device") == has("hardware-name"))
        return usage("needs either --device IP or --hardware-name H");
    if (LogoBuilder::pictureType(QString::fromStdString(picture)) == 0)
        return usage("the picture must be a .jpg, .bmp or .gif file: " + picture);

    HardwareRecord hw {};
    if (has("device")) {
        for (const char *k : { "vendor", "version", "start", "end" }) {
            if (has(k))
                return usage(std::string("--") + k + " goes with --hardware-name; a device sends its own");
        }
        if (const int r = readHardware(get("device"), hw))
            return r;
    } else {
        const std::string name = get("hardware-name"), vendor = get("vendor"), version = get("version");
        if (name.empty() || name.size() >= HardwareRecord::NameBytes)
            return usage("--hardware-name takes 1 to 31 bytes");
        if (vendor.size() >= HardwareRecord::VendorBytes)
            return usage("--vendor takes at most 63 bytes");
        if (version.size() >= HardwareRecord::VersionBytes)
            return usage("--version takes at most 31 bytes");
        uint32_t start = kDefaultStart, end = kDefaultEnd;
        if ((has("start") && !address(get("start"), start)) || (has("end") && !address(get("end"), end)))
            return usage("--start and --end take an address (0x7A0000 or decimal)");
        hw.setHardwareName(name);
        hw.setVendorText(vendor);
        hw.setVersionText(version);
        hw.setArea(start, end);
    }

    // The packing tools run as processes, which want an application object.
    int argc = 1;
    char name[] = "scoutrix-cli";
    char *argv[] = { name, nullptr };
    QCoreApplication app(argc, argv);
    // The builder's trace is for the window's debug stream; why a step
    // failed still shows, as a warning.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    const LogoFormat format = LogoBuilder::chooseFormat(hw);
    const LogoArea area = LogoBuilder::area(hw, format);
    const LogoResult r = LogoBuilder().build(QString::fromStdString(picture), hw, QString::fromStdString(out));
    const std::string what = "hardware " + printable(hw.hardwareName()) + ", " + LogoBuilder::formatWord(format).toStdString()
        + ", area " + hex(area.start) + "-" + hex(area.end);
    if (!r.ok()) {
        std::cerr << "scoutrix-cli: logo (" << what << "): " << failureText(r.code) << " [" << r.messageKey.toStdString()
                  << ", " << r.code << "]\n";
        return r.code == LogoBuilder::FileError ? ExitFile : ExitFailed;
    }
    std::cout << "logo package written to " << out << " (" << what << ", "
              << QFileInfo(r.packagePath).size() << " bytes)\n";
    return ExitOk;
}

} // namespace scoutrix::cli
