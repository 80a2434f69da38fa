#pragma once
// The devices' side of discovery: search answers and sets without login,
// over the discovery sockets.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <netinet/in.h>

#include "Protocol.h"
#include "WsDiscovery.h"

namespace scoutrix::devsim {

struct EmulatorState;
class SocketLoop;
class StatePersistence;

class DiscoveryResponder
{
public:
    DiscoveryResponder(EmulatorState &state, SocketLoop &loop, StatePersistence &persistence)
        : m_state(state)
        , m_loop(loop)
        , m_persistence(persistence)
    {
    }

    // One datagram heard on discovery socket |hub|.
    void onDatagram(std::size_t hub, const sockaddr_in &from, const uint8_t *data, std::size_t size);

private:
    void onProbe(std::size_t hub, const sockaddr_in &from, const proto::SearchProbe &probe);
    // A WS-Discovery Probe: every ONVIF device it matches answers, one
    // ProbeMatches datagram each, unicast to the prober.
    void onWsProbe(std::size_t hub, const sockaddr_in &from, const onvif::discovery::Probe &probe);
    // MAC of another device that holds the record's new address; empty when none.
    std::string holderOfNewAddress(std::size_t device, const std::vector<uint8_t> &record) const;
    void onSetWithoutLogin(
        std::size_t hub, const sockaddr_in &from, const proto::SetNoLoginRequest &req);

    EmulatorState &m_state;
    SocketLoop &m_loop;
    StatePersistence &m_persistence;
};

} // namespace scoutrix::devsim
