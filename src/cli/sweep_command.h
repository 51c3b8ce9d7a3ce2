#pragma once

#include "cli/cli_common.h"
#include "data/data_table.h"
#include "engine/parameter_registry.h"
#include "sweep/display_preset.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace dravo2 {
inline namespace cli {

// Runs the headless sweep command on `args` (without the program name): Start with the given
// parameters, then one reversed branch per --reverse, and writes the result file; or, with
// --read, loads a measured file as the window would and prints its rows. `progress` says whether
// to draw a progress bar on `err`; `separator` is the decimal separator of the numbers (the
// command itself always uses the full stop). A sweep stops early when InterruptRequested().
// Returns the exit status (see cli_common.h).
int RunSweepCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress,
                    char separator = '.');

// Whether `name` is a KEY of the sweep command's KEY=VALUE arguments.
bool IsSweepKey(const std::string& name);

// What the KEY=VALUE words of a loop set: the parameters, each key's last value as typed (for
// the messages that quote it), the magnetoresistance amplitude's text (the "DeltaR" display
// reads its range from it) and the display mode's name.
struct SweepKeys {
    ParameterSet Parameters = DefaultParameters();
    std::string DeltaRText = kDefaultDeltaRText;
    std::map<std::string, std::string, std::less<>> Typed;
    std::string Mode = "MvHx";
};

// Sets KEY `name` to `value` as a KEY=VALUE word does; false for a name that is no key. Throws
// ProgramError (ConversionError for a number) for a value the key refuses.
bool SetSweepKey(const std::string& name, const std::string& value, SweepKeys& keys);

// The display mode a mode key names ("modes" runs the loop of "MvHx"); throws ProgramError for
// another name.
DisplayMode ModeNamed(const std::string& name);

// Start's checks of a loop, so that a loop the window would refuse to start is refused without
// one: no negative magnetisation or thickness, and a display range the plot can map.
void CheckLoopStart(const SweepKeys& keys);

// One hysteresis loop as `dravo2-sweep KEY=VALUE... --reverse` runs it: Start, then one Reverse.
struct SweepLoop {
    std::unique_ptr<SimulationData> Table;
    std::int32_t StartRows = 0;      // rows 1 .. StartRows are the Start branch, the rest the reversed one
    std::int64_t Iterations = 0;     // the relaxation steps of every field step, summed
    double SaturationProjection = 0; // the projection with every layer along the field (T)
    double SheetMoment = 0;          // sum(M t) / mu0 over the present layers: moment per area (A)
    std::string StepError;           // a floating-point error during a step (the rows so far are kept)
    bool TableFilled = false;
    bool Stopped = false; // `stop` was set: the loop ended early
};

// Runs the loop of `keyArgs` (KEY=VALUE texts only), ending after the step under way once `stop`
// is set. Throws ProgramError for a bad key or value.
SweepLoop RunSweepLoop(const std::vector<std::string>& keyArgs, char separator = '.',
                       const std::atomic<bool>* stop = nullptr);

} // namespace cli
} // namespace dravo2
