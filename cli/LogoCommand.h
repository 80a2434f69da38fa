#pragma once
// scoutrix-cli logo: the upgrade page's logo package, built without a window.

#include <functional>
#include <map>
#include <string>

#include "ConfigRecords.h"

namespace scoutrix::cli {

// Reads the device's hardware record (command 61); returns an exit code, 0
// when hw holds the record. Given by main(), which owns the login.
using HardwareReader = std::function<int(const std::string &ip, HardwareRecord &hw)>;

// Runs "logo" with the parsed options; returns the exit code.
int runLogoCommand(const std::map<std::string, std::string> &options, const HardwareReader &readHardware);

} // namespace scoutrix::cli
