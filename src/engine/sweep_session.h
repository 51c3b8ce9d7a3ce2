#pragma once

#include "data/data_table.h"
#include "data/world_bounds.h"
#include "engine/layer_model.h"
#include "engine/relaxation.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dravo2 {

// The six display-mode buttons; exactly one is checked.
enum class DisplayMode { MvHx, MvHy, MvHz, ThetaTheta, DeltaR, Fmr };

// The parameter fields as the user left them, with the positions of the angle scroll bars
// (whole degrees) and the anisotropy-form buttons.
struct ParameterTexts {
    std::array<std::string, kLayers> M{"1.5", "1.5", "0.7", "1.0"};
    std::array<std::string, kLayers> t{"2e-9", "2e-9", "2e-9", "20e-9"};
    std::array<std::string, kLayers> K{"100", "100", "60", "1000"};
    std::string J1 = "-0.002e-3";
    std::string J2_1 = "-0e-3";
    std::string J2 = "0e-3";
    std::string J2_2 = "-0e-3";
    std::string J3 = "0.2e-3";
    std::string Bias = "1e-3";
    std::string Ramp = "0.0005";
    std::string Conv = "0.0000000002";
    std::string MaxIter = "6660";
    std::array<int, kLayers> AxisDegrees{};
    int FieldAngleDegrees = 0;
    bool UniaxialChecked = true;
    bool QuarticChecked = false;
    std::string StartF = "-250.0";
    std::string Nstep = "500";
    std::string StepF = "1.0";
};

inline constexpr const char* kDefaultDeltaRText = "100.0";

// The three sweep fields, which Reverse rewrites.
enum class SweepField { Start, Nstep, Step };

// Where the sweep fields live (the window's edits, or plain texts); SetText of a changed text
// runs the fields' change handling, as typing does.
class SweepFieldAccess {
public:
    virtual ~SweepFieldAccess() = default;
    virtual std::string Text(SweepField field) const = 0;
    virtual void SetText(SweepField field, const std::string& text) = 0;
};

class SweepSession;

// The sweep fields kept as plain texts (those of a ParameterTexts): a changed text runs the
// session's change handling, as typing into the window's fields does.
class PlainSweepFields : public SweepFieldAccess {
public:
    PlainSweepFields(ParameterTexts& texts, SweepSession& session, char separator)
        : Texts(texts), Session(session), Separator(separator) {}
    std::string Text(SweepField field) const override { return Slot(field); }
    void SetText(SweepField field, const std::string& text) override;

private:
    std::string& Slot(SweepField field) const;

    ParameterTexts& Texts;
    SweepSession& Session;
    char Separator;
};

// What a display-mode preset asks of the plot after it set the range and the angles.
struct DisplayPreset {
    bool Applied = false;                       // false for "M vs Hz": no preset, the plot is not cleared
    bool DrawExperiment = false;                // draw the experimental curve after clearing the plot
    std::optional<std::uint8_t> SweepPointType; // point type of the sweep's own points
};

// The live-point and display columns of a mode, (x, y); none for "M vs Hz".
std::optional<std::array<std::int32_t, 2>> DisplayColumnsFor(DisplayMode mode);

// "fin. field: <EndF> kA/m" with the given significant digits.
std::string FinalFieldCaption(double endF, int digits, char separator);

inline constexpr const char* kTableFullMessage =
    "The simulation table is full (4096 rows): the sweep has ended. Save the table, then Start a new sweep.";

// Whether a step recorded its row.
enum class StepOutcome {
    Recorded,
    TableFull, // the table holds MaxRows rows already; nothing was recorded
};

// The state of the sweep engine for the whole run: the layer model, the angles, the solver
// settings, the generator and the sweep state. A fresh session is the program's start state.
class SweepSession {
public:
    LayerModel Model;
    AngleSet Theta{};
    SolverSettings Solver;
    RandomGenerator Generator;
    AngleSet Grad{};

    double StartF = 0; // kA/m
    double StepF = 0;  // kA/m
    double EndF = 0;   // kA/m
    std::int32_t Nstep = 0;
    std::int32_t StepIndex = 0;
    std::int32_t IterationCount = 0;
    double MagProj = 0;
    Real CurrentEnergy = 0;

    // Start, first part: the row count, step counter and y range reset.
    void BeginStart(SimulationData& simulation, WorldBounds& range);

    // Start, intake: every field converted in order into the stack, solver and sweep settings,
    // then EndF. A field that does not convert throws with every earlier target already set.
    void TakeParameters(const ParameterTexts& texts, char separator);

    // Start, the display-mode preset: columns, range and starting angles. "DeltaR" reads
    // `deltaRText` for its y range.
    DisplayPreset PresetDisplayMode(DisplayMode mode, WorldBounds& range, std::int32_t& simXCol, std::int32_t& simYCol,
                                    std::string_view deltaRText, char separator);

    // The sweep fields' change handling: StartF, Nstep and StepF in order, then EndF.
    void TakeSweepFields(const SweepFieldAccess& fields, char separator);

    // Reverse: negates the initial field and the step, writes them back with 15 significant
    // digits (which runs the change handling), recomputes EndF and resets the step counter.
    void Reverse(SweepFieldAccess& fields, char separator);

    // The computing side of one tick: field, row, relaxation, projection, energy and the eight
    // columns of the new row. `deltaRText` is the magnetoresistance amplitude's field; `alongY`
    // says whether "M vs Hy" is checked. Floating-point and conversion errors propagate with
    // the columns written so far kept.
    StepOutcome Step(SimulationData& simulation, std::string_view deltaRText, char separator, bool alongY);

    bool SweepOver() const { return StepIndex >= Nstep; }

    // The engine defaults of the window's creation, in order: noise, field and results at 0,
    // no anisotropy, field angle 0, the sweep fields, then the creation threshold and budget.
    // A sweep field that does not convert throws and leaves the later ones unset.
    void CreationDefaults(const SweepFieldAccess& fields, char separator);

private:
    void ComputeEndF();
};

} // namespace dravo2
