#include "data/csv_writer.h"

#include "data/field_branches.h"

#include <charconv>

namespace dravo2 {
namespace {

void AppendShortest(std::string& out, double value) {
    char buffer[32];
    // The shortest round-trip form is locale-independent and always uses a full stop.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

} // namespace

std::string CsvTableText(const SimulationData& simulation, const std::array<bool, 4>& layerPresent) {
    const std::int32_t rows = simulation.SimRows;
    const DataTable& table = simulation.SimTable;
    const std::vector<std::int32_t> branch = BranchNumbers(SplitFieldBranches(table.Column(1), rows), rows);

    std::string out = kCsvHeader;
    out += '\n';
    out.reserve(out.size() + static_cast<std::size_t>(rows > 0 ? rows : 0) * 200);
    for (std::int32_t row = 1; row <= rows; ++row) {
        out += std::to_string(branch[static_cast<std::size_t>(row - 1)]);
        for (std::int32_t column = 1; column <= MaxCols; ++column) {
            out += ',';
            const double value = table.At(column, row);
            const bool absentAngle = column >= 3 && column <= 6 && !layerPresent[static_cast<std::size_t>(column - 3)];
            const bool noResonance = column == 8 && value == -1.0;
            if (!absentAngle && !noResonance) {
                AppendShortest(out, value);
            }
        }
        out += '\n';
    }
    return out;
}

} // namespace dravo2
