#pragma once
// The state file: address changes and changed records, matched by serial,
// kept across restarts of the emulator.

#include <string>

namespace scoutrix::devsim {

struct EmulatorState;

class StatePersistence
{
public:
    explicit StatePersistence(EmulatorState &state)
        : m_state(state)
    {
    }

    // Writes every device's address and changed records; no-op without a file.
    void save();
    // Applies a state file that exists to the devices; true when there is none.
    bool load(std::string &error);

private:
    EmulatorState &m_state;
};

} // namespace scoutrix::devsim
