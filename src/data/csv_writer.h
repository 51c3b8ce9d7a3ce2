#pragma once

#include "data/data_table.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dravo2 {
inline namespace data {

inline constexpr const char* kCsvHeader =
    "branch,H (A/m),M (T),theta1 (rad),theta2 (rad),theta3 (rad),theta4 (rad),dR,f (Hz)";

// Columns appended after the table's eight: their titles for the header row and their values,
// Values[row - 1][column]; a value that is NaN, or missing, is an empty cell.
struct CsvExtraColumns {
    std::vector<std::string> Titles;
    std::vector<std::vector<double>> Values;
};

// Rows 1..SimRows of the simulation table as comma-separated text for other analysis tools: the
// header row of names and units, then per row its branch number (`branchOfRow[row - 1]`) and the
// eight columns, each in the shortest text that reads back to the same double, with a full stop.
// The angle of a layer that is not present (`layerPresent` false) and the resonance marker -1 are
// empty cells. `extra` columns follow. Lines end in LF.
std::string CsvTableText(const SimulationData& simulation, const std::array<bool, 4>& layerPresent,
                         const std::vector<std::int32_t>& branchOfRow, const CsvExtraColumns& extra = {});

// Rows of branch "measured" for the CSV table: the field (A/m) and the measured moment brought
// into the projection's units (T), the other columns (and `extraColumns` more) empty; points whose
// moment is not finite are left out. Lines end in LF.
std::string CsvMeasuredRows(std::span<const double> field, std::span<const double> moment,
                            std::size_t extraColumns = 0);

} // namespace data
} // namespace dravo2
