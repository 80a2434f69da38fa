#include "Settings.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace scoutrix::netsdk {

namespace {

std::string trimmed(const std::string &s)
{
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

} // namespace

std::string programDirectory()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return std::string();
    std::string p(path, std::size_t(n));
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

std::string iniValue(const std::string &group, const std::string &key)
{
    const std::string dir = programDirectory();
    if (dir.empty())
        return std::string();
    std::ifstream in(dir + "netsdk.ini");
    std::string line;
    std::string current;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            current = trimmed(line.substr(1, line.size() - 2));
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || current != group)
            continue;
        if (trimmed(line.substr(0, eq)) == key)
            return trimmed(line.substr(eq + 1));
    }
    return std::string();
}

int intSetting(const char *envName, const std::string &group, const std::string &key, int fallback)
{
    std::string text;
    if (const char *env = std::getenv(envName))
        text = env;
    if (text.empty())
        text = iniValue(group, key);
    if (text.empty())
        return fallback;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || v <= 0 || v > 600000)
        return fallback;
    return int(v);
}

} // namespace scoutrix::netsdk
