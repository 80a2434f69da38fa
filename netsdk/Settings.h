#pragma once
// Settings of the SDK read from netsdk.ini beside the program.

#include <string>

namespace scoutrix::netsdk {

// Directory of the running program, with a trailing slash; empty if unknown.
std::string programDirectory();

// Value of |key| in [group] of netsdk.ini beside the program, or empty.
std::string iniValue(const std::string &group, const std::string &key);

// An integer from the environment variable, else from the INI file, else |fallback|.
int intSetting(const char *envName, const std::string &group, const std::string &key, int fallback);

} // namespace scoutrix::netsdk
