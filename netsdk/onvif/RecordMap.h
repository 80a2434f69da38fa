#pragma once
// The SDK's byte records on an ONVIF device: each record is built from the
// device's answers, and a set sends only the fields that differ from what
// the device holds now. Plain functions over onvif::DeviceApi, so that they
// are tested without a network.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "DeviceApi.h"

namespace scoutrix::netsdk::onvifmap {

// What the backend learnt of a device at login, kept with its session. The
// mapping may refresh profiles when a set changed them.
struct DeviceContext {
    onvif::DeviceInformation info;
    onvif::ServiceAddresses services;
    std::vector<onvif::Profile> profiles;
    std::string macText; // the identity its search record carries
    std::string host; // IPv4 text of the device service
    uint16_t port = 80; // HTTP port of the device service
    int32_t deviceType = 2; // DeviceType, as deviceTypeOf() told at search
    // Encoder options by configuration token: they do not change while the
    // session lasts, and every encode read needs them.
    std::map<std::string, onvif::VideoEncoderOptions> encoderOptions;
};

// A device as WS-Discovery and the unauthenticated calls showed it.
struct FoundDevice {
    std::string endpoint; // EndpointReference address, usually urn:uuid:...
    std::vector<std::string> scopes;
    std::vector<std::string> types; // local names: NetworkVideoTransmitter, Device, ...
    std::string host; // first IPv4 XAddr's host
    uint16_t port = 80; // its HTTP port
    std::optional<onvif::DeviceInformation> info; // when the device told it without login
};

// The 312-byte search record (discovery/DeviceRecords.h SearchRecord).
void fillSearchRecord(const FoundDevice &found, void *record);
// The identity a search record carries for |found|: the MAC scope's MAC
// text, else "u" + the endpoint UUID's 32 hex digits.
std::string macTextOf(const FoundDevice &found);
// The DeviceType its type scopes and types name: IPC unless it records.
int32_t deviceTypeOf(const FoundDevice &found);
// The 408-byte login block (LoginInfo).
void fillLoginInfo(const DeviceContext &context, void *loginInfo);

// The SDK result code for a failed call.
int32_t resultFor(const onvif::Failure &failure);

// NetSdk_GetConfig / NetSdk_SetConfig on an ONVIF device: a result as those
// calls define it (NETSDK_ERR_NOT_SUPPORTED for a command with no ONVIF
// counterpart).
int32_t getConfig(onvif::DeviceApi &device, DeviceContext &context, int32_t command,
    int32_t channel, void *buffer, int32_t bufferSize, int32_t *bytesReturned);
int32_t setConfig(onvif::DeviceApi &device, DeviceContext &context, int32_t command,
    int32_t channel, const void *buffer, int32_t size);

// Command 20 (a 144-byte NetInfo) as set without login: the device's
// address, mask and gateway, changed through SetNetworkInterfaces and
// SetNetworkDefaultGateway, only where they differ.
int32_t setNetwork(onvif::DeviceApi &device, const void *netInfo, int32_t size);

// A zone of |minutesWest| minutes west of UTC as a POSIX TZ text, and the
// standard offset a POSIX TZ text names (nullopt when it names none).
std::string posixTimeZone(int32_t minutesWest);
std::optional<int32_t> minutesWestOf(const std::string &posixTz);

} // namespace scoutrix::netsdk::onvifmap
