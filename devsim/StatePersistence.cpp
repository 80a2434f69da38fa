#include "StatePersistence.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <iostream>

#include "EmulatorState.h"

namespace scoutrix::devsim {

void StatePersistence::save()
{
    const EmulatorOptions &options = m_state.options;
    if (options.stateFile.empty())
        return;
    JsonOut list = JsonOut::array();
    for (const auto &dp : m_state.devices) {
        const DeviceModel &m = dp->model;
        JsonOut v = JsonOut::object();
        v["serial"] = m.spec().serial;
        v["ip"] = net::ipv4Text(m.spec().ip);
        v["mask"] = net::ipv4Text(m.spec().mask);
        v["gateway"] = net::ipv4Text(m.spec().gateway);
        v["clock_offset_s"] = m.clockOffset();
        // Written firmware and logo survive a restart, as on a device.
        v["version"] = m.spec().version;
        v["build"] = JsonOut(std::vector<int>(m.spec().build, m.spec().build + 6));
        if (!m.logo().empty())
            v["logo"] = m.logo();
        JsonOut records = JsonOut::array();
        for (const auto &key : m.changedRecords()) {
            const auto it = m.records().find(key);
            if (it == m.records().end())
                continue;
            JsonOut r = JsonOut::object();
            r["command"] = key.first;
            r["channel"] = key.second;
            r["hex"] = hexEncode(it->second);
            records.push_back(std::move(r));
        }
        v["records"] = std::move(records);
        list.push_back(std::move(v));
    }
    JsonOut root = JsonOut::object();
    root["devices"] = std::move(list);
    std::string error;
    if (!writeFileAtomically(options.stateFile, root.dump(2) + "\n", error)) {
        // Changes that will be lost at the next start are worth a word even
        // without --verbose.
        ++m_state.stats.stateWriteFailures;
        std::cerr << "scoutrix-devsim: state file: " << error << std::endl;
        m_state.log("state file: " + error);
    }
}

bool StatePersistence::load(std::string &error)
{
    const EmulatorOptions &options = m_state.options;
    struct stat st {};
    if (options.stateFile.empty() || ::lstat(options.stateFile.c_str(), &st) != 0)
        return true;
    // Every later save would be refused; better to say so before serving.
    if (!S_ISREG(st.st_mode)) {
        error = options.stateFile + " is not a regular file";
        return false;
    }
    std::string text;
    JsonIn root;
    if (!readFile(options.stateFile, text, error) || !parseJson(text, root, error)) {
        error = options.stateFile + ": " + error;
        return false;
    }
    if (!root.is_object() || !root.contains("devices") || !root["devices"].is_array())
        return true;
    auto text_ = [](const JsonIn &v, const char *key, std::string &out) {
        const auto it = v.find(key);
        if (it == v.end() || !it->is_string())
            return false;
        out = it->get<std::string>();
        return true;
    };
    auto number = [](const JsonIn &v, const char *key, int32_t &out) {
        const auto it = v.find(key);
        if (it == v.end() || !it->is_number_integer())
            return false;
        const int64_t n = it->get<int64_t>();
        if (n < INT32_MIN || n > INT32_MAX)
            return false;
        out = int32_t(n);
        return true;
    };
    for (const auto &v : root["devices"]) {
        std::string serial;
        if (!v.is_object() || !text_(v, "serial", serial))
            continue;
        for (auto &dp : m_state.devices) {
            DeviceSpec &s = dp->model.spec();
            if (serial != s.serial)
                continue;
            std::string t;
            uint32_t a;
            if (text_(v, "ip", t) && net::parseIpv4(t, a))
                s.ip = a;
            if (text_(v, "mask", t) && net::parseIpv4(t, a))
                s.mask = a;
            if (text_(v, "gateway", t) && net::parseIpv4(t, a))
                s.gateway = a;
            std::string version;
            const auto build = v.find("build");
            if (text_(v, "version", version) && !version.empty() && version.size() < 64
                && build != v.end() && build->is_array() && build->size() == 6) {
                int b[6];
                bool ok = true;
                for (int i = 0; i < 6; ++i) {
                    const auto &x = (*build)[std::size_t(i)];
                    ok = ok && x.is_number_integer() && x.get<int64_t>() >= 0 && x.get<int64_t>() <= 9999;
                    b[i] = ok ? int(x.get<int64_t>()) : 0;
                }
                if (ok && isRealDate(b[0], b[1], b[2]) && b[3] < 24 && b[4] < 60 && b[5] < 60)
                    dp->model.applyFirmware(version, b);
            }
            if (text_(v, "logo", t) && t.size() < 256)
                dp->model.setLogo(t);
            const auto clock = v.find("clock_offset_s");
            if (clock != v.end() && clock->is_number_integer())
                dp->model.setClockOffset(clock->get<int64_t>());
            const auto records = v.find("records");
            if (records == v.end() || !records->is_array())
                continue;
            for (const auto &r : *records) {
                std::vector<uint8_t> bytes;
                int32_t command = 0, channel = 0;
                std::string hex;
                if (r.is_object() && number(r, "command", command) && number(r, "channel", channel)
                    && text_(r, "hex", hex) && hexDecode(hex, bytes))
                    dp->model.restoreRecord(command, channel, bytes);
            }
        }
    }
    return true;
}

} // namespace scoutrix::devsim
