#pragma once
// The device network SDK as the program calls it. Every operation blocks until
// it returns; timeouts are in milliseconds; texts are 8-bit and NUL-terminated.
// Any library that provides these C symbols can be linked in place of the
// project's own implementation (netsdk/).

#include <cstdint>

#ifdef __cplusplus
extern "C" {
#endif

// Progress of an upgrade: (reserved, status, total, progress, user).
// total == -1 means "progress" is a device-side percentage; progress -1 is
// success, -2 failure.
typedef int32_t (*NetSdkProgressCallback)(int32_t reserved, int32_t status, int32_t total,
                                          int32_t progress, void *user);

// Live stream data: (stream handle, data type, data, length, user). Data
// type 1: one whole H.264 access unit in Annex B form per call; its first NAL
// is an SEI carrying the device's send time (docs/device-protocol.md). The
// data is valid only during the call. Called on the SDK's own thread for the
// stream.
typedef int32_t (*NetSdkDataCallback)(int32_t streamHandle, int32_t dataType, char *data,
                                      int32_t length, void *user);

enum NetSdkConstants : int32_t {
    NETSDK_SEARCH_RECORD_SIZE = 312,
    NETSDK_MAX_DEVICES = 256,
    NETSDK_SEARCH_BUFFER_SIZE = NETSDK_SEARCH_RECORD_SIZE * NETSDK_MAX_DEVICES, // 79872
    NETSDK_NETINFO_SIZE = 144,
    NETSDK_LOGININFO_SIZE = 408,
    NETSDK_STREAM_REQUEST_SIZE = 16,
};

// Result and error codes that callers read.
enum NetSdkResult : int32_t {
    NETSDK_OK = 0,
    NETSDK_ERR_FAIL = -1,
    NETSDK_ERR_UNINITIALISED_DEVICE = -2,
    NETSDK_ERR_NOT_SUPPORTED = -3,
    NETSDK_ERR_TIMEOUT = -10005,
    NETSDK_ERR_PASSWORD = -11301,
    NETSDK_ERR_NO_USER = -11302,
    NETSDK_ERR_LOCKED = -11303,
    NETSDK_ERR_BLACKLIST = -11304,
    NETSDK_ERR_IN_USE = -11305,
    NETSDK_ERR_NOT_FOUND = -11307,
    NETSDK_ERR_UNINIT = -11317,
    NETSDK_ERR_NEED_REBOOT = -11401,
    // Login error codes that are not negative.
    NETSDK_LOGIN_NET_ERROR = 0,
    NETSDK_LOGIN_SYSTEM_BUSY = 7,
};

// The status value an upgrade's final callback carries: 0 with success; with
// failure one of these, or the SDK's own code when the device never said
// (-10003 the session ended before the final status, -10005 the device went
// silent, -10001 the file could not be read to its end).
enum NetSdkUpgradeStatus : int32_t {
    NETSDK_UPGRADE_OK = 0,
    NETSDK_UPGRADE_ERR_BUSY = -12001, // another upgrade is running on the device
    NETSDK_UPGRADE_ERR_FORMAT = -12002, // neither a firmware file nor a logo package
    NETSDK_UPGRADE_ERR_MODEL = -12003, // the firmware does not name the device's model
    NETSDK_UPGRADE_ERR_CHECKSUM = -12004, // payload or header checksum mismatch
    NETSDK_UPGRADE_ERR_TRUNCATED = -12005, // the file ends before its payload does
    NETSDK_UPGRADE_ERR_TRANSFER = -12006, // bytes received differ from those announced
    NETSDK_UPGRADE_ERR_TOO_LARGE = -12007, // larger than the device takes
    NETSDK_UPGRADE_ERR_TYPE = -12008, // upgrade type not 0, 1 or 2
    NETSDK_UPGRADE_ERR_LOGO_PACKAGE = -12010, // not a readable zip with InstallDesc and its image
    NETSDK_UPGRADE_ERR_LOGO_HARDWARE = -12011, // InstallDesc names another hardware
    NETSDK_UPGRADE_ERR_LOGO_IMAGE = -12012, // image header: magic, header or data CRC, size
    NETSDK_UPGRADE_ERR_LOGO_FILESYSTEM = -12013, // no squashfs/cramfs inside, or not the board's
    NETSDK_UPGRADE_ERR_LOGO_SIZE = -12014, // the image does not fit the board's logo area
};

// Initialise once, first in the program. Arguments are reserved (0, 0).
int32_t NetSdk_Init(int32_t reserved1, int32_t reserved2);

// Fills |buffer| with up to bufferSize / 312 search records and stores the
// number of bytes written in *bytesReturned. Nonzero result = success.
uint8_t NetSdk_SearchDevice(char *buffer, int32_t bufferSize, int32_t *bytesReturned,
                            int32_t timeoutMs, int32_t reserved);

// Which protocol the device that a search found with this MAC text speaks:
// 0 the project's own, 1 ONVIF. A MAC text no search has seen answers 0.
int32_t NetSdk_DeviceProtocol(const char *macText);

// The credentials a set without login uses on a device that needs them
// (ONVIF) and that this process has not logged in to: the program's default
// login. Kept in memory only; null or empty texts forget them.
int32_t NetSdk_SetDefaultCredentials(const char *user, const char *password);

// Sends a record to a device found by search, addressed by the MAC text inside
// the record (command 20 takes a 144-byte network record). 0 = success.
int32_t NetSdk_SetConfigWithoutLogin(int32_t command, int32_t channel, void *record,
                                     int32_t recordSize, int32_t timeoutMs);

// Returns a login handle > 0, or <= 0 with the reason in *errorCode.
// loginInfo receives the device's 408-byte login block.
int32_t NetSdk_Login(const char *address, uint16_t port, const char *user,
                     const char *password, void *loginInfo, int32_t mode, int32_t *errorCode,
                     int32_t reserved1, int32_t reserved2);

int32_t NetSdk_Logout(int32_t loginHandle);

// Negative result = failure; *bytesReturned receives the record's size.
int32_t NetSdk_GetConfig(int32_t loginHandle, int32_t command, int32_t channel, void *buffer,
                         int32_t bufferSize, int32_t *bytesReturned, int32_t timeoutMs);

// Result code; NETSDK_ERR_NEED_REBOOT asks the caller to restart the device.
int32_t NetSdk_SetConfig(int32_t loginHandle, int32_t command, int32_t channel,
                         const void *buffer, int32_t size, int32_t timeoutMs);

uint8_t NetSdk_Reboot(int32_t loginHandle, int32_t reserved, int32_t timeoutMs);

// Starts sending a firmware file (or a logo package); 0 = not started, and
// then |callback| is never called. Non-zero once the device has agreed to
// take the file; the file is then sent on the library's own thread, which
// calls |callback|(0, status, total, progress, user):
//   - transfer: total = file size, progress = bytes sent (rising, at most
//     one report per 1 % or 64 KiB, the last one at the file size);
//   - writing on the device: total = -1, progress = percent (rising);
//   - exactly one final call: progress -1 (success, status 0) or -2
//     (failure, status from NetSdkUpgradeStatus or an SDK code).
// No call follows the final one, so |user| may be freed from inside it or
// after it. A session that ends after the success status (the device
// reboots into the new firmware) is not a failure; one that ends before the
// final status is (-10003). One upgrade per login handle at a time.
int32_t NetSdk_Upgrade(int32_t loginHandle, const char *firmwarePath, int32_t reserved,
                       NetSdkProgressCallback callback, void *user, int32_t upgradeType);

// request: 16 bytes, four 32-bit words: channel (0-based), stream (0 main,
// 1 sub), 0, 0. Returns a stream handle > 0, or the refusal (<= 0). The
// stream ends with its session (logout, a lost connection); its handle is
// still released by NetSdk_StopRealStream.
int32_t NetSdk_StartRealStream(int32_t loginHandle, const void *request, int32_t reserved);
// Until a callback is set, the stream's data is dropped.
int32_t NetSdk_SetStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user);
// Takes the callback and user that were set. Once it has returned, that
// callback neither runs nor will run again, so |user| may be freed; called
// from inside the callback, it returns at once and that call finishes.
int32_t NetSdk_ClearStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user);
// Ends the callbacks as NetSdk_ClearStreamCallback does, then the stream.
int32_t NetSdk_StopRealStream(int32_t streamHandle);

#ifdef __cplusplus
}
#endif
