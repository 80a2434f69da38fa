#pragma once
// An ONVIF device's SOAP services (device, media, imaging): one request in,
// one answer out, read from and written to the same DeviceModel records the
// own-protocol sessions use, so both kinds of client see one device. What
// outlives the answer (a move, a reboot, a new stream format) is handed to
// an OnvifControl, which does it after the answer went out.

#include <cstdint>
#include <string>
#include <string_view>

namespace scoutrix::devsim {

struct EmulatorState;
class StatePersistence;

// The things a request starts that the HTTP side carries out. Called with
// the emulator's mutex held; implementations only queue the work.
class OnvifControl
{
public:
    virtual ~OnvifControl() = default;
    // The device's address changed: its HTTP and RTSP servers move there.
    virtual void moveDevice(int device) = 0;
    // Away for |downMs|, then back (the records as they are then).
    virtual void rebootDevice(int device, int downMs) = 0;
    // The encode settings changed: the RTSP server serves the new format.
    virtual void restream(int device) = 0;
};

struct OnvifAnswer
{
    int status = 200;
    std::string body;
    // Set for a missing token when HTTP Digest could stand in: the challenge.
    std::string wwwAuthenticate;
};

class OnvifService
{
public:
    OnvifService(EmulatorState &state, StatePersistence &persistence, OnvifControl &control)
        : m_state(state)
        , m_persistence(persistence)
        , m_control(control)
    {
    }

    // |path| is the service path ("/onvif/device_service" ...), |client|
    // the peer's address, |httpAuthorization| the request's Authorization
    // header, |method| the HTTP method. Takes the emulator's mutex.
    OnvifAnswer handle(int device, const std::string &path, std::string_view body,
        const std::string &client, const std::string &httpAuthorization, const std::string &method);

    // The base of every service address: "http://IP:PORT". Mutex held.
    static std::string baseAddress(const EmulatorState &state, int device);
    // The stable WS-Discovery endpoint reference of a device:
    // "urn:uuid:..." derived from its MAC text and serial.
    static std::string endpointReference(const std::string &mac, const std::string &serial);

private:
    struct Call;
    OnvifAnswer dispatch(Call &call);
    OnvifAnswer device(Call &call);
    OnvifAnswer media(Call &call);
    OnvifAnswer imaging(Call &call);

    EmulatorState &m_state;
    StatePersistence &m_persistence;
    OnvifControl &m_control;
};

} // namespace scoutrix::devsim
