#include "EncodeChanges.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace scoutrix {

namespace {

void append(std::string &to, const std::string &part, const char *separator)
{
    if (!to.empty())
        to += separator;
    to += part;
}

// The three figures an installer reads first, then only those other fields
// that differ between the two sides.
std::string streamText(const StreamParams &s, const StreamParams &other, const ResolutionTable &resolutions)
{
    std::string text = resolutionSizeText(resolutions, s.resolution()) + " "
        + std::to_string(s.frameRate()) + "fps " + std::to_string(s.bitRate()) + "kbps";
    if (s.encodeType() != other.encodeType()) {
        const char *name = encodeTypeName(s.encodeType());
        text += std::string(" ") + (name ? name : "type " + std::to_string(s.encodeType()));
    }
    if (s.bitControl() != other.bitControl())
        text += s.bitControl() == 1 ? " VBR" : " CBR";
    if (s.quality() != other.quality())
        text += " q" + std::to_string(s.quality());
    if (s.iFrameInterval() != other.iFrameInterval())
        text += " I" + std::to_string(s.iFrameInterval());
    if (s.videoOn() != other.videoOn())
        text += s.videoOn() ? " video on" : " video off";
    if (s.audioOn() != other.audioOn())
        text += s.audioOn() ? " audio on" : " audio off";
    return text;
}

} // namespace

std::string resolutionSizeText(const ResolutionTable &resolutions, int index)
{
    if (!ResolutionTable::valid(index) || resolutions.at(index).name.empty())
        return "#" + std::to_string(index);
    std::string name = resolutions.at(index).name;
    const auto open = name.find('(');
    const auto close = name.rfind(')');
    if (open != std::string::npos && close != std::string::npos && close > open + 1)
        name = name.substr(open + 1, close - open - 1);
    std::replace(name.begin(), name.end(), '*', 'x');
    return name;
}

EncodeChangeText describeChanges(const EncodeTable &before, const EncodeTable &after, int channelCount,
                                 const ResolutionTable &resolutions)
{
    EncodeChangeText out;
    const int channels = std::clamp(channelCount, 0, EncodeTable::Channels);
    for (int ch = 0; ch < channels; ++ch) {
        const ChannelEncode &b = before.channel[ch];
        const ChannelEncode &a = after.channel[ch];
        const std::pair<const StreamParams *, const StreamParams *> streams[] = {{&b.main, &a.main},
                                                                                 {&b.sub, &a.sub}};
        for (int k = 0; k < 2; ++k) {
            const StreamParams &was = *streams[k].first;
            const StreamParams &now = *streams[k].second;
            if (std::memcmp(&was, &now, sizeof was) == 0)
                continue;
            const std::string where = "ch" + std::to_string(ch + 1) + (k == 0 ? " main: " : " sub: ");
            append(out.before, where + streamText(was, now, resolutions), "; ");
            append(out.after, where + streamText(now, was, resolutions), "; ");
        }
    }
    return out;
}

} // namespace scoutrix
