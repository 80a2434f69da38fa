#pragma once
// One logged-in ONVIF device, shared by the backend's operations (Backend.cpp)
// and its upgrade jobs (Upgrade.cpp).

#include <atomic>
#include <memory>
#include <mutex>

#include "HttpDeviceApi.h"
#include "RecordMap.h"

namespace scoutrix::netsdk::onvifbackend {

struct Session {
    Session(const std::string &host, uint16_t port, const std::string &path)
        : api(host, port, path)
    {
    }
    // Calls on one device go one at a time: the client keeps its clock
    // offset and service addresses, and a camera serves few clients at once.
    std::mutex mutex;
    onvif::HttpDeviceApi api;
    onvifmap::DeviceContext context;
    std::atomic<bool> upgrading {false};
};

std::shared_ptr<Session> findSession(int32_t handle);
// The SDK result code for a failed call outside the record mapping.
int32_t codeFor(const onvif::Failure &failure);
// SCOUTRIX_NETSDK_LOOPBACK_ONLY refuses this host.
bool hostRefused(const std::string &host);

} // namespace scoutrix::netsdk::onvifbackend
