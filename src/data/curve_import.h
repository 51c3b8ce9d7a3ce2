#pragma once

#include "data/data_table.h"
#include "data/input_limits.h"
#include "data/measured_units.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dravo2 {
inline namespace data {

// How the columns of a file were recognised.
enum class CurveFileKind {
    Delimited,    // text columns separated by commas, semicolons, TABs or runs of spaces
    Magnetometer, // an instrument export with a [Header] and a [Data] section
    ResultFile,   // this program's result file: eight columns of 23 characters
};

struct CurveColumn {
    std::string Name; // from the names row, else "Column N"
    std::string Unit; // from the units row, else the last bracketed group of the name; may be empty
    bool HasValues = false;
};

// A file's rows of numbers as read, before any column is chosen. An empty field, and a text
// field of an instrument export, is NaN.
struct ParsedCurveFile {
    CurveFileKind Kind = CurveFileKind::Delimited;
    char Separator = ','; // ',' ';' '\t', or ' ' for runs of spaces
    bool DecimalComma = false;
    std::vector<CurveColumn> Columns;
    std::vector<double> Values;         // row after row, each row as long as Columns
    std::vector<std::int32_t> RowLines; // the file line (from 1) of each row

    std::size_t RowCount() const { return RowLines.size(); }
    std::span<const double> Row(std::size_t row) const {
        return std::span<const double>(Values).subspan(row * Columns.size(), Columns.size());
    }
};

// Reads `bytes`, recognising the kind from the content. Throws InputOutputError
// "Line N: <problem>" (or a message for the whole file: empty, no rows of numbers). A file beyond
// kMaxMeasuredFileBytes, a line beyond kMaxMeasuredLineBytes and a table beyond
// kMaxMeasuredValues are refused, so that the memory used stays within a few times the file's size.
ParsedCurveFile ParseCurveFile(std::string_view bytes, const MeasuredLimits& limits = {});

// The bytes of a measured file for ParseCurveFile: at most kMaxMeasuredFileBytes are read, and a
// file holding more (also one that grows while it is read) is refused with InputOutputError.
std::string ReadCurveFileBytes(const std::string& path);

// "Magnetometer export", "Delimited text (semicolons, decimal commas)", ...
std::string DescribeCurveFile(const ParsedCurveFile& file);

// The columns and unit the import starts with: field and moment picked by name among the columns
// that hold values (else the first two such columns), and the field unit the header states.
struct ImportSuggestion {
    std::int32_t FieldColumn = -1; // from 0; -1 where the file has no such column
    std::int32_t MomentColumn = -1;
    std::optional<FieldUnit> StatedUnit; // none: the file does not state it
    // A column named as an uncertainty of the moment ("Std. Err.", "Error", "sigma", "dM", ...),
    // offered as such by the window's import; -1 where none is named so.
    std::int32_t SigmaColumn = -1;
};

ImportSuggestion SuggestImport(const ParsedCurveFile& file);

// A column given by number (from 1) or by name (case ignored, with or without its unit).
// Throws ProgramError naming the text when no column matches.
std::int32_t FindColumn(const ParsedCurveFile& file, std::string_view text);

// What to do with more than MaxRows usable rows.
enum class LongCurve { Thin, FirstRows };

struct ImportChoice {
    std::int32_t FieldColumn = 0;
    std::int32_t MomentColumn = 1;
    FieldUnit Unit = FieldUnit::AmperePerMetre;
    LongCurve Long = LongCurve::Thin;
    std::int32_t SigmaColumn = -1; // the moment's uncertainty; -1 for none
    double MomentUnit = 0;         // the moment's unit in A m^2; 0: the unit its header states
    std::int32_t ModeColumn = -1;  // which resonance mode a row measures (1 the lowest); -1 for none
};

// The rows that hold both chosen columns.
std::int32_t UsableRowCount(const ParsedCurveFile& file, std::int32_t fieldColumn, std::int32_t momentColumn);

struct ImportSummary {
    std::int32_t UsableRows = 0; // rows with both chosen columns filled
    std::int32_t SkippedRows = 0;
    std::int32_t Stride = 1; // every Stride-th usable row was kept
    std::int32_t KeptRows = 0;
    std::vector<std::int32_t> ExtraColumns; // file columns (from 0) that became table columns 3...
    std::vector<std::int32_t> Modes;        // with a mode column, the mode of every kept row
};

// Fills `experiment` as a load would: column 1 the field in A/m, column 2 the moment as in the
// file, then up to six further columns in file order that hold a value in every kept row. With
// an uncertainty column, only rows that also hold it are usable, it becomes column 3 (the
// experiment's SigmaColumn) and a value that is not positive is refused with its line. With a mode
// column, only rows that also hold it are usable, and a value that is not a whole number from 1 to
// 4 is refused with its line. The
// experiment's MomentUnit is the choice's, else the unit the moment column states, else 0.
// Thinning keeps usable rows 1, 1 + k, 1 + 2k, ... with k the smallest step that fits MaxRows.
// Throws ProgramError (and leaves `experiment` untouched) when no row holds both columns.
ImportSummary FillExperiment(const ParsedCurveFile& file, const ImportChoice& choice, ExperimentData& experiment);

} // namespace data
} // namespace dravo2
