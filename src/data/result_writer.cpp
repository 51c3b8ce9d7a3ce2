#include "data/result_writer.h"

#include "data/number_text.h"

namespace dravo2 {

std::string ResultFileText(const SimulationData& simulation) {
    std::string text;
    if (simulation.SimRows <= 0) {
        return text;
    }
    text.reserve(static_cast<std::size_t>(simulation.SimRows) * 218);
    for (std::int32_t row = 1; row <= simulation.SimRows; ++row) {
        for (std::int32_t column = 1; column <= MaxCols; ++column) {
            text += ResultValueText(simulation.SimTable.At(column, row));
            text += "    ";
        }
        text += "\r\n";
    }
    return text;
}

} // namespace dravo2
