#pragma once
// The device list the main window owns for its whole life, with the search
// buffer and the network and identity arrays it is rebuilt from. Fixed
// capacity: nothing is allocated per search.

#include "DeviceRecords.h"

#include <array>
#include <functional>

namespace scoutrix {

constexpr int MaxDevices = 256;
constexpr int SearchBufferSize = MaxDevices * int(sizeof(SearchRecord));
static_assert(SearchBufferSize == 79872, "search buffer holds 256 records");

class DeviceList
{
public:
    DeviceList();

    // All 256 records to zero bytes (login handles forgotten, not logged out).
    void clear();

    // Split the search buffer when the search succeeded with bytes > 0, then
    // de-duplicate by MAC text and compact into the device list. A failed or
    // empty search rebuilds from the previous arrays.
    void build(bool searchSucceeded, int bytesFilled, const std::string &user,
               const std::string &password);

    void setCredentials(const std::string &user, const std::string &password);

    // Calls |logout| for every valid record with a handle > 0, then zeroes it.
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
    int m_rawCount = 0;
    int m_count = 0;
};

} // namespace scoutrix
