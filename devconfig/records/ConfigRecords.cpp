#include "ConfigRecords.h"

#include <cstdio>

namespace scoutrix {

std::string DeviceInfoRecord::buildTimeText() const
{
    char text[64];
    std::snprintf(text, sizeof text, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", word(BuildYear), word(BuildMonth),
                  word(BuildDay), word(BuildHour), word(BuildMinute), word(BuildSecond));
    return text;
}

void DeviceInfoRecord::setBuildTime(int year, int month, int day, int hour, int minute, int second)
{
    setWord(BuildYear, year);
    setWord(BuildMonth, month);
    setWord(BuildDay, day);
    setWord(BuildHour, hour);
    setWord(BuildMinute, minute);
    setWord(BuildSecond, second);
}

} // namespace scoutrix
