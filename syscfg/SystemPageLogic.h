#pragma once
// What the system page decides without a window: which devices its tree
// shows, the state of the restore list's master box, which light-mode rows
// are shown, the batch targets copied out of the device list and the reading
// of a configuration file for import.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <vector>

#include "DeviceRecords.h"
#include "SystemBatch.h"

namespace scoutrix::syscfg {

struct TreeGroup
{
    bool ipc = false;          // "IPC"; every other device type is "DVR/NVR"
    std::vector<int> devices;  // list indices, in list order
};

// Groups in the order of their first device. A group is made when a device of
// its kind is met, before the filter is applied, so a filter matching nothing
// still leaves the groups of the kinds present. With |filter|, a device is
// kept only when its dotted address contains the text (case-sensitively).
std::vector<TreeGroup> treeGroups(const DeviceRecord *devices, int count, const QString *filter);

// The master box of a list of check boxes: 0 none checked, 1 some, 2 all
// (the values of Qt::CheckState).
int masterState(const QVector<bool> &checked);

// Which rows of the light page are shown.
struct LightRows
{
    bool photosensitive = false;
    bool flashMode = false;
    bool lightTime = false;
    bool dimming = false;
    bool brightness = false;

    bool operator==(const LightRows &o) const
    {
        return photosensitive == o.photosensitive && flashMode == o.flashMode && lightTime == o.lightTime
            && dimming == o.dimming && brightness == o.brightness;
    }
};
// A light type was chosen (type: LightModeRecord::Type; flash: index of the
// flash-mode list; dimming: index of the dimming list).
LightRows rowsForLightType(int type, int flash, int dimming);
// The flash mode changed; the other rows stay as they are.
LightRows rowsForFlash(LightRows rows, int flash, int dimming);
// Dimming changed: "ON" (1) hides the brightness rows.
LightRows rowsForDimming(LightRows rows, int dimming);

// The batch's copy of one device.
BatchTarget targetOf(const DeviceRecord &device, int index);

// Reads a configuration image for import: at most ConfigImageMax bytes of a
// regular, readable file. On failure returns false and |errorKey| names the
// language key of the reason.
bool readConfigImage(const QString &path, QByteArray &image, QString &errorKey);

} // namespace scoutrix::syscfg
