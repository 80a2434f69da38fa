#pragma once
// A device's encode records as a test scripts them, and installing them
// behind the SDK get-configuration call of the recording double.

#include <memory>

#include "ConfigRecords.h"
#include "DeviceRecords.h"

namespace testdevice {

struct EncodeDevice
{
    scoutrix::EncodeCaps caps;
    scoutrix::EncodeTable table;
    scoutrix::VideoStandard standard;
    scoutrix::DeviceInfoRecord info;
    scoutrix::ResolutionList resolutions;

    // |channels| channels, each with 1080P H.264 main (CBR 4096, 25 fps,
    // I-frame 50) and D1 sub (CBR 1024, 25 fps); PAL, firmware of 2021-09-16,
    // a pixel budget with room to spare. Every byte the page does not
    // interpret holds noise, so a byte changed by mistake shows.
    static std::unique_ptr<EncodeDevice> typical(int channels);

    void install() const;
};

// Stream values in one place, for expectations.
inline void setStream(scoutrix::StreamParams &s, int type, int resolution, int bitControl, int quality,
                      int frameRate, int bitRate, int iFrame, bool video = true, bool audio = false)
{
    s.setEncodeType(type);
    s.setResolution(resolution);
    s.setBitControl(bitControl);
    s.setQuality(quality);
    s.setFrameRate(frameRate);
    s.setBitRate(bitRate);
    s.setIFrameInterval(iFrame);
    s.setVideoOn(video);
    s.setAudioOn(audio);
}

// A device-list entry as the search leaves it, with the credentials to use.
scoutrix::DeviceRecord deviceRecord(const char *mac, uint8_t a, uint8_t b, uint8_t c, uint8_t d,
                                    int32_t type, const char *user = "admin",
                                    const char *password = "right");

} // namespace testdevice
