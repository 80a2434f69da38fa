#pragma once
// What the program and its tests reach beyond the player SDK's C calls.

#include <QString>

#include <cstdint>

namespace scoutrix::play {

class PlayerView;

// The text the view shows when pictures stop arriving (the page sets it in
// the user's language). GUI thread.
void setStalledText(const QString &text);
QString stalledText();

// Port 0's view while it plays, else null. GUI thread.
PlayerView *portView();

struct PortStats
{
    int64_t inputs = 0; // calls to input data accepted
    int64_t refused = 0; // calls refused (port not open, empty or oversize data)
    int64_t frames = 0; // pictures decoded
    double lastDecodeMs = 0;
    double lastConvertMs = 0;
};
PortStats portStats();

} // namespace scoutrix::play
