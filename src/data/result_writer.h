#pragma once

#include "data/data_table.h"

#include <string>

namespace dravo2 {

// Rows 1..SimRows of the simulation table as a result file: per row the eight values in the
// 23-character form, each followed by four spaces, then CR LF (218 bytes a line).
std::string ResultFileText(const SimulationData& simulation);

} // namespace dravo2
