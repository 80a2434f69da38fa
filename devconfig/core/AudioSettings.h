#pragma once
// The audio page without its window: what a read of command 190 shows, and
// the record a save sends. A save starts from the bytes the device gave, so
// the device's own words and any value the user did not touch go back as
// they came, even values outside what the controls can show.

#include <cstdint>
#include <string>

#include "ConfigRecords.h"

namespace scoutrix {

struct AudioValues
{
    int compression = 0;  // 0 G711A, 1 G711U
    int inputVolume = 0;  // 0..100
    int outputVolume = 0; // 0..10

    bool operator==(const AudioValues &o) const
    {
        return compression == o.compression && inputVolume == o.inputVolume && outputVolume == o.outputVolume;
    }
    bool operator!=(const AudioValues &o) const { return !(*this == o); }
};

class AudioSettings
{
public:
    static constexpr int InputMax = 100;
    static constexpr int OutputMax = 10;

    AudioSettings();

    // |result| is what the SDK read returned; a negative result forgets
    // whatever an earlier device left, so nothing of it can be shown or saved.
    void loadRead(int32_t result, const AudioRecord &record);
    bool canSave() const { return m_read; }
    int32_t readError() const { return m_readError; }

    // The device's values as the controls can show them.
    AudioValues shown() const;
    // What a save sends for |wanted|: the record as read, with only the
    // fields whose shown value the user changed written over.
    AudioRecord recordFor(const AudioValues &wanted) const;
    // The device took |written|: the next save and log entry compare with it.
    void saved(const AudioRecord &written);

    const AudioRecord &record() const { return m_record; }

    // "G711A, in 80, out 7" for the activity log.
    static std::string describe(const AudioRecord &record);

private:
    AudioRecord m_record;
    bool m_read = false;
    int32_t m_readError = 0;
};

} // namespace scoutrix
