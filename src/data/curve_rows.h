#pragma once

#include "data/curve_fields.h"
#include "data/curve_import.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace dravo2 {
inline namespace data {
namespace curve_text {

// Rows of numbers of differing lengths, gathered one after another as they are read and laid out
// as a table of equal rows at the end, so that the file's widest row costs no memory on the others
// until the table's width is known. Refuses more values than the import keeps.
class RowGatherer {
public:
    explicit RowGatherer(std::size_t maxValues) : MaxValues(maxValues) {}

    void Add(const std::vector<double>& row, std::int32_t line) {
        WidestRow = std::max(WidestRow, row.size());
        if (WidestRow > MaxValues / (Widths.size() + 1)) {
            FailAt(line, TooManyValues());
        }
        Values.insert(Values.end(), row.begin(), row.end());
        Widths.push_back(static_cast<std::uint32_t>(row.size()));
        Lines.push_back(line);
    }

    bool Empty() const { return Widths.empty(); }
    std::size_t Widest() const { return WidestRow; }

    // Moves the rows into `file`, each padded with NaN to `columns` values.
    void Finish(ParsedCurveFile& file, std::size_t columns);

private:
    std::string TooManyValues() const {
        return "more than " + std::to_string(MaxValues) + " values (rows times columns), the most the import keeps";
    }

    std::size_t MaxValues;
    std::vector<double> Values;
    std::vector<std::uint32_t> Widths;
    std::vector<std::int32_t> Lines;
    std::size_t WidestRow = 0;
};

// Names the columns from `from` on "Column N", N counted from 1.
void GenericNames(std::vector<CurveColumn>& columns, std::size_t from);

// Marks the columns that hold a value in some row.
void MarkValues(ParsedCurveFile& file);

} // namespace curve_text
} // namespace data
} // namespace dravo2
