#pragma once
// A device model's records as their structs, and structs as bytes to set.

#include <cstdint>
#include <cstring>
#include <vector>

#include "DeviceModel.h"

// The record of |command| as read from |m|; zeros when the get fails or the
// size differs.
template <typename R> R recordOf(const scoutrix::devsim::DeviceModel &m, int32_t command, int32_t channel)
{
    std::vector<uint8_t> bytes;
    R r;
    std::memset(&r, 0, sizeof r);
    if (m.getConfig(command, channel, bytes) == 0 && bytes.size() == sizeof r)
        std::memcpy(&r, bytes.data(), sizeof r);
    return r;
}

template <typename R> std::vector<uint8_t> bytesOf(const R &r)
{
    const auto *p = reinterpret_cast<const uint8_t *>(&r);
    return std::vector<uint8_t>(p, p + sizeof r);
}
