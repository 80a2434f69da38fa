#include "StatePersistence.h"

#include <unistd.h>

#include "EmulatorState.h"

namespace scoutrix::devsim {

void StatePersistence::save()
{
    const EmulatorOptions &options = m_state.options;
    if (options.stateFile.empty())
        return;
    json::Value root = json::Value::object();
    json::Value list = json::Value::array();
    for (const auto &dp : m_state.devices) {
        const DeviceModel &m = dp->model;
        json::Value v = json::Value::object();
        v.set("serial", m.spec().serial);
        v.set("ip", net::ipv4Text(m.spec().ip));
        v.set("mask", net::ipv4Text(m.spec().mask));
        v.set("gateway", net::ipv4Text(m.spec().gateway));
        json::Value records = json::Value::array();
        for (const auto &key : m.changedRecords()) {
            const auto it = m.records().find(key);
            if (it == m.records().end())
                continue;
            records.push(json::Value::object()
                             .set("command", key.first)
                             .set("channel", key.second)
                             .set("hex", hexEncode(it->second)));
        }
        v.set("records", records);
        list.push(v);
    }
    root.set("devices", list);
    std::string error;
    if (!writeFileAtomically(options.stateFile, json::write(root), error))
        m_state.log("state file: " + error);
}

bool StatePersistence::load(std::string &error)
{
    const EmulatorOptions &options = m_state.options;
    if (options.stateFile.empty() || ::access(options.stateFile.c_str(), F_OK) != 0)
        return true;
    std::string text;
    json::Value root;
    if (!readFile(options.stateFile, text, error) || !json::parse(text, root, error)) {
        error = options.stateFile + ": " + error;
        return false;
    }
    for (const auto &v : root["devices"].items()) {
        for (auto &dp : m_state.devices) {
            DeviceSpec &s = dp->model.spec();
            if (!v["serial"].isString() || v["serial"].asString() != s.serial)
                continue;
            uint32_t a;
            if (v["ip"].isString() && net::parseIpv4(v["ip"].asString(), a))
                s.ip = a;
            if (v["mask"].isString() && net::parseIpv4(v["mask"].asString(), a))
                s.mask = a;
            if (v["gateway"].isString() && net::parseIpv4(v["gateway"].asString(), a))
                s.gateway = a;
            for (const auto &r : v["records"].items()) {
                std::vector<uint8_t> bytes;
                if (r["command"].isNumber() && r["channel"].isNumber() && r["hex"].isString()
                    && hexDecode(r["hex"].asString(), bytes))
                    dp->model.restoreRecord(int32_t(r["command"].asNumber()),
                        int32_t(r["channel"].asNumber()), bytes);
            }
        }
    }
    return true;
}

} // namespace scoutrix::devsim
