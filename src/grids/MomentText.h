#pragma once

// The date and time of an exchange system message as the journal shows it: the short date,
// then a blank and the long time, the time left out when the moment is exactly midnight.

#include "platform/FormatSettings.h"
#include "store/Value.h"

#include <string>

namespace vorlen {

std::string MomentText(const TDateTime& moment, const TFormatSettings& fs);
// A moment that is not a date-time: numbers are read as days (the date-time encoding);
// anything else shows as its display text, so the message itself is never lost.
std::string MomentText(const TValue& moment, const TFormatSettings& fs);

// A time of day in a long time format ("hh:nn:ss"; Qt's "HH:mm:ss" reads the same).
std::string FormatLongTime(int hour, int minute, int second, int millisecond,
                           const TFormatSettings& fs);

} // namespace vorlen
