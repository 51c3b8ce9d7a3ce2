#pragma once

#include "data/curve_fields.h"
#include "data/curve_import.h"
#include "data/input_limits.h"

#include <cstdint>
#include <string_view>

namespace dravo2 {
inline namespace data {
namespace curve_text {

// A magnetometer export: the rows after the line `[Data]` (line `dataLine`), which `cursor` has
// just passed. The first line that is not blank names the columns, comma-separated; a line
// without any number is a note of the instrument and skipped.
ParsedCurveFile ParseMagnetometer(LineCursor cursor, std::int32_t dataLine, const MeasuredLimits& limits);

// Delimited text columns: the separator and the decimal comma found from the lines, up to two rows
// of text (names, units) before the rows of numbers, or the names as the last comment before them.
ParsedCurveFile ParseDelimited(std::string_view bytes, const MeasuredLimits& limits);

} // namespace curve_text
} // namespace data
} // namespace dravo2
