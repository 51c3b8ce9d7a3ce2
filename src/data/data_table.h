#pragma once

#include <cstdint>
#include <vector>

namespace dravo2 {
inline namespace data {

inline constexpr std::int32_t MaxCols = 8;
inline constexpr std::int32_t MaxRows = 4096;

// A fixed grid of MaxCols x MaxRows doubles, counted from 1, each column one contiguous run so
// that a column can be handed on as a plain array with a row count. Allocated once, zero-filled.
class DataTable {
public:
    DataTable() : Cells(static_cast<std::size_t>(MaxCols) * MaxRows, 0.0) {}

    // Cell (column, row), 1 <= column <= MaxCols, 1 <= row <= MaxRows.
    double& At(std::int32_t column, std::int32_t row) { return Cells[Index(column, row)]; }
    double At(std::int32_t column, std::int32_t row) const { return Cells[Index(column, row)]; }

    // The run of a column starting at row 1.
    const double* Column(std::int32_t column) const { return &Cells[Index(column, 1)]; }

    void Fill(double value);

private:
    static std::size_t Index(std::int32_t column, std::int32_t row) {
        return static_cast<std::size_t>(column - 1) * MaxRows + static_cast<std::size_t>(row - 1);
    }

    std::vector<double> Cells;
};

// The measured curve: the file's columns in file order.
struct ExperimentData {
    DataTable ExpTable;
    std::int32_t ExpRows = 0; // 0 means no experiment is loaded
    std::int32_t ExpCols = 0;
    // Set by the import of measured curves, reset by ClearExpTable and by the result-file reader:
    std::int32_t SigmaColumn = 0; // the table column (from 1) of the moment's uncertainty; 0 none
    double MomentUnit = 0;        // the moment's unit in A m^2 (1e-3 for emu); 0 where not stated

    void ClearExpTable();
};

// The simulated sweep, one row per field step: field (A/m), projection (T), four angles (rad),
// magnetoresistance signal, resonance frequency (Hz, -1 where there is none).
struct SimulationData {
    DataTable SimTable;
    std::int32_t SimRows = 0;

    void ClearSimTable();
};

} // namespace data
} // namespace dravo2
