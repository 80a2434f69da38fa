#pragma once
// Address arithmetic of the modify-IP dialog, free of widgets: the addresses
// a batch hands out, and the warnings an installer should see before
// pressing OK. Addresses are four octets, first octet first.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace AddressPlan {

using Octets = std::array<uint8_t, 4>;

// Octets from editor values; each keeps its low 8 bits, as the device record
// stores it.
Octets fromValues(long long o0, long long o1, long long o2, long long o3);

uint32_t toValue(const Octets &o);
Octets fromValue(uint32_t v);
std::string text(const Octets &o);

// Address of position |index| in a batch: the same for every device, or the
// first address with |index| added to its last octet, kept to 8 bits.
Octets batchAddress(const Octets &first, int index, bool sameAddress);

// Whether the mask's one bits are contiguous from the top (255.255.255.0 yes,
// 255.0.255.0 no). An all-zero mask counts as contiguous.
bool isContiguousMask(const Octets &mask);

struct Warnings
{
    bool maskNotContiguous = false;
    bool gatewayOutsideSubnet = false;
    // Addresses of the run that are the subnet's network or broadcast
    // address, in run order.
    std::vector<Octets> reservedAddresses;

    bool any() const { return maskNotContiguous || gatewayOutsideSubnet || !reservedAddresses.empty(); }
};

// What is doubtful about giving |count| devices addresses from |first| on
// (count 1 for a single device) with |mask| and |gateway|. Nothing here
// stops the change; a gateway of 0.0.0.0 means none.
Warnings check(const Octets &first, const Octets &mask, const Octets &gateway, int count, bool sameAddress);

} // namespace AddressPlan
