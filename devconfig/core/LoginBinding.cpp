#include "LoginBinding.h"

#include "NetSdk.h"

namespace scoutrix {

LoginRequest makeLoginRequest(const DeviceRecord &device, uint32_t generation, uint64_t sequence)
{
    LoginRequest r;
    r.sequence = sequence;
    r.generation = generation;
    r.mac = device.netInfo.macText();
    r.ip = fieldText(device.ipText);
    r.port = device.port;
    r.user = fieldText(device.userName);
    r.password = fieldText(device.password);
    r.previousHandle = device.loginHandle;
    return r;
}

int indexOfMac(const DeviceRecord *devices, int count, const std::string &mac)
{
    if (!devices || mac.empty())
        return -1;
    for (int i = 0; i < count; ++i) {
        if (devices[i].netInfo.macText() == mac)
            return i;
    }
    return -1;
}

LoginPlacement placeLoginResult(const LoginResult &result, uint32_t currentGeneration,
    bool listRebuilding, const DeviceRecord *devices, int count)
{
    LoginPlacement p;
    if (!listRebuilding && result.generation == currentGeneration)
        p.index = indexOfMac(devices, count, result.mac);
    p.logout = p.index < 0 && result.handle > 0;
    return p;
}

bool loginErrorAsksForCredentials(int32_t error)
{
    return error == NETSDK_ERR_PASSWORD || error == NETSDK_ERR_NO_USER;
}

} // namespace scoutrix
