#pragma once
// The device list the main window owns for its whole life, with the search
// buffer and the network and identity arrays it is rebuilt from. Fixed
// capacity: nothing is allocated per search.

#include "DeviceRecords.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace scoutrix {

constexpr int MaxDevices = 256;
constexpr int SearchBufferSize = MaxDevices * int(sizeof(SearchRecord));
static_assert(SearchBufferSize == 79872, "search buffer holds 256 records");

// Who may write the records, and when:
//  - the search worker, between beginSearch() and the end of build();
//  - the GUI thread at every other time.
// A login runs on a copy of its record and brings its result back to the GUI
// thread bound to the record's MAC and to the generation it started under; a
// result of an older generation belongs to a list that no longer exists.
class DeviceList
{
public:
    DeviceList();

    // GUI thread, before the search worker starts: a new generation begins,
    // and the open sessions are set aside so build() can give each back to
    // its device, found by MAC, wherever the device now sits.
    void beginSearch();
    uint32_t generation() const { return m_generation.load(); }

    // All 256 records to zero bytes. Login handles survive a search only when
    // beginSearch() set them aside first.
    void clear();

    // Split the search buffer when the search succeeded with bytes > 0, then
    // de-duplicate by MAC text and compact into the device list. A failed or
    // empty search rebuilds from the previous arrays.
    void build(bool searchSucceeded, int bytesFilled, const std::string &user,
               const std::string &password);

    void setCredentials(const std::string &user, const std::string &password);

    // Sessions set aside by beginSearch() whose device did not come back;
    // |logout| is called for each once, then they are forgotten.
    void releaseOrphanedSessions(const std::function<void(int32_t)> &logout);

    // Index of the device with this MAC text, or -1.
    int indexOfMac(const std::string &mac) const;

    // Calls |logout| for every valid record with a handle > 0, then zeroes it,
    // and for every orphaned session.
    void logoutAll(const std::function<void(int32_t)> &logout);

    char *searchBuffer() { return reinterpret_cast<char *>(m_searchBuffer.data()); }
    DeviceRecord *devices() { return m_devices.data(); }
    const DeviceRecord *devices() const { return m_devices.data(); }
    int count() const { return m_count; }
    int rawCount() const { return m_rawCount; }
    NetInfo *netArray() { return m_net.data(); }
    const NetInfo *netArray() const { return m_net.data(); }
    DevInfo *devArray() { return m_dev.data(); }
    const DevInfo *devArray() const { return m_dev.data(); }

private:
    std::array<SearchRecord, MaxDevices> m_searchBuffer;
    std::array<NetInfo, MaxDevices> m_net;
    std::array<DevInfo, MaxDevices> m_dev;
    std::array<DeviceRecord, MaxDevices> m_devices;
    struct Session
    {
        std::string mac;
        int32_t handle;
        LoginInfo info;
    };

    int m_rawCount = 0;
    int m_count = 0;
    std::atomic<uint32_t> m_generation{0};
    std::vector<Session> m_carried;
    std::vector<int32_t> m_orphaned;
};

} // namespace scoutrix
