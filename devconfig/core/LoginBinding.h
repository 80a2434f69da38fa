#pragma once
// A login runs on a copy of its device record and comes back bound to the
// device's MAC and to the device-list generation it started under. Whether
// its result may be written into the list is decided here, without a window.

#include <cstdint>
#include <string>

#include "DeviceRecords.h"

namespace scoutrix {

// What the login worker needs; it never holds a pointer into the device list.
struct LoginRequest
{
    uint64_t sequence = 0; // one per login the page starts
    uint32_t generation = 0; // of the device list when the login started
    std::string mac;
    std::string ip;
    uint16_t port = 0;
    std::string user;
    std::string password;
    int32_t previousHandle = 0; // the record's session, handed to the worker to log out
};

struct LoginResult
{
    uint64_t sequence = 0;
    uint32_t generation = 0;
    std::string mac;
    int32_t handle = 0;
    int32_t error = 0;
    LoginInfo info {};
};

LoginRequest makeLoginRequest(const DeviceRecord &device, uint32_t generation, uint64_t sequence);

struct LoginPlacement
{
    int index = -1; // record that takes the result, -1 when it is dropped
    bool logout = false; // a session nobody will own: log it out
};

// A result is written into the record with its MAC, and only while the list
// is the one it started under; otherwise a session it opened is logged out.
LoginPlacement placeLoginResult(const LoginResult &result, uint32_t currentGeneration,
    bool listRebuilding, const DeviceRecord *devices, int count);

int indexOfMac(const DeviceRecord *devices, int count, const std::string &mac);

// Only a wrong password or user can be mended by typing other credentials.
bool loginErrorAsksForCredentials(int32_t error);

} // namespace scoutrix
