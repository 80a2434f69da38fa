#include "DeviceList.h"

namespace scoutrix {

DeviceList::DeviceList()
{
    std::memset(m_searchBuffer.data(), 0, sizeof(m_searchBuffer));
    std::memset(m_net.data(), 0, sizeof(m_net));
    std::memset(m_dev.data(), 0, sizeof(m_dev));
    clear();
}

void DeviceList::clear()
{
    std::memset(m_devices.data(), 0, sizeof(m_devices));
}

void DeviceList::beginSearch()
{
    ++m_generation;
    for (int i = 0; i < m_count; ++i) {
        const DeviceRecord &d = m_devices[i];
        if (d.loginHandle > 0)
            m_carried.push_back({d.netInfo.macText(), d.loginHandle, d.loginInfo});
    }
}

void DeviceList::build(bool searchSucceeded, int bytesFilled, const std::string &user,
                       const std::string &password)
{
    if (searchSucceeded && bytesFilled > 0) {
        int records = int(unsigned(bytesFilled) / sizeof(SearchRecord));
        if (records > MaxDevices)
            records = MaxDevices; // an SDK that overreports must not walk past the buffer
        m_rawCount = records;
        for (int i = 0; i < records; ++i) {
            m_net[i] = m_searchBuffer[i].net;
            m_dev[i] = m_searchBuffer[i].dev;
        }
    }

    // Later answers with a MAC already seen are blanked; the first one stays.
    for (int j = 0; j < m_rawCount; ++j) {
        if (!m_net[j].hasMac())
            continue;
        const std::string mac = m_net[j].macText();
        for (int k = 0; k < j; ++k) {
            if (m_net[k].hasMac() && m_net[k].macText() == mac) {
                std::memset(&m_net[j], 0, sizeof(NetInfo));
                std::memset(&m_dev[j], 0, sizeof(DevInfo));
                break;
            }
        }
    }

    m_count = 0;
    for (int m = 0; m < m_rawCount; ++m) {
        if (!m_net[m].hasMac())
            continue;
        DeviceRecord &rec = m_devices[m_count++];
        rec.port = m_net[m].loginPort();
        setFieldText(rec.ipText, m_net[m].ipText());
        rec.netInfo = m_net[m];
        rec.devInfo = m_dev[m];
        rec.setCredentials(user, password);
    }

    for (const Session &s : m_carried) {
        const int i = indexOfMac(s.mac);
        if (i >= 0 && m_devices[i].loginHandle <= 0) {
            m_devices[i].loginHandle = s.handle;
            m_devices[i].loginInfo = s.info;
        } else {
            m_orphaned.push_back(s.handle);
        }
    }
    m_carried.clear();
}

int DeviceList::indexOfMac(const std::string &mac) const
{
    if (mac.empty())
        return -1;
    for (int i = 0; i < m_count; ++i) {
        if (m_devices[i].netInfo.macText() == mac)
            return i;
    }
    return -1;
}

void DeviceList::releaseOrphanedSessions(const std::function<void(int32_t)> &logout)
{
    for (int32_t handle : m_orphaned)
        logout(handle);
    m_orphaned.clear();
}

void DeviceList::setCredentials(const std::string &user, const std::string &password)
{
    for (int i = 0; i < m_count; ++i)
        m_devices[i].setCredentials(user, password);
}

void DeviceList::logoutAll(const std::function<void(int32_t)> &logout)
{
    for (int i = 0; i < m_count; ++i) {
        if (m_devices[i].loginHandle > 0) {
            logout(m_devices[i].loginHandle);
            m_devices[i].loginHandle = 0;
        }
    }
    releaseOrphanedSessions(logout);
}

} // namespace scoutrix
