#include "SegmentMovePlan.h"

#include <cstring>
#include <unordered_map>

using scoutrix::NetInfo;

namespace {

AddressPlan::Octets octets(const uint8_t o[4])
{
    return {o[0], o[1], o[2], o[3]};
}

} // namespace

SegmentMovePlan::SegmentMovePlan(const NetInfo *net, int count, const uint8_t segment[3],
                                 const std::vector<AddressPlan::Octets> &pcAddresses)
{
    std::memcpy(m_segment, segment, 3);
    if (count < 0)
        count = 0;
    m_steps.resize(size_t(count));

    // Every address a found device holds now, first holder wins. Devices
    // outside the segment hold addresses no move can land on, so only the
    // ones inside matter, but all are kept for simplicity.
    std::unordered_map<uint32_t, int> heldByDevice;
    for (int i = 0; i < count; ++i) {
        if (net[i].hasMac())
            heldByDevice.emplace(AddressPlan::toValue(octets(net[i].ip)), i);
    }
    std::unordered_map<uint32_t, int> claimedByMove;

    for (int i = 0; i < count; ++i) {
        Step &s = m_steps[size_t(i)];
        if (!net[i].hasMac())
            continue;
        s.from = octets(net[i].ip);
        if (std::memcmp(net[i].ip, segment, 3) == 0) {
            s.action = Action::InSegment;
            s.to = s.from;
            s.gatewayTo = octets(net[i].gateway);
            continue;
        }
        s.to = {segment[0], segment[1], segment[2], net[i].ip[3]};
        // A device without a gateway keeps none rather than getting x.y.z.0.
        static const uint8_t noGateway[4] = {0, 0, 0, 0};
        if (std::memcmp(net[i].gateway, noGateway, 4) == 0)
            s.gatewayTo = {0, 0, 0, 0};
        else
            s.gatewayTo = {segment[0], segment[1], segment[2], net[i].gateway[3]};
        const uint32_t target = AddressPlan::toValue(s.to);

        bool pcHolds = false;
        for (const AddressPlan::Octets &pc : pcAddresses)
            pcHolds = pcHolds || AddressPlan::toValue(pc) == target;

        const auto device = heldByDevice.find(target);
        const auto move = claimedByMove.find(target);
        if (s.to[3] == 0 || s.to[3] == 255) {
            // The segment is taken as a /24: its network and broadcast
            // addresses reach no single device.
            s.action = Action::NotHostAddress;
            ++m_notHost;
        } else if (pcHolds) {
            s.action = Action::InUseByPc;
            ++m_inUse;
        } else if (device != heldByDevice.end() && device->second != i) {
            s.action = Action::InUseByDevice;
            s.holder = device->second;
            ++m_inUse;
        } else if (move != claimedByMove.end()) {
            s.action = Action::InUseByMove;
            s.holder = move->second;
            ++m_inUse;
        } else {
            s.action = Action::Move;
            claimedByMove.emplace(target, i);
            ++m_moves;
        }
    }
}

std::string SegmentMovePlan::segmentText() const
{
    return std::to_string(m_segment[0]) + '.' + std::to_string(m_segment[1]) + '.'
        + std::to_string(m_segment[2]);
}

NetInfo SegmentMovePlan::movedRecord(const NetInfo &found, const Step &step)
{
    NetInfo out = found;
    for (int k = 0; k < 4; ++k) {
        out.ip[k] = step.to[size_t(k)];
        out.gateway[k] = step.gatewayTo[size_t(k)];
    }
    return out;
}
