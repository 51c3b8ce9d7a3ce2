#include "data/result_writer.h"

#include "data/number_text.h"

namespace dravo2 {
inline namespace data {

std::string TableText(const DataTable& table, std::int32_t rows, std::int32_t columns) {
    std::string text;
    if (rows <= 0) {
        return text;
    }
    text.reserve(static_cast<std::size_t>(rows) * (static_cast<std::size_t>(columns) * 27 + 2));
    for (std::int32_t row = 1; row <= rows; ++row) {
        for (std::int32_t column = 1; column <= columns; ++column) {
            text += ResultValueText(table.At(column, row));
            text += "    ";
        }
        text += "\r\n";
    }
    return text;
}

std::string ResultFileText(const SimulationData& simulation) {
    return TableText(simulation.SimTable, simulation.SimRows, MaxCols);
}

} // namespace data
} // namespace dravo2
