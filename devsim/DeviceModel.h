#pragma once
// One emulated device's records and rules, without any I/O: what it answers
// to a search, a login and each get or set of configuration.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ConfigRecords.h"
#include "DeviceRecords.h"
#include "Fleet.h"
#include "Pake.h"

namespace scoutrix::devsim {

class DeviceModel
{
public:
    using Clock = std::chrono::steady_clock;
    using Records = std::map<std::pair<int32_t, int32_t>, std::vector<uint8_t>>;
    // The host's local time in seconds since 1970, counted as if it were UTC.
    using HostClock = std::function<int64_t()>;

    explicit DeviceModel(DeviceSpec spec);

    const DeviceSpec &spec() const { return m_spec; }
    DeviceSpec &spec() { return m_spec; }

    // The port a search reports: the one the device listens on.
    void setBoundPort(uint16_t port) { m_boundPort = port; }
    uint16_t boundPort() const { return m_boundPort ? m_boundPort : m_spec.port; }
    bool hasBoundPort() const { return m_boundPort != 0; }

    NetInfo netInfo() const;
    SearchRecord searchRecord() const;
    LoginInfo loginBlock() const;

    // Login rules: 0 or the refusal code for the user before any proof.
    int32_t admitUser(const std::string &user, const std::string &clientAddress, int openSessions,
        Clock::time_point now) const;
    // The verifier record a user logs in against; false for an unknown user.
    // Made from the fleet's password when the device is built; the password
    // itself is not needed for a login.
    const proto::pake::VerifierRecord *verifierOf(const std::string &user) const;
    // Counts a wrong password; locks the user for that client after too many
    // in a row. The lock is kept per client address, so a stranger on the
    // LAN guessing at "admin" cannot lock the installer out. A login counts
    // as wrong as soon as the device has answered its share.
    void wrongPassword(const std::string &user, const std::string &clientAddress, Clock::time_point now);
    // Takes back one counted attempt (its confirmation matched), and the lock
    // that attempt may have brought.
    void withdrawWrongPassword(const std::string &user, const std::string &clientAddress);
    void rightPassword(const std::string &user, const std::string &clientAddress);
    bool isLocked(const std::string &user, const std::string &clientAddress, Clock::time_point now) const;

    int32_t getConfig(int32_t command, int32_t channel, std::vector<uint8_t> &out) const;
    int32_t setConfig(int32_t command, int32_t channel, const std::vector<uint8_t> &data);
    // Command 20: the new address, mask and gateway from a network record.
    int32_t setNetwork(const std::vector<uint8_t> &record);

    // Why the last set was refused (empty after one that was taken), for the log.
    const std::string &lastRefusal() const { return m_lastRefusal; }

    // Why a device refuses an address (host order); empty when it takes it.
    static std::string addressRefusal(uint32_t ip, uint32_t mask, uint32_t gateway);
    // Why a device refuses an encode table (command 19); empty when it takes it.
    std::string encodeTableRefusal(const EncodeTable &table) const;

    // Records changed by sets since start, for the state file.
    const Records &records() const { return m_records; }
    const std::vector<std::pair<int32_t, int32_t>> &changedRecords() const { return m_changed; }
    void restoreRecord(int32_t command, int32_t channel, const std::vector<uint8_t> &bytes);

    // Pixel count of resolution index |res| by the device's own list; 0 when unknown.
    int64_t pixels(int res) const;

    // The device clock runs this many seconds ahead of the host's local time;
    // a set of command 45 moves it, and it keeps running.
    int64_t clockOffset() const { return m_clockOffset; }
    void setClockOffset(int64_t seconds) { m_clockOffset = seconds; }
    // Tests freeze or step the host clock the device counts from.
    void setHostClock(HostClock clock) { m_hostClock = std::move(clock); }

    // The address the fleet gave the device, where a restore of its network
    // settings (command 33, word 4) returns it.
    uint32_t factoryIp() const { return m_factoryIp; }
    // Whether this command-33 record asks for the network settings' restore.
    static bool restoresNetwork(const std::vector<uint8_t> &record);
    // After a reboot: a new video standard takes effect in the records that
    // depend on it (capabilities, resolution list, frame rates of the table).
    void restarted();

    // The hardware record (command 61) a device of |spec| answers.
    static HardwareRecord hardwareRecord(const DeviceSpec &spec);
    std::string hardwareName() const { return hardwareNameOf(m_spec); }
    // A written firmware: the version text (login block, search, command 17)
    // and the build date (command 17).
    void applyFirmware(const std::string &version, const int build[6]);
    // The boot logo last written, "" before any: file system, image size and
    // the image's SHA-256, e.g. "squashfs 4160 9f86…".
    const std::string &logo() const { return m_logo; }
    void setLogo(const std::string &logo) { m_logo = logo; }

    // The (command, channel) records a configuration image carries, in the
    // order they are applied.
    std::vector<std::pair<int32_t, int32_t>> imageRecords() const;

private:
    // Every record the device is built with for |spec|, fleet records included.
    static Records defaultRecords(const DeviceSpec &spec);
    const std::vector<uint8_t> *find(int32_t command, int32_t channel) const;
    // Checks a record of a command the device keeps against its rules, and
    // applies what a change of it means; 0, or the refusal's code.
    int32_t checkRecord(int32_t command, const std::vector<uint8_t> &now,
        const std::vector<uint8_t> &next, bool &restart);
    int32_t restoreDefaults(const std::vector<uint8_t> &record, bool &restart);
    int32_t importImage(const std::vector<uint8_t> &image, bool &restart);
    std::vector<uint8_t> exportImage() const;
    std::vector<uint8_t> clockRecord() const;
    void store(const std::pair<int32_t, int32_t> &key, const std::vector<uint8_t> &bytes);
    uint8_t lightModes() const;

    DeviceSpec m_spec;
    uint16_t m_boundPort = 0;
    Records m_records;
    Records m_factory; // as built, for a restore of defaults
    uint32_t m_factoryIp = 0, m_factoryMask = 0, m_factoryGateway = 0;
    int64_t m_clockOffset = 0;
    bool m_capsNtsc = false; // the standard the capabilities were built for
    HostClock m_hostClock;
    std::vector<std::pair<int32_t, int32_t>> m_changed;
    struct LockState
    {
        int failures = 0;
        Clock::time_point lockedUntil {};
    };
    // Keyed by user and client address.
    std::map<std::pair<std::string, std::string>, LockState> m_locks;
    std::map<std::string, proto::pake::VerifierRecord> m_verifiers;
    std::string m_lastRefusal;
    std::string m_logo;
};

} // namespace scoutrix::devsim
