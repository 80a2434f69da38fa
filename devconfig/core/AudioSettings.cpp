#include "AudioSettings.h"

#include <algorithm>
#include <cstring>

namespace scoutrix {

namespace {

int clampTo(int32_t v, int high) { return std::clamp<int32_t>(v, 0, high); }

} // namespace

AudioSettings::AudioSettings()
{
    std::memset(&m_record, 0, sizeof m_record);
}

void AudioSettings::loadRead(int32_t result, const AudioRecord &record)
{
    if (result < 0) {
        std::memset(&m_record, 0, sizeof m_record);
        m_read = false;
        m_readError = result;
        return;
    }
    m_record = record;
    m_read = true;
    m_readError = 0;
}

AudioValues AudioSettings::shown() const
{
    AudioValues v;
    v.compression = m_record.compression() == 1 ? 1 : 0;
    v.inputVolume = clampTo(m_record.inputVolume(), InputMax);
    v.outputVolume = clampTo(m_record.outputVolume(), OutputMax);
    return v;
}

AudioRecord AudioSettings::recordFor(const AudioValues &wanted) const
{
    AudioRecord out = m_record;
    const AudioValues was = shown();
    if (wanted.compression != was.compression)
        out.setCompression(wanted.compression);
    if (wanted.inputVolume != was.inputVolume)
        out.setInputVolume(wanted.inputVolume);
    if (wanted.outputVolume != was.outputVolume)
        out.setOutputVolume(wanted.outputVolume);
    return out;
}

void AudioSettings::saved(const AudioRecord &written)
{
    if (m_read)
        m_record = written;
}

std::string AudioSettings::describe(const AudioRecord &record)
{
    const int32_t c = record.compression();
    const std::string name = c == 0 ? "G711A" : c == 1 ? "G711U" : "compression " + std::to_string(c);
    return name + ", in " + std::to_string(record.inputVolume()) + ", out " + std::to_string(record.outputVolume());
}

} // namespace scoutrix
