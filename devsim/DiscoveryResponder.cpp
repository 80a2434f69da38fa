#include "DiscoveryResponder.h"

#include <cctype>
#include <cstring>
#include <functional>

#include "EmulatorState.h"
#include "OnvifService.h"
#include "SocketLoop.h"
#include "StatePersistence.h"
#include "WsDiscovery.h"

namespace scoutrix::devsim {

namespace {

using proto::Type;

constexpr std::size_t kSetCacheSize = 32;

} // namespace

void DiscoveryResponder::onDatagram(
    std::size_t hub, const sockaddr_in &from, const uint8_t *data, std::size_t size)
{
    // The discovery sockets also stand for the WS-Discovery group: an XML
    // datagram is a Probe or nothing.
    std::size_t first = 0;
    while (first < size && std::isspace(data[first]))
        ++first;
    if (first < size && data[first] == '<') {
        const auto probe = onvif::discovery::parseProbe(
            std::string_view(reinterpret_cast<const char *>(data), size));
        if (probe) {
            onWsProbe(hub, from, *probe);
        } else {
            ++m_state.stats.refusedDatagrams;
            m_state.log("WS-Discovery datagram refused: " + probe.error());
        }
        return;
    }
    proto::Frame frame;
    std::string why;
    if (!proto::decodeDatagram(data, size, frame, why)) {
        ++m_state.stats.refusedDatagrams;
        m_state.log("datagram refused: " + why);
        return;
    }
    if (frame.type == uint8_t(Type::SearchProbe)) {
        proto::SearchProbe probe;
        if (proto::decode(frame.payload, probe)) {
            onProbe(hub, from, probe);
            return;
        }
    } else if (frame.type == uint8_t(Type::SetNoLogin)) {
        proto::SetNoLoginRequest req;
        if (proto::decode(frame.payload, req)) {
            onSetWithoutLogin(hub, from, req);
            return;
        }
    }
    ++m_state.stats.refusedDatagrams;
    m_state.log(
        std::string("datagram refused: unexpected or malformed ") + proto::typeName(frame.type));
}

void DiscoveryResponder::onProbe(
    std::size_t hub, const sockaddr_in &from, const proto::SearchProbe &probe)
{
    ++m_state.stats.probes;
    for (std::size_t i = 0; i < m_state.devices.size(); ++i) {
        EmulatedDevice &dev = *m_state.devices[i];
        if (dev.rebooting || dev.model.spec().protocol != Protocol::Own)
            continue;
        if (dev.lastSearchId != probe.searchId) {
            dev.lastSearchId = probe.searchId;
            dev.probesThisSearch = 0;
        }
        const Faults &f = dev.model.spec().faults;
        if (++dev.probesThisSearch <= f.dropAnswers)
            continue;
        proto::SearchAnswer answer;
        answer.searchId = probe.searchId;
        SearchRecord rec = dev.model.searchRecord();
        if (f.emptyMac)
            std::memset(rec.net.mac, 0, sizeof rec.net.mac);
        std::memcpy(answer.record, &rec, sizeof rec);
        auto frame = proto::encodeFrame(Type::SearchAnswer, 0, proto::encode(answer));
        // A few milliseconds of spread, as devices on a LAN never answer in one burst.
        const int delay = f.delayMs + int(i % 8);
        if (f.duplicateAnswers)
            m_loop.sendLater(hub, from, frame, delay + 2);
        m_loop.sendLater(hub, from, std::move(frame), delay);
        ++m_state.stats.answers;
    }
}

void DiscoveryResponder::onWsProbe(
    std::size_t hub, const sockaddr_in &from, const onvif::discovery::Probe &probe)
{
    namespace wsd = onvif::discovery;
    ++m_state.stats.probes;
    const std::vector<wsd::QName> types { wsd::networkVideoTransmitter(), wsd::deviceType() };
    for (std::size_t i = 0; i < m_state.devices.size(); ++i) {
        EmulatedDevice &dev = *m_state.devices[i];
        const DeviceSpec &spec = dev.model.spec();
        if (spec.protocol != Protocol::Onvif || dev.rebooting || !dev.reachable)
            continue;
        const std::vector<std::string> scopes { wsd::makeScope("type", "video_encoder"),
            wsd::makeScope("type", "Network_Video_Transmitter"), wsd::makeScope("hardware", spec.model),
            wsd::makeScope("name", spec.model), wsd::makeScope("MAC", spec.mac),
            // Cameras spell the category either way; clients look for one of them.
            wsd::makeScope("mac", spec.mac), wsd::makeScope("Profile", "Streaming") };
        if (!wsd::matches(probe, types, scopes))
            continue;
        // Every probe of a search carries a new MessageID; the drop fault
        // counts the probes of one prober instead.
        const uint32_t searchId = uint32_t(std::hash<std::string>()(probe.messageId));
        const Faults &f = spec.faults;
        if (dev.lastSearchId != searchId) {
            dev.lastSearchId = searchId;
            dev.probesThisSearch = 0;
        }
        if (++dev.probesThisSearch <= f.dropAnswers)
            continue;
        wsd::ProbeMatches answer;
        answer.relatesTo = probe.messageId;
        wsd::ProbeMatch match;
        match.address = OnvifService::endpointReference(spec.mac, spec.serial);
        match.types = types;
        match.scopes = scopes;
        match.xaddrs.push_back(OnvifService::baseAddress(m_state, int(i)) + "/onvif/device_service");
        answer.matches.push_back(std::move(match));
        const std::string text = wsd::buildProbeMatches(answer);
        std::vector<uint8_t> bytes(text.begin(), text.end());
        const int delay = f.delayMs + int(i % 8);
        if (f.duplicateAnswers)
            m_loop.sendLater(hub, from, bytes, delay + 2);
        m_loop.sendLater(hub, from, std::move(bytes), delay);
        ++m_state.stats.answers;
    }
}

std::string DiscoveryResponder::holderOfNewAddress(std::size_t device, const std::vector<uint8_t> &record) const
{
    NetWithoutLoginRecord n;
    if (record.size() != sizeof n)
        return std::string();
    std::memcpy(&n, record.data(), sizeof n);
    const uint32_t ip = uint32_t(n.ip[0]) << 24 | uint32_t(n.ip[1]) << 16 | uint32_t(n.ip[2]) << 8 | n.ip[3];
    // Keeping an address it already has is no new conflict, even where
    // factory defaults share one.
    if (m_state.devices[device]->model.spec().ip == ip)
        return std::string();
    return m_state.holderOf(ip, device);
}

void DiscoveryResponder::onSetWithoutLogin(
    std::size_t hub, const sockaddr_in &from, const proto::SetNoLoginRequest &req)
{
    for (std::size_t i = 0; i < m_state.devices.size(); ++i) {
        EmulatedDevice &dev = *m_state.devices[i];
        if (dev.rebooting || dev.model.spec().protocol != Protocol::Own || dev.model.spec().mac != req.mac)
            continue;
        const Faults &f = dev.model.spec().faults;
        if (f.timeout)
            continue;
        int32_t result;
        const auto cached = dev.setCache.find(req.requestId);
        if (cached != dev.setCache.end()) {
            result = cached->second;
        } else {
            const std::string holder = holderOfNewAddress(i, req.record);
            if (!holder.empty()) {
                result = proto::Fail;
                m_state.log(m_state.deviceName(int(i)) + ": address refused: held by " + holder);
            } else {
                result = req.command != CmdNetWithoutLogin ? proto::NotSupported
                    : f.refuseSet                          ? proto::Fail
                                                           : dev.model.setNetwork(req.record);
            }
            dev.setCache[req.requestId] = result;
            dev.setCacheOrder.push_back(req.requestId);
            if (dev.setCacheOrder.size() > kSetCacheSize) {
                dev.setCache.erase(dev.setCacheOrder.front());
                dev.setCacheOrder.pop_front();
            }
            if (result != proto::Ok && !dev.model.lastRefusal().empty())
                m_state.log(
                    m_state.deviceName(int(i)) + ": address refused: " + dev.model.lastRefusal());
            if (result == proto::Ok) {
                m_state.log(m_state.deviceName(int(i)) + ": new address set without login");
                m_loop.moveDevice(int(i));
                m_persistence.save();
            }
        }
        proto::SetNoLoginReply reply { req.requestId, req.mac, result };
        m_loop.sendLater(hub, from,
            proto::encodeFrame(Type::SetNoLoginReply, 0, proto::encode(reply)), f.delayMs);
    }
}

} // namespace scoutrix::devsim
