#pragma once
// A short text of what a save changes in the encode table, for the activity
// log: only the streams that differ, e.g.
// "ch2 main: 1920x1080 25fps 4096kbps" -> "ch2 main: 1280x720 25fps 2048kbps".
// Plain C++.

#include <string>

#include "ConfigRecords.h"
#include "EncodeTables.h"

namespace scoutrix {

struct EncodeChangeText
{
    std::string before;  // streams as they were, "; " between them; empty when nothing changed
    std::string after;   // the same streams as they are now
};

EncodeChangeText describeChanges(const EncodeTable &before, const EncodeTable &after, int channelCount,
                                 const ResolutionTable &resolutions);

// "1920x1080" from a name such as "1080P(1920x1080)" or "H5M(1280*1944)"; the
// name itself when it holds no size; "#n" for an index without a name.
std::string resolutionSizeText(const ResolutionTable &resolutions, int index);

} // namespace scoutrix
