#include "AddressPlan.h"

namespace AddressPlan {

Octets fromValues(long long o0, long long o1, long long o2, long long o3)
{
    return {uint8_t(o0 & 0xff), uint8_t(o1 & 0xff), uint8_t(o2 & 0xff), uint8_t(o3 & 0xff)};
}

uint32_t toValue(const Octets &o)
{
    return uint32_t(o[0]) << 24 | uint32_t(o[1]) << 16 | uint32_t(o[2]) << 8 | uint32_t(o[3]);
}

Octets fromValue(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

std::string text(const Octets &o)
{
    return std::to_string(o[0]) + '.' + std::to_string(o[1]) + '.' + std::to_string(o[2]) + '.'
        + std::to_string(o[3]);
}

Octets batchAddress(const Octets &first, int index, bool sameAddress)
{
    Octets out = first;
    if (!sameAddress)
        out[3] = uint8_t((first[3] + index) & 0xff);
    return out;
}

bool isContiguousMask(const Octets &mask)
{
    const uint32_t m = toValue(mask);
    // Ones from the top then zeros: the inverted mask plus one is a power of two.
    const uint32_t hostBits = ~m;
    return (hostBits & (hostBits + 1)) == 0;
}

Warnings check(const Octets &first, const Octets &mask, const Octets &gateway, int count, bool sameAddress)
{
    Warnings w;
    w.maskNotContiguous = !isContiguousMask(mask);
    const uint32_t m = toValue(mask);
    const uint32_t gw = toValue(gateway);
    if (gw != 0 && (gw & m) != (toValue(first) & m))
        w.gatewayOutsideSubnet = true;

    // Network and broadcast addresses only exist in subnets with room for
    // hosts; a doubtful mask gets its own warning instead.
    const uint32_t hostBits = ~m;
    if (w.maskNotContiguous || m == 0 || hostBits < 3)
        return w;
    const int n = sameAddress ? 1 : count;
    for (int i = 0; i < n; ++i) {
        const Octets a = batchAddress(first, i, sameAddress);
        const uint32_t host = toValue(a) & hostBits;
        if (host == 0 || host == hostBits)
            w.reservedAddresses.push_back(a);
    }
    return w;
}

} // namespace AddressPlan
