#pragma once
// What the emulated devices are: identity, addresses, credentials, faults.
// A fleet comes from a JSON fleet file or is generated.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "ConfigRecords.h"
#include "Pake.h"

namespace scoutrix::devsim {

// Faults injected per device.
struct Faults
{
    int delayMs = 0; // every answer (search, set without login, session) waits this long
    int dropAnswers = 0; // answers to the first N probes of each search are lost
    bool duplicateAnswers = false; // every search answer is sent twice
    bool emptyMac = false; // search answers carry an empty MAC text
    bool timeout = false; // logins, session requests and sets without login go unanswered
    bool needReboot = false; // configuration sets are applied and answer -11401
    bool busy = false; // logins answer "system busy" (7)
    bool refuseSet = false; // sets without login answer -1 and change nothing
    std::string malformed; // "", "magic", "oversize", "truncate": broken replies after login
    int powerLossAtPercent = 0; // 1..99: power fails when writing firmware reaches this percent
};

struct User
{
    User() = default;
    User(std::string userName, std::string userPassword, std::string record = {})
        : name(std::move(userName))
        , password(std::move(userPassword))
        , verifier(std::move(record))
    {
    }
    std::string name;
    std::string password;
    // Instead of the password: the device's verifier record as text
    // (verifierText), so a fleet file need not hold the password at all.
    std::string verifier;
};

// An extra record served by get configuration, for commands the emulator
// does not model itself.
struct ExtraRecord
{
    int32_t command = 0;
    int32_t channel = -1;
    std::vector<uint8_t> bytes;
};

// The protocol a device speaks: the project's own, or ONVIF (SOAP over HTTP,
// WS-Discovery, RTSP).
enum class Protocol { Own, Onvif };

struct DeviceSpec
{
    Protocol protocol = Protocol::Own;
    std::string mac;
    std::string serial;
    std::string model;
    int32_t type = 2; // 0 DVR, 1 NVR, 2 IPC, 3 HVR
    int channels = 1; // 1..32
    int audioChannels = 1;
    uint32_t ip = 0; // host order
    uint32_t mask = 0xffffff00u;
    uint32_t gateway = 0;
    uint16_t port = 39510; // 0: chosen by the system when the device starts; ONVIF: the HTTP port
    bool ntsc = false;
    std::string version;
    int build[6]
        = { 2022, 5, 10, 9, 30, 0 }; // firmware build: year, month, day, hour, minute, second
    std::vector<User> users;
    int lockoutAfter = 5; // wrong passwords in a row before the user is locked
    int lockoutMs = 30000;
    int maxSessions = 16;
    std::vector<std::string> blacklist; // client addresses refused at login
    bool uninitialised = false;
    int rebootMs = 3000; // how long a reboot keeps the device away
    int flashMs = 3000; // how long writing an upgrade takes
    std::string hardware; // board name of the hardware record; empty: the model's
    // System settings the device starts with (and returns to on a restore).
    int language = 0; // index in the device's language list, 0..31
    int lightModes = -1; // bit 0 infrared, 1 full colour, 2 dual; -1: the model's own
    bool onvif = true;
    bool dhcp = false;
    int64_t clockOffsetS = 0; // how far the device clock runs ahead of the host's local time
    Faults faults;
    std::vector<ExtraRecord> extraRecords;
};

struct Fleet
{
    std::vector<DeviceSpec> devices;
};

constexpr int MaxFleetDevices = 256;

// About two dozen mixed devices in 127.0.10.x and 127.0.20.x, and six ONVIF
// cameras in 127.0.30.x.
Fleet defaultFleet();
// |count| devices (1..256), two of every three own-protocol devices in the
// 127.0.10.x block and one in 127.0.20.x, host numbers of the two blocks
// disjoint so a segment move never lands on a taken address. The last
// |onvifCount| of them are ONVIF cameras in 127.0.30.x and 127.0.31.x, on
// HTTP port 80 as real cameras.
Fleet generatedFleet(int count, int onvifCount = 0);
const char *protocolText(Protocol p);

// Fleet and state files are read into a sorted map (parsing stays n log n even
// with many members) and written from an ordered one, so written files keep
// their member order.
using JsonIn = nlohmann::json;
using JsonOut = nlohmann::ordered_json;

// Strict JSON text: no duplicate members, nesting at most 64 deep; on failure
// |error| names the line and column.
bool parseJson(const std::string &text, JsonIn &out, std::string &error);

bool fleetFromJson(const JsonIn &root, Fleet &out, std::string &error);
JsonOut fleetToJson(const Fleet &fleet);
bool loadFleetFile(const std::string &path, Fleet &out, std::string &error);
// Distinct MAC texts, serials and address:port pairs; sizes in range.
bool validateFleet(const Fleet &fleet, std::string &error);

// A camera's image settings, its exposure record and its audio record
// (CmdImage, CmdExposure, CmdAudio of ConfigRecords.h), all kept for channel
// 0. Recorders have none of them; a device without audio no audio record.
constexpr std::size_t ImageRecordSize = sizeof(ImageRecord);
constexpr std::size_t ExposureRecordSize = sizeof(ExposureRecord);
constexpr std::size_t AudioRecordSize = sizeof(AudioRecord);

// The light modes a device has: the fleet's, else its model's. Recorders have none.
int lightModesOf(const DeviceSpec &d);
// What a camera's lens and sensor offer besides its lights, by model.
struct CameraFeatures
{
    bool focus = false; // a motorised lens: focus modes
    bool wdr = false; // wide dynamic range
    // The exposure record's header byte 0: a night block of its own, kept
    // for the hours the fill light is on.
    bool nightExposure = false;
};
CameraFeatures cameraFeaturesOf(const DeviceSpec &d);
// The board name the device reports in its hardware record (command 61).
std::string hardwareNameOf(const DeviceSpec &d);
// A real calendar day (leap years included).
bool isRealDate(int year, int month, int day);

// "delay_ms=300,duplicate_answers,empty_mac" (the fleet file's fault names).
bool parseFaults(const std::string &text, Faults &out, std::string &error);
bool faultsFromJson(const JsonIn &v, Faults &out, std::string &error);
JsonOut faultsToJson(const Faults &f);

// A get reply carries the result word and the record in one frame.
constexpr std::size_t MaxRecordSize = (1u << 20) - 4;
// Size of a record the device builds and reads itself; 0 for other commands.
std::size_t builtInRecordSize(int32_t command);

int32_t deviceTypeFromName(const std::string &name); // -1 when unknown
const char *deviceTypeText(int32_t type);

std::string hexEncode(const std::vector<uint8_t> &bytes);
// "spake2+p256:logN:r:p:salt:w0:L", the numbers decimal and the rest hex.
std::string verifierText(const proto::pake::VerifierRecord &record);
// The fleet with every password replaced by its verifier record, as the
// devices keep it; deriving a verifier is deliberately slow, so callers that
// build many devices from one fleet do it once.
Fleet withVerifiers(Fleet fleet);
bool parseVerifier(const std::string &text, proto::pake::VerifierRecord &out);
bool hexDecode(const std::string &text, std::vector<uint8_t> &out);

bool readFile(const std::string &path, std::string &out, std::string &error);
// Written beside the target (mode 600) and renamed over it, so a reader never
// sees half a file. Refuses to replace anything but a regular file (a link,
// a directory, a pipe).
bool writeFileAtomically(const std::string &path, const std::string &content, std::string &error);

} // namespace scoutrix::devsim
