#pragma once

#include "analysis/misfit.h"
#include "cli/option_table.h"
#include "data/curve_import.h"
#include "data/data_table.h"
#include "engine/layer_model.h"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace dravo2 {
inline namespace cli {

// The headless command's options for a measured curve: --import FILE, --compare FILE and the
// choices both take.
struct MeasuredOptions {
    std::string ImportPath;
    std::string ComparePath;
    std::string Columns;    // "FIELD,MOMENT", each a number from 1 or a name
    std::string FieldUnit;  // A/m, kA/m, Oe, mT or T
    std::string Background; // slope, offset or both
    std::string Rows;       // thin or first, for more rows than the table holds
    std::string Sigma;      // the moment's uncertainty column, by number from 1 or by name
    std::string MomentUnit; // emu or Am2, where the file does not state it (or to override it)
    std::string Area;       // the sample's area with its unit: 0.2947cm2, 29.47mm2, 2.947e-5m2
    // A resonance table's (the fit's): the frequency unit (Hz, kHz, MHz or GHz) where the file does
    // not state it (or to override it), and the column naming each point's mode (1 the lowest).
    std::string FrequencyUnit;
    std::string ModeColumn;
};

// A measured resonance table: the field (A/m), the frequency and its uncertainty or linewidth
// (Hz; empty without one) and the mode of each point (1 the lowest; empty without a mode column).
struct ResonanceTable {
    std::vector<double> Field;
    std::vector<double> Frequency;
    std::vector<double> Sigma;
    std::vector<std::int32_t> Mode;
};

// The area of --area in m^2: a positive number followed by cm2, mm2 or m2 (also written cm^2).
// Throws ProgramError for anything else.
double AreaFromText(const std::string& text);

// The option `name` of a measured curve (--import, --compare, --columns, --field-unit, --background,
// --rows, --sigma, --moment-unit, --area, --frequency-unit or --mode-column) taking its value into
// `options`, not listed in --help. --frequency-unit is checked when taken, the others by
// CheckMeasuredOptions once the command line is read.
CommandOption MeasuredOption(std::string_view name, MeasuredOptions& options);

// The sweep command's options of a measured curve, --import to --area, with their help lines.
void AddMeasuredOptions(OptionTable& table, MeasuredOptions& options);

// Refuses a choice without --import or --compare and a value that is not one of the choices.
void CheckMeasuredOptions(const MeasuredOptions& options);

// The usage lines and the description of these options, with the list of those `table` holds
// from AddMeasuredOptions.
void PrintMeasuredUsage(std::ostream& out);
void PrintMeasuredHelp(std::ostream& out, const OptionTable& table);

// Reads `path` and fills `experiment` with the columns and unit of `options` (else those the file
// suggests), saying on `err` which columns, unit and rows were taken. Throws ProgramError.
void ImportMeasured(const std::string& path, const MeasuredOptions& options, ExperimentData& experiment,
                    std::ostream& err);

// Reads the (field, frequency) table in `path` as ImportMeasured reads a curve, the frequency
// column being the one --columns names second, else the first other column whose unit is a
// frequency, else the one the import suggests; its unit --frequency-unit, else the unit its
// header states, else Hz. --sigma is in the frequency's unit. Says on `err` what was taken.
// Throws ProgramError.
ResonanceTable ImportResonance(const std::string& path, const MeasuredOptions& options, std::ostream& err);

// --import: prints the table the import would load, as --read prints it. Returns the exit status.
int RunImportCommand(const MeasuredOptions& options, std::ostream& out, std::ostream& err);

// The background terms --background asks for.
MisfitOptions BackgroundOf(const MeasuredOptions& options);

// The comparison's terms for a stack whose saturated moment per area (sum(M t) / mu0, A) is
// `sheetMoment`: the background terms, and the scale fixed by --area in the measured moment's
// unit. Throws ProgramError for an area without a known moment unit.
MisfitOptions ComparisonTerms(const MeasuredOptions& options, const ExperimentData& measured, double sheetMoment);

// "misfit M scale S slope B offset C points N/TOTAL", then " chi2 X dof D reduced R" with
// uncertainties, and the terms the data cannot tell apart; or "misfit none (why) points N/TOTAL".
std::string MisfitLine(const MisfitResult& result, char separator);

// The saturation projection (T) of a stack's layers.
double StackSaturation(const LayerStack& stack);

// The comparison of a measured curve with the simulated table of a stack, with the background
// terms of `options`.
MisfitResult CompareMeasured(const ExperimentData& measured, const SimulationData& simulated, const LayerStack& stack,
                             const MeasuredOptions& options);

// The misfit line of a measured curve against the simulated table of a stack.
std::string CompareLine(const ExperimentData& measured, const SimulationData& simulated, const LayerStack& stack,
                        const MeasuredOptions& options, char separator);

} // namespace cli
} // namespace dravo2
