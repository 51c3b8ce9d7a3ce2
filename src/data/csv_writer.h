#pragma once

#include "data/data_table.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dravo2 {

inline constexpr const char* kCsvHeader =
    "branch,H (A/m),M (T),theta1 (rad),theta2 (rad),theta3 (rad),theta4 (rad),dR,f (Hz)";

// Rows 1..SimRows of the simulation table as comma-separated text for other analysis tools: the
// header row of names and units, then per row its branch number (`branchOfRow[row - 1]`) and the
// eight columns, each in the shortest text that reads back to the same double, with a full stop.
// The angle of a layer that is not present (`layerPresent` false) and the resonance marker -1 are
// empty cells. Lines end in LF.
std::string CsvTableText(const SimulationData& simulation, const std::array<bool, 4>& layerPresent,
                         const std::vector<std::int32_t>& branchOfRow);

// Rows of branch "measured" for the CSV table: the field (A/m) and the measured moment brought
// into the projection's units (T), the other columns empty; points whose moment is not finite are
// left out. Lines end in LF.
std::string CsvMeasuredRows(std::span<const double> field, std::span<const double> moment);

} // namespace dravo2
