#pragma once
// What the ONVIF backend asks of one device, as plain values. The HTTP/SOAP
// client implements DeviceApi; the mapping between the SDK's byte records
// and these values is written and tested against it, with no network.
//
// Texts are UTF-8 as the device sent them. Optional values are those a
// device may leave out; an absent value is never written back.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace scoutrix::onvif {

// Why a call failed. The backend turns these into the SDK's result codes.
enum class CallError {
    Unreachable, // no connection, or it broke before an answer
    Timeout, // connected, no answer in time
    NotAuthorized, // HTTP 401, or a fault with subcode ter:NotAuthorized / wsse:FailedAuthentication
    NotSupported, // the device has no such service, or ter:ActionNotSupported
    InvalidArgument, // ter:InvalidArgVal and its kin: the device refused the value
    Fault, // any other SOAP fault
    BadAnswer, // not SOAP, not the expected answer, or refused by the XML limits
};

struct Failure {
    CallError kind = CallError::Fault;
    std::string reason; // for logs and notices: fault reason text or transport error
};

// A value or a Failure.
template <typename T>
class Reply {
public:
    Reply(T value) : value_(std::move(value)) {}
    Reply(Failure failure) : failure_(std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T &value() { return *value_; }
    const T &value() const { return *value_; }
    T *operator->() { return &*value_; }
    const T *operator->() const { return &*value_; }
    const Failure &failure() const { return failure_; }

private:
    std::optional<T> value_;
    Failure failure_;
};

// A call with nothing to return.
struct Done {
    bool rebootNeeded = false; // SetNetworkInterfaces' RebootNeeded
};

struct DeviceInformation {
    std::string manufacturer;
    std::string model;
    std::string firmwareVersion;
    std::string serialNumber;
    std::string hardwareId;
};

// Service addresses (XAddr) the device named in GetCapabilities or
// GetServices; empty when it has no such service.
struct ServiceAddresses {
    std::string device;
    std::string media;
    std::string imaging;
    bool firmwareUpload = false; // StartFirmwareUpgrade (HTTP upload) offered
};

struct DateTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
};

struct SystemDateAndTime {
    bool ntp = false; // DateTimeType NTP, else Manual
    bool daylightSavings = false;
    std::string timeZone; // POSIX TZ, e.g. "CST-8"; empty when not given
    std::optional<DateTime> utc;
    std::optional<DateTime> local;
};

struct SetDateAndTime {
    bool ntp = false;
    bool daylightSavings = false;
    std::optional<std::string> timeZone; // absent: the device keeps its zone
    std::optional<DateTime> utc; // only with ntp == false
};

struct NtpSettings {
    bool fromDhcp = false;
    std::vector<std::string> servers; // manual servers: IPv4 text or DNS name
};

struct NetworkInterface {
    std::string token;
    bool enabled = true;
    std::string hwAddress; // "00:11:22:33:44:55" as the device wrote it
    bool ipv4Enabled = true;
    bool dhcp = false;
    std::string address; // the manual (or, with DHCP, the obtained) IPv4 address
    int prefixLength = 24;
};

struct NetworkInterfaceChange {
    std::string token;
    std::optional<bool> dhcp;
    std::optional<std::string> address; // with prefixLength: a manual IPv4 address
    std::optional<int> prefixLength;
};

struct Resolution {
    int width = 0;
    int height = 0;
};

struct Range {
    double min = 0;
    double max = 0;
};

struct VideoEncoderConfiguration {
    std::string token;
    std::string name;
    int useCount = 0;
    std::string encoding; // "H264", "H265", "JPEG", "MPEG4"
    Resolution resolution;
    double quality = 0;
    int frameRateLimit = 0;
    int encodingInterval = 1;
    int bitrateLimit = 0; // kbit/s
    int govLength = 0; // H.264 GOP length; 0 when absent
    std::string h264Profile; // "Baseline", "Main", "High"; empty when absent
    int sessionTimeoutSeconds = 60; // kept and written back unchanged
};

struct VideoEncoderOptions {
    Range quality;
    std::vector<Resolution> h264Resolutions;
    Range h264FrameRate;
    Range h264GovLength;
    Range h264EncodingInterval;
    std::vector<std::string> h264Profiles;
    std::vector<Resolution> jpegResolutions;
    Range jpegFrameRate;
    std::optional<Range> h264Bitrate; // kbit/s, from the options' extension
};

struct Profile {
    std::string token;
    std::string name;
    std::string videoSourceToken; // the channel: profiles are grouped by it
    std::string videoSourceConfigurationToken;
    std::optional<VideoEncoderConfiguration> videoEncoder;
};

// Imaging settings (ONVIF imaging service, 2.0). Only the part the camera
// page maps; what a device sends beyond it stays on the device, because a
// set names only the fields that changed.
struct ImagingSettings {
    std::optional<double> brightness;
    std::optional<double> colorSaturation;
    std::optional<double> contrast;
    std::optional<double> sharpness;
    std::optional<std::string> irCutFilter; // "ON", "OFF", "AUTO"
    std::optional<std::string> exposureMode; // "AUTO", "MANUAL"
    std::optional<double> minExposureTime; // microseconds
    std::optional<double> maxExposureTime;
    std::optional<double> exposureTime;
    std::optional<std::string> wideDynamicRangeMode; // "ON", "OFF"
    std::optional<double> wideDynamicRangeLevel;
    std::optional<std::string> backlightCompensationMode; // "ON", "OFF"
};

struct ImagingOptions {
    std::optional<Range> brightness;
    std::optional<Range> colorSaturation;
    std::optional<Range> contrast;
    std::optional<Range> sharpness;
    std::vector<std::string> irCutFilterModes;
    std::vector<std::string> exposureModes;
    std::optional<Range> exposureTime;
    std::vector<std::string> wideDynamicRangeModes;
    std::optional<Range> wideDynamicRangeLevel;
};

struct FirmwareUpload {
    std::string uploadUri;
    int uploadDelaySeconds = 0;
    int expectedDownTimeSeconds = 0;
};

// One device, reached at its device service with a user's credentials (or
// none, for the calls that need no login). Blocking calls, each bounded by
// the time-out the implementation was given.
class DeviceApi {
public:
    virtual ~DeviceApi() = default;

    // Unauthenticated.
    virtual Reply<SystemDateAndTime> getSystemDateAndTime() = 0;

    virtual Reply<DeviceInformation> getDeviceInformation() = 0;
    virtual Reply<ServiceAddresses> getServices() = 0;
    virtual Reply<std::vector<NetworkInterface>> getNetworkInterfaces() = 0;
    virtual Reply<Done> setNetworkInterfaces(const NetworkInterfaceChange &change) = 0;
    virtual Reply<std::vector<std::string>> getNetworkDefaultGateway() = 0; // IPv4 texts
    virtual Reply<Done> setNetworkDefaultGateway(const std::vector<std::string> &ipv4) = 0;
    virtual Reply<Done> setSystemDateAndTime(const SetDateAndTime &value) = 0;
    virtual Reply<NtpSettings> getNtp() = 0;
    virtual Reply<Done> setNtp(const NtpSettings &value) = 0;
    virtual Reply<Done> systemReboot() = 0;
    virtual Reply<Done> setSystemFactoryDefault(bool hard) = 0;
    virtual Reply<FirmwareUpload> startFirmwareUpgrade() = 0;

    virtual Reply<std::vector<Profile>> getProfiles() = 0;
    virtual Reply<std::vector<VideoEncoderConfiguration>> getVideoEncoderConfigurations() = 0;
    virtual Reply<VideoEncoderOptions> getVideoEncoderConfigurationOptions(
        const std::string &configurationToken, const std::string &profileToken) = 0;
    virtual Reply<Done> setVideoEncoderConfiguration(const VideoEncoderConfiguration &value) = 0;
    virtual Reply<std::string> getStreamUri(const std::string &profileToken) = 0; // RTSP over TCP

    virtual Reply<ImagingSettings> getImagingSettings(const std::string &videoSourceToken) = 0;
    virtual Reply<ImagingOptions> getImagingOptions(const std::string &videoSourceToken) = 0;
    // |change| holds only the fields to send.
    virtual Reply<Done> setImagingSettings(
        const std::string &videoSourceToken, const ImagingSettings &change) = 0;
};

} // namespace scoutrix::onvif
