#pragma once
// scoutrix-cli's exit codes, one per kind of failure.

namespace scoutrix::cli {

enum Exit {
    ExitOk = 0,
    ExitFailed = 1, // the device refused or the operation failed
    ExitUsage = 2,
    ExitNotFound = 3, // no answer to a search, or no device with that MAC
    ExitLogin = 4, // login refused
    ExitTimeout = 5,
    ExitFile = 6,
    ExitNetwork = 7,
};

} // namespace scoutrix::cli
