#pragma once

// The format-settings record built from the desktop's locale. The windows read the locale's
// patterns (Qt's notation) and hand them here, so the translation is tested without a display.

#include "platform/FormatSettings.h"

#include <string>
#include <string_view>

namespace vorlen {

// Qt's short date pattern ("dd.MM.yyyy", "M/d/yy") in the record's notation. Day and month
// names have no place in a short date here, so their runs shrink to two-digit numbers.
std::string ShortDateFromQtPattern(std::string_view pattern);
// Qt's time pattern ("HH:mm:ss", "h:mm:ss AP t") in the record's notation ("hh:nn:ss"). The
// journal's times are 24-hour, so AM/PM markers and the time zone are dropped.
std::string LongTimeFromQtPattern(std::string_view pattern);
// The first character between date parts, or '.' when the pattern has none.
char DateSeparatorOf(std::string_view qtDatePattern);

// `decimalPoint` is the locale's decimal separator as UTF-8; one that is not a single byte
// falls back to ','.
TFormatSettings FormatSettingsFromQtLocale(std::string_view shortDatePattern,
                                           std::string_view longTimePattern,
                                           std::string_view decimalPoint);

} // namespace vorlen
