#pragma once
// Which found devices may move into the PC's segment, worked out before
// anything is sent. A device keeps its last octet; it stays where it is when
// that address in the PC's segment is already taken (by another found
// device, by the PC itself or by a device planned to move there first), so a
// move never leaves two devices on one address. Plain C++.

#include <string>
#include <vector>

#include "AddressPlan.h"
#include "DeviceRecords.h"

class SegmentMovePlan
{
public:
    enum class Action {
        NoDevice,         // a blank entry of the search
        InSegment,        // already in the PC's segment
        Move,             // goes to |to|
        InUseByDevice,    // |to| is the address of found device |holder|
        InUseByMove,      // device |holder| moves to |to| first
        InUseByPc,        // |to| is one of the PC's own addresses
        NotHostAddress,   // |to| would end in .0 or .255
    };

    struct Step
    {
        Action action = Action::NoDevice;
        AddressPlan::Octets from {};
        AddressPlan::Octets to {};         // the address the device would get
        AddressPlan::Octets gatewayTo {};  // its gateway in the segment
        int holder = -1;                   // index of the device holding |to|

        bool isSkip() const
        {
            return action == Action::InUseByDevice || action == Action::InUseByMove
                || action == Action::InUseByPc || action == Action::NotHostAddress;
        }
    };

    // |net| holds |count| entries as the search left them (blank entries
    // allowed); |segment| is the PC's first three octets; |pcAddresses| are
    // the PC's own IPv4 addresses (any segment).
    SegmentMovePlan(const scoutrix::NetInfo *net, int count, const uint8_t segment[3],
                    const std::vector<AddressPlan::Octets> &pcAddresses = {});

    const std::vector<Step> &steps() const { return m_steps; }
    const Step &step(int index) const { return m_steps[size_t(index)]; }
    int moveCount() const { return m_moves; }
    int inUseCount() const { return m_inUse; }
    int notHostCount() const { return m_notHost; }
    // Devices outside the segment, whether they can move or not.
    int foreignCount() const { return m_moves + m_inUse + m_notHost; }
    // "192.168.1" for the segment 192.168.1.x.
    std::string segmentText() const;

    // The record to send for a planned move: the device's own record with the
    // address and gateway of its step; every other byte as found.
    static scoutrix::NetInfo movedRecord(const scoutrix::NetInfo &found, const Step &step);

private:
    std::vector<Step> m_steps;
    uint8_t m_segment[3];
    int m_moves = 0;
    int m_inUse = 0;
    int m_notHost = 0;
};
