#include "data/curve_rows.h"

#include "data/errors.h"

#include <cmath>

namespace dravo2 {
inline namespace data {
namespace curve_text {

void RowGatherer::Finish(ParsedCurveFile& file, std::size_t columns) {
    const std::size_t rows = Widths.size();
    if (columns > 0 && rows > MaxValues / columns) {
        throw InputOutputError("The file's " + std::to_string(rows) + " rows of " + std::to_string(columns) +
                               " columns are " + TooManyValues());
    }
    std::size_t source = Values.size();
    Values.resize(rows * columns, kNaN);
    // From the last row back, each row moves to a place at or after its own.
    for (std::size_t r = rows; r-- > 0;) {
        const std::size_t width = Widths[r];
        source -= width;
        const std::size_t target = r * columns;
        const auto begin = Values.begin() + static_cast<std::ptrdiff_t>(source);
        if (target != source) {
            std::move_backward(begin, begin + static_cast<std::ptrdiff_t>(width),
                               Values.begin() + static_cast<std::ptrdiff_t>(target + width));
        }
        std::fill(Values.begin() + static_cast<std::ptrdiff_t>(target + width),
                  Values.begin() + static_cast<std::ptrdiff_t>(target + columns), kNaN);
    }
    file.Values = std::move(Values);
    file.RowLines = std::move(Lines);
    Widths.clear();
    Widths.shrink_to_fit();
}

void GenericNames(std::vector<CurveColumn>& columns, std::size_t from) {
    for (std::size_t i = from; i < columns.size(); ++i) {
        columns[i].Name = "Column " + std::to_string(i + 1);
    }
}

void MarkValues(ParsedCurveFile& file) {
    for (std::size_t r = 0; r < file.RowCount(); ++r) {
        const std::span<const double> row = file.Row(r);
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (!std::isnan(row[c])) {
                file.Columns[c].HasValues = true;
            }
        }
    }
}

} // namespace curve_text
} // namespace data
} // namespace dravo2
