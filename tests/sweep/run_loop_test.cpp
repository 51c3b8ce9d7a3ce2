#include "engine/parameter_registry.h"
#include "support/sweep_fixture.h"
#include "sweep/run_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>

namespace dravo2 {
namespace {

using testing::SweepRig;

// The loop runner gives, bit for bit, the rows of the window's Start and one Reverse.
class RunLoopAgainstWindow : public ::testing::TestWithParam<std::tuple<SolverMethod, DisplayMode>> {};

TEST_P(RunLoopAgainstWindow, StartAndReverse) {
    const auto [method, mode] = GetParam();
    SweepRig rig;
    rig.Texts.Nstep = "40";
    rig.Texts.StartF = "-40";
    rig.Texts.StepF = "2";
    rig.Texts.J1 = "-3e-4";
    rig.Session.Solver.Method = method;
    rig.Start(mode);
    rig.RunBranch();
    const std::int32_t startRows = rig.Simulation->SimRows;
    rig.Driver.Reverse();
    rig.RunBranch();

    ParameterSet set = ParametersOf(rig.Texts, '.', DefaultParameters());
    set.Model.Solver.Method = method;
    LoopPlan plan;
    plan.ProjectionAlongY = mode == DisplayMode::MvHy;
    plan.Branches = {set.Sweep, ReversedBranch(set.Sweep)};
    const bool saturated = mode == DisplayMode::MvHx || mode == DisplayMode::MvHy;
    const LoopResult loop = RunLoop(set.Model, plan, saturated ? InitialState::Saturated() : InitialState{});

    ASSERT_EQ(loop.End, LoopEnd::Completed);
    ASSERT_EQ(loop.Rows(), rig.Simulation->SimRows);
    EXPECT_EQ(loop.BranchRows, (std::vector<std::int32_t>{startRows, rig.Simulation->SimRows - startRows}));
    for (std::size_t k = 0; k < 8; ++k) {
        const auto observable = static_cast<Observable>(k);
        SCOPED_TRACE(std::string(ObservableName(observable)));
        for (std::int32_t row = 1; row <= loop.Rows(); ++row) {
            ASSERT_EQ(loop[observable][static_cast<std::size_t>(row - 1)],
                      rig.Simulation->SimTable.At(TableColumn(observable), row))
                << "row " << row;
        }
    }
    EXPECT_EQ(loop.FinalAngles, rig.Session.Theta);
    EXPECT_EQ(loop.FinalRandomState, rig.Session.Generator.RandomState);
    EXPECT_EQ(loop[Observable::Iterations].back(), rig.Session.IterationCount);
    EXPECT_EQ(loop[Observable::Energy].back(), static_cast<double>(rig.Session.CurrentEnergy));
}

INSTANTIATE_TEST_SUITE_P(Solvers, RunLoopAgainstWindow,
                         ::testing::Combine(::testing::Values(SolverMethod::Descent, SolverMethod::Newton),
                                            ::testing::Values(DisplayMode::MvHx, DisplayMode::MvHy,
                                                              DisplayMode::ThetaTheta)));

TEST(RunLoop, EndsOnTheStopFlagAndTheRowLimit) {
    ParameterSet set = DefaultParameters();
    set.Model.Solver.Method = SolverMethod::Newton;
    LoopPlan plan;
    plan.Branches = {set.Sweep, ReversedBranch(set.Sweep)};
    const std::atomic<bool> stop{true};
    const LoopResult stopped = RunLoop(set.Model, plan, InitialState::Saturated(), &stop);
    EXPECT_EQ(stopped.End, LoopEnd::Stopped);
    EXPECT_EQ(stopped.Rows(), 0);

    plan.MaxRows = 7;
    const LoopResult full = RunLoop(set.Model, plan, InitialState::Saturated());
    EXPECT_EQ(full.End, LoopEnd::TableFull);
    EXPECT_EQ(full.Rows(), 7);
}

// The same fields given row by row take the same steps as the branches that form them: the same
// rows bit for bit, the same branches, the same saturated start (up the field and down it).
TEST(RunLoop, FieldsRowByRowAsTheBranchesThatFormThem) {
    for (const bool alongY : {false, true}) {
        for (const double start : {-30.0, 30.0}) {
            SCOPED_TRACE(::testing::Message() << "along y " << alongY << ", start " << start);
            ParameterSet set = DefaultParameters();
            set.Model.Solver.Method = SolverMethod::Newton;
            LoopPlan plan;
            plan.ProjectionAlongY = alongY;
            plan.Branches = {{start, start < 0 ? 3.0 : -3.0, 20}};
            plan.Branches.push_back(ReversedBranch(plan.Branches[0]));
            const LoopResult branches = RunLoop(set.Model, plan, InitialState::Saturated());
            plan.Fields.assign(branches[Observable::Field].begin(), branches[Observable::Field].end());
            const LoopResult fields = RunLoop(set.Model, plan, InitialState::Saturated());
            ASSERT_EQ(fields.End, LoopEnd::Completed);
            EXPECT_EQ(fields.Block, branches.Block);
            EXPECT_EQ(fields.Branch, branches.Branch);
            EXPECT_EQ(fields.BranchRows, (std::vector<std::int32_t>{20, 20}));
        }
    }
}

// A new branch begins after each turn of the field; a plateau stays in its branch. A stop question
// ends the loop before the step it says no to.
TEST(RunLoop, BranchesOfAFieldSequenceAndAStopQuestion) {
    ParameterSet set = DefaultParameters();
    LoopPlan plan;
    plan.Fields = {0, 1e3, 1e3, 2e3, 1e3, 0, 0, 1e3};
    const LoopResult loop = RunLoop(set.Model, plan, InitialState::Saturated());
    EXPECT_EQ(loop.Branch, (std::vector<std::int32_t>{1, 1, 1, 1, 2, 2, 2, 3}));
    EXPECT_EQ(loop.BranchRows, (std::vector<std::int32_t>{4, 3, 1}));

    int asked = 0;
    const LoopResult stopped =
        RunLoop(set.Model, plan, InitialState::Saturated(), LoopStop([&asked] { return ++asked > 5; }));
    EXPECT_EQ(stopped.End, LoopEnd::Stopped);
    ASSERT_EQ(stopped.Rows(), 5);
    EXPECT_TRUE(std::equal(stopped[Observable::Theta2].begin(), stopped[Observable::Theta2].end(),
                           loop[Observable::Theta2].begin()));
}

TEST(RunLoop, KeepsTheRowsBeforeAFloatingPointError) {
    ParameterSet set = DefaultParameters();
    set.Model.Solver.IterationBudget = 0; // the descent's step factor divides by zero on the first step
    LoopPlan plan;
    plan.Branches = {set.Sweep};
    const LoopResult loop = RunLoop(set.Model, plan, InitialState::Saturated());
    EXPECT_EQ(loop.End, LoopEnd::FloatingPointError);
    EXPECT_EQ(loop.Error, "Floating point division by zero");
    EXPECT_EQ(loop.Rows(), 1);
    EXPECT_EQ(loop[Observable::Field][0], 0.0);
}

// Flags left raised by the caller's work (drawing, a dialog, a search library) are not the
// engine's errors: every door forgets them.
TEST(EngineDoors, FlagsRaisedBeforeAreNotTakenForTheEnginesErrors) {
    ParameterSet set = DefaultParameters();
    set.Model.Solver.Method = SolverMethod::Newton;
    LoopPlan plan;
    plan.Branches = {{-20, 2, 20}};
    const LoopResult clean = RunLoop(set.Model, plan, InitialState::Saturated());
    ASSERT_EQ(clean.End, LoopEnd::Completed);
    for (const int flag : {FE_INVALID, FE_DIVBYZERO, FE_OVERFLOW}) {
        SCOPED_TRACE(flag);
        std::feraiseexcept(flag);
        const LoopResult loop = RunLoop(set.Model, plan, InitialState::Saturated());
        EXPECT_EQ(loop.End, LoopEnd::Completed) << loop.Error;
        EXPECT_EQ(loop.Block, clean.Block);

        SweepSession session;
        session.SetParameters(set.Model);
        std::feraiseexcept(flag);
        EXPECT_NO_THROW(session.SetSweep({-20, 20, 2}));
        SimulationData table;
        std::feraiseexcept(flag);
        EXPECT_NO_THROW(session.Step(table, 100, false));
        std::feraiseexcept(flag);
        EXPECT_NO_THROW(session.Reverse());
        ClearFloatingPointFlags();
    }
}

} // namespace
} // namespace dravo2
