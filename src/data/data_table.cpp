#include "data/data_table.h"

#include <algorithm>

namespace dravo2 {
inline namespace data {

void DataTable::Fill(double value) {
    std::fill(Cells.begin(), Cells.end(), value);
}

void ExperimentData::ClearExpTable() {
    ExpTable.Fill(0.0);
    ExpRows = 0;
    ExpCols = 0;
    SigmaColumn = 0;
    MomentUnit = 0;
}

void SimulationData::ClearSimTable() {
    SimTable.Fill(0.0);
    SimRows = 0;
}

} // namespace data
} // namespace dravo2
