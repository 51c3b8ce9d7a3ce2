#include "data/csv_writer.h"

#include "data/number_text.h"

#include <cmath>

namespace dravo2 {
inline namespace data {

std::string CsvTableText(const SimulationData& simulation, const std::array<bool, 4>& layerPresent,
                         const std::vector<std::int32_t>& branchOfRow, const CsvExtraColumns& extra) {
    const std::int32_t rows = simulation.SimRows;
    const DataTable& table = simulation.SimTable;

    std::string out = kCsvHeader;
    for (const std::string& title : extra.Titles) {
        out += ',';
        out += title;
    }
    out += '\n';
    out.reserve(out.size() + static_cast<std::size_t>(rows > 0 ? rows : 0) * 200);
    for (std::int32_t row = 1; row <= rows; ++row) {
        const auto index = static_cast<std::size_t>(row - 1);
        out += std::to_string(index < branchOfRow.size() ? branchOfRow[index] : 0);
        for (std::int32_t column = 1; column <= MaxCols; ++column) {
            out += ',';
            const double value = table.At(column, row);
            const bool absentAngle = column >= 3 && column <= 6 && !layerPresent[static_cast<std::size_t>(column - 3)];
            const bool noResonance = column == 8 && value == -1.0;
            if (!absentAngle && !noResonance) {
                AppendRoundTripText(out, value);
            }
        }
        for (std::size_t column = 0; column < extra.Titles.size(); ++column) {
            out += ',';
            if (index < extra.Values.size() && column < extra.Values[index].size() &&
                !std::isnan(extra.Values[index][column])) {
                AppendRoundTripText(out, extra.Values[index][column]);
            }
        }
        out += '\n';
    }
    return out;
}

std::string CsvMeasuredRows(std::span<const double> field, std::span<const double> moment, std::size_t extraColumns) {
    std::string out;
    for (std::size_t j = 0; j < field.size() && j < moment.size(); ++j) {
        if (!std::isfinite(field[j]) || !std::isfinite(moment[j])) {
            continue;
        }
        out += "measured,";
        AppendRoundTripText(out, field[j]);
        out += ',';
        AppendRoundTripText(out, moment[j]);
        out += ",,,,,,";
        out.append(extraColumns, ',');
        out += '\n';
    }
    return out;
}

} // namespace data
} // namespace dravo2
