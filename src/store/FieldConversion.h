#pragma once

// Conversion of the gateway's raw field bytes into values, and of values into display texts.
// These run for every field of every stream message: no allocation beyond the value's own string
// or bytes, and no locale look-up per call (the format settings are read once). These files were
// Functions.*.

#include "gateway/GatewayCInterface.h"
#include "platform/FormatSettings.h"
#include "store/Value.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorlen {

// Reads the digits after a gateway type letter ("4" → 4, "20" → 20). Nothing is validated: every
// character contributes its code minus '0'.
std::int32_t ParseTypeSize(const char* s);

// Converts the field f of a message whose data starts at `data` and is `dataSize` bytes long.
// A field that does not lie wholly inside the data gives the empty value.
TValue FieldToVariant(const cg_field_desc_t& f, const void* data, std::size_t dataSize);

// The value of a decimal field from its mantissa and scale, exactly as FieldToVariant gives it;
// for readers that take the two from cg_bcd_get themselves.
double ScaledDecimal(std::int64_t mantissa, std::int8_t scale);

// Display text of a value, with the given locale record (default: the process-wide one).
std::string ValueToStr(const TValue& v);
std::string ValueToStr(const TValue& v, const TFormatSettings& fs);
// Appends the display text to `out` without building a temporary string (grid passes).
void AppendValueText(std::string& out, const TValue& v, const TFormatSettings& fs);

// The value when it is a 32-bit (64-bit) signed integer; -919191 for every other kind and width.
constexpr std::int32_t kNoInteger = -919191;
std::int32_t VarAsInteger(const TValue& v);
std::int64_t VarAsInt64(const TValue& v);

} // namespace vorlen
