#pragma once
// What an ONVIF device keeps besides the records it shares with the own
// devices (encode table, image, exposure, NTP, DHCP): the token checker, its
// clock's presentation, the settings ONVIF has and the records have not, and
// the one-time firmware upload path. Guarded by the emulator's mutex, except
// |verifier|, which guards itself.

#include <cstdint>
#include <string>
#include <vector>

#include "Fleet.h"
#include "WsSecurity.h"

namespace scoutrix::devsim {

struct OnvifState
{
    onvif::wsse::Verifier verifier;
    // The fleet's users with their passwords: a digest is checked against
    // the password itself, so unlike the own devices an ONVIF camera keeps
    // it. Users the fleet gives only a verifier cannot sign in here.
    std::vector<User> users;
    std::string hostname;
    std::string timeZone = "UTC0"; // POSIX TZ text as the client set it
    bool daylightSavings = false;
    // Imaging values without a place in the image and exposure records.
    int contrast = 50;
    int saturation = 50;
    int sharpness = 50;
    uint16_t rtspPort = 0; // 0 until the RTSP server first listened
    std::string uploadToken; // path of the one firmware upload allowed next; empty: none
};

} // namespace scoutrix::devsim
