#pragma once

#include "data/data_table.h"
#include "engine/sweep_session.h"
#include "plot/plot.h"
#include "sweep/display_preset.h"
#include "sweep/parameter_intake.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace dravo2 {
inline namespace sweep {

inline constexpr const char* kTableFullMessage =
    "The simulation table is full (4096 rows): the sweep has ended. Save the table, then Start a new sweep.";

// "fin. field: <EndF> kA/m" with the given significant digits.
std::string FinalFieldCaption(double endF, int digits, char separator);

// What a tick did to the sweep.
enum class TickResult {
    Continue, // a row was recorded and the branch goes on
    Ended,    // the branch's last step was recorded
    TableFull // the table is full: the sweep ends (the step may or may not have been recorded)
};

// What Start is given: the parameter fields, the magnetoresistance amplitude's text (read by
// the "DeltaR" preset) and the point-type choice's item for the fresh plot.
struct SweepParameters {
    ParameterTexts Texts;
    std::string DeltaR = kDefaultDeltaRText;
    int PointStyleItem = kCrossPointItem;
};

// The one sequence of a sweep as the window runs it (creation, Start, a tick per step, Reverse,
// Stop) on a session, the simulation table and the plot. The window's handlers, the commands and
// the tests all drive a sweep through it. A driver shares nothing with another: drivers may run
// on different threads at once.
class SweepDriver {
public:
    explicit SweepDriver(char separator = '.');

    SweepSession Session;
    std::unique_ptr<SimulationData> Simulation = std::make_unique<SimulationData>();
    std::unique_ptr<Plot> PlotState = std::make_unique<Plot>();
    char Separator;

    // The window's creation: plot defaults, an empty table, the engine defaults, the sweep
    // fields (a field that does not convert throws and leaves the later settings unset), then
    // the creation threshold and budget.
    void Create(const SweepFieldTexts& fields);

    // Start up to arming the timer: rows and step counter reset, y range reset, the intake
    // (`afterIntake` runs once it succeeded: the window shows the final field there), the
    // display-mode preset, and the fresh plot with the experimental curve where the mode asks.
    DisplayPreset Start(const SweepParameters& parameters, DisplayMode mode, const ExperimentData* experiment = nullptr,
                        const std::function<void()>& afterIntake = {});

    // One sweep step: the amplitude text converted (a bad text halts the sweep before the step),
    // the step, the mode's display columns and the live point. `Recorded` tells whether this
    // tick recorded a row.
    TickResult Tick(std::string_view deltaRText, DisplayMode mode);
    bool Recorded = false;

    // Reverse: the initial field and the step negated and taken back through their 15-digit
    // texts, as the rewritten fields give them; returns those texts (StartF and StepF; Nstep
    // is the present text's business and left empty).
    SweepFieldTexts Reverse();

    // Stop: the sweep is no longer running; the table and the state stay.
    void Stop() { Running = false; }

    bool IsRunning() const { return Running; }

private:
    bool Running = false;
    // The amplitude last converted, with its text and separator: a tick converts only a changed text.
    std::string DeltaRText;
    char DeltaRSeparator = 0;
    Real DeltaR = 0;
};

} // namespace sweep
} // namespace dravo2
