#pragma once
// DeviceApi over HTTP: SOAP 1.2 POSTs to the device's services, signed with
// a UsernameToken digest on the device's own clock. One instance per device
// and user; calls on one instance are serialised by the caller (the SDK's
// session lock), so no state here is guarded.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "DeviceApi.h"
#include "Xml.h"

namespace scoutrix::onvif {

struct HttpUrl {
    std::string host;
    uint16_t port = 80;
    std::string path = "/";
};
// http://host[:port][/path]; nullopt for any other scheme or a bad port.
std::optional<HttpUrl> parseHttpUrl(const std::string &url);
std::string makeHttpUrl(const std::string &host, uint16_t port, const std::string &path);

// xs:duration as devices write it ("PT1S", "PT2M30S", "P1DT1H"); nullopt
// for anything else. Fractions of a second are rounded up.
std::optional<int> parseDurationSeconds(const std::string &text);

// What an upload reports while it sends: bytes sent so far of the total.
// Returning false cancels the upload.
using UploadProgress = std::function<bool(uint64_t sent, uint64_t total)>;

class HttpDeviceApi final : public DeviceApi {
public:
    static constexpr const char *kDefaultPath = "/onvif/device_service";

    HttpDeviceApi(const std::string &host, uint16_t port, std::string devicePath = kDefaultPath);

    void setCredentials(const std::string &user, const std::string &password);
    const std::string &user() const { return user_; }
    const std::string &password() const { return password_; }
    // Bounds every later call: connection, request and answer together.
    void setTimeoutMs(int ms) { timeoutMs_ = ms > 0 ? ms : 1; }
    int timeoutMs() const { return timeoutMs_; }
    void setLimits(const xml::Limits &limits) { limits_ = limits; }

    // Seconds the device's clock is ahead of ours; read by every
    // GetSystemDateAndTime that carried a UTC time, and fetched before the
    // first signed call when nothing set it.
    std::optional<int64_t> clockOffsetSeconds() const { return clockOffset_; }
    void setClockOffsetSeconds(int64_t seconds) { clockOffset_ = seconds; }
    // Addresses for the media and imaging calls, e.g. from a session's
    // context, so that they are not asked for again.
    void setServices(const ServiceAddresses &services) { services_ = services; }
    const std::string &host() const { return host_; }
    uint16_t port() const { return port_; }
    const std::string &devicePath() const { return devicePath_; }

    Reply<SystemDateAndTime> getSystemDateAndTime() override;
    Reply<DeviceInformation> getDeviceInformation() override;
    Reply<ServiceAddresses> getServices() override;
    Reply<std::vector<NetworkInterface>> getNetworkInterfaces() override;
    Reply<Done> setNetworkInterfaces(const NetworkInterfaceChange &change) override;
    Reply<std::vector<std::string>> getNetworkDefaultGateway() override;
    Reply<Done> setNetworkDefaultGateway(const std::vector<std::string> &ipv4) override;
    Reply<Done> setSystemDateAndTime(const SetDateAndTime &value) override;
    Reply<NtpSettings> getNtp() override;
    Reply<Done> setNtp(const NtpSettings &value) override;
    Reply<Done> systemReboot() override;
    Reply<Done> setSystemFactoryDefault(bool hard) override;
    Reply<FirmwareUpload> startFirmwareUpgrade() override;

    Reply<std::vector<Profile>> getProfiles() override;
    Reply<std::vector<VideoEncoderConfiguration>> getVideoEncoderConfigurations() override;
    Reply<VideoEncoderOptions> getVideoEncoderConfigurationOptions(
        const std::string &configurationToken, const std::string &profileToken) override;
    Reply<Done> setVideoEncoderConfiguration(const VideoEncoderConfiguration &value) override;
    Reply<std::string> getStreamUri(const std::string &profileToken) override;

    Reply<ImagingSettings> getImagingSettings(const std::string &videoSourceToken) override;
    Reply<ImagingOptions> getImagingOptions(const std::string &videoSourceToken) override;
    Reply<Done> setImagingSettings(
        const std::string &videoSourceToken, const ImagingSettings &change) override;

    // POSTs the file at |path| to an UploadUri as application/octet-stream
    // and gives the HTTP status the device answered with. The call is
    // bounded by |timeoutMs| of silence, not by its length.
    Reply<int> uploadFirmware(const std::string &uploadUri, const std::string &path,
        const UploadProgress &progress, int timeoutMs);

    enum class Service { Device, Media, Imaging };
    struct Answer; // a parsed envelope, defined in the source

private:
    using BuildBody = std::function<void(pugi::xml_node operation)>;
    Reply<Answer> call(Service service, const char *operation, const BuildBody &build = {},
        bool signedCall = true);
    std::string urlFor(Service service);
    Reply<ServiceAddresses> getCapabilities();

    std::string host_;
    uint16_t port_;
    std::string devicePath_;
    std::string user_;
    std::string password_;
    int timeoutMs_ = 5000;
    xml::Limits limits_;
    std::optional<int64_t> clockOffset_;
    std::optional<ServiceAddresses> services_;
};

} // namespace scoutrix::onvif
