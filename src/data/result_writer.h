#pragma once

#include "data/data_table.h"

#include <string>

namespace dravo2 {
inline namespace data {

// Rows 1..rows of columns 1..columns of a table: per row each value in the 23-character form
// followed by four spaces, then CR LF.
std::string TableText(const DataTable& table, std::int32_t rows, std::int32_t columns);

// Rows 1..SimRows of the simulation table as a result file: all eight columns, 218 bytes a line.
std::string ResultFileText(const SimulationData& simulation);

} // namespace data
} // namespace dravo2
