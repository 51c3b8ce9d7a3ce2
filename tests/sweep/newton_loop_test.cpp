#include "data/errors.h"
#include "support/default_stack.h"
#include "support/sweep_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace dravo2 {
namespace {

using testing::SweepRig;

// One stack of the comparison with the converged descent: its fields as the window takes them,
// a short sweep across its switching fields (no step at exactly zero field, where the descent
// may stop on a saddle) and the display mode, which sets the starting angles and the projection.
struct LoopCase {
    const char* Name;
    std::function<void(ParameterTexts&)> Edit;
    const char* Start;
    const char* Steps;
    const char* Step;
    DisplayMode Mode = DisplayMode::MvHx;
};

std::ostream& operator<<(std::ostream& out, const LoopCase& c) {
    return out << c.Name;
}

class NewtonLoop : public ::testing::TestWithParam<LoopCase> {};

// The Start and Reverse branches of one solver.
std::unique_ptr<SweepRig> RunLoop(const LoopCase& c, SolverMethod method, const char* maxIter) {
    auto rig = std::make_unique<SweepRig>();
    c.Edit(rig->Texts);
    rig->Texts.StartF = c.Start;
    rig->Texts.Nstep = c.Steps;
    rig->Texts.StepF = c.Step;
    rig->Texts.MaxIter = maxIter;
    rig->Session.Solver.Method = method;
    rig->Start(c.Mode);
    rig->RunBranch();
    rig->Driver.Reverse();
    rig->RunBranch();
    return rig;
}

TEST_P(NewtonLoop, FollowsTheConvergedDescent) {
    const LoopCase& c = GetParam();
    const auto descent = RunLoop(c, SolverMethod::Descent, "2000000");
    const auto newton = RunLoop(c, SolverMethod::Newton, "6660");
    const SimulationData& d = *descent->Simulation;
    const SimulationData& n = *newton->Simulation;
    ASSERT_EQ(d.SimRows, 2 * std::stoi(c.Steps));
    ASSERT_EQ(n.SimRows, d.SimRows);
    EXPECT_EQ(newton->Session.Generator.RandomState, descent->Session.Generator.RandomState);

    const LayerModel& model = newton->Session.Model;
    const double saturation = model.MagnetisationProjection(AngleSet{}, false);
    // A switching: some layer turns by more than a right angle from one row to the next.
    auto switched = [&model](const SimulationData& table, std::int32_t row) {
        for (int layer = 0; layer < kLayers; ++layer) {
            const double turn = table.SimTable.At(3 + layer, row) - table.SimTable.At(3 + layer, row - 1);
            if (model.Stack.Present(layer) && std::fabs(std::remainder(turn, 2 * M_PI)) > M_PI / 2) {
                return true;
            }
        }
        return false;
    };
    std::vector<std::int32_t> descentSwitches;
    std::vector<std::int32_t> newtonSwitches;
    for (std::int32_t row = 1; row <= d.SimRows; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(n.SimTable.At(1, row), d.SimTable.At(1, row));
        EXPECT_NEAR(n.SimTable.At(2, row), d.SimTable.At(2, row), 1e-6 * saturation);
        for (int layer = 0; layer < kLayers; ++layer) {
            if (model.Stack.Present(layer)) {
                const double turn = n.SimTable.At(3 + layer, row) - d.SimTable.At(3 + layer, row);
                EXPECT_NEAR(std::remainder(turn, 2 * M_PI), 0, 1e-5) << "layer " << layer + 1;
            }
        }
        if (row > 1 && switched(d, row)) {
            descentSwitches.push_back(row);
        }
        if (row > 1 && switched(n, row)) {
            newtonSwitches.push_back(row);
        }
    }
    EXPECT_EQ(newtonSwitches, descentSwitches);
    EXPECT_GE(descentSwitches.size(), 2u) << "the sweep should cross a switching field both ways";
}

std::vector<LoopCase> LoopCases() {
    return {
        {"DefaultStack", [](ParameterTexts&) {}, "-63.75", "9", "7.5"},
        {"QuarticWithAxesAndFieldAngle",
         [](ParameterTexts& texts) {
             texts.UniaxialChecked = false;
             texts.QuarticChecked = true;
             texts.AxisDegrees = {10, 30, 45, 80};
             texts.FieldAngleDegrees = 20;
         },
         "-65", "9", "10"},
        {"BiquadraticCoupling",
         [](ParameterTexts& texts) {
             texts.J1 = "-0.02e-3";
             texts.Jbq1 = "-0.05e-3";
             texts.J2 = "0.01e-3";
             texts.Jbq2 = "-0.02e-3";
         },
         "-62.5", "10", "12.5"},
        {"SecondLayerAbsent", [](ParameterTexts& texts) { texts.t[1] = "0"; }, "-65", "9", "10"},
        {"TwoLayerAntiferromagnet",
         [](ParameterTexts& texts) {
             // unequal moments, so that the net moment flips at low field
             texts.t[2] = "0";
             texts.t[3] = "0";
             texts.M[1] = "1.0";
             texts.J1 = "-0.1e-3";
         },
         "-82.5", "10", "15"},
        {"UniaxialAxesAndFieldAngle",
         [](ParameterTexts& texts) {
             texts.AxisDegrees = {30, 60, 0, 90};
             texts.FieldAngleDegrees = 45;
             texts.J1 = "0.01e-3";
         },
         "-55", "8", "10"},
        // Fourfold anisotropy on tilted axes in a tilted field, switching at 0.75 kA/m where
        // several minima lie close together: layers 1 and 2 turn in one step, and a path out of
        // the vanished minimum other than the downhill one ends in another of them (the
        // projection on y then differed by 11 % of saturation on both branches).
        {"QuarticTiltedSwitchingNearZeroAlongY",
         [](ParameterTexts& texts) {
             texts.UniaxialChecked = false;
             texts.QuarticChecked = true;
             texts.M = {"0.841", "1.62", "1.29", "1.0"};
             texts.t = {"3.97e-9", "2.59e-9", "6.66e-9", "0"};
             texts.K = {"889.8", "369.9", "2904", "1000"};
             texts.AxisDegrees = {17, 47, 65, 0};
             texts.FieldAngleDegrees = 29;
             texts.J1 = "-0.00413e-3";
             texts.J2 = "0.00118e-3";
             texts.J3 = "0.00447e-3";
             texts.Jbq1 = "-0.000711e-3";
             texts.Jbq2 = "-0.000157e-3";
         },
         "-9.75", "12", "1.5", DisplayMode::MvHy},
        // The same kind with coupling of both signs: layers 1 and 2 switch together at
        // 0.69 kA/m, where a path off the downhill one ended 45 % of saturation away.
        {"QuarticTiltedCoupledBothWaysAlongY",
         [](ParameterTexts& texts) {
             texts.UniaxialChecked = false;
             texts.QuarticChecked = true;
             texts.M = {"1.378", "1.645", "0.562", "0.917"};
             texts.t = {"4.51e-9", "3.36e-9", "4.3e-9", "0"};
             texts.K = {"2108.2", "577.1", "2144.2", "1030.5"};
             texts.AxisDegrees = {84, 22, 6, 53};
             texts.FieldAngleDegrees = 27;
             texts.J1 = "0.003982e-3";
             texts.J2 = "-0.004337e-3";
             texts.J3 = "0.000317e-3";
             texts.Jbq1 = "-0.000847e-3";
             texts.Jbq2 = "-0.0009696e-3";
         },
         "-3.0625", "16", "0.25", DisplayMode::MvHy},
    };
}

std::string CaseName(const ::testing::TestParamInfo<LoopCase>& param) {
    return param.param.Name;
}

INSTANTIATE_TEST_SUITE_P(Stacks, NewtonLoop, ::testing::ValuesIn(LoopCases()), CaseName);

// A Newton step runs without its flag tests first and runs again with them when a flag is up: a
// failing step must still report its first error with only the cells before it written, and leave
// the angles and the generator where one kick and forty draws put them.
TEST(NewtonStep, AFailingStepIsReportedAsTheTestedStepReportsIt) {
    struct Case {
        const char* Name;
        Real M1;
        Real t1;
        Real K1;
        int Draws; // of the energy-scale stage before the error
        std::vector<Observable> Written;
    };
    // The squared energy overflows at once in the energy-scale stage; the resonance's radicand,
    // formed in extended precision, overflows only where it is stored as a double.
    const std::vector<Case> cases{
        {"energy scale", 1e300L, 2e-9L, 100, 0, {}},
        {"resonance",
         1.5L,
         1e-150L,
         1e300L,
         40,
         {Observable::Field, Observable::Projection, Observable::Theta1, Observable::Theta2, Observable::Theta3,
          Observable::Theta4, Observable::Magnetoresistance, Observable::Energy, Observable::Iterations}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SweepSession session;
        session.Model.Stack = testing::DefaultStack();
        session.Model.Stack.M[0] = c.M1;
        session.Model.Stack.t[0] = c.t1;
        session.Model.Stack.K[0] = c.K1;
        session.Model.FieldH = 1e5;
        session.Solver.Method = SolverMethod::Newton;
        session.Generator.RandomState = 12345;
        AngleSet kicked = session.Theta;
        RandomGenerator expected{12345};
        KickAngles(kicked, session.Solver, expected);
        for (int draw = 0; draw < c.Draws; ++draw) {
            expected.RandomBelow(6);
        }
        std::array<double, kObservableCount> values{};
        values.fill(-7.0);
        RowCells cells{};
        for (std::size_t k = 0; k < kObservableCount; ++k) {
            cells[k] = &values[k];
        }
        try {
            session.RelaxAndRecord(cells, 100, false);
            ADD_FAILURE() << "no error";
        } catch (const FloatingPointError& error) {
            EXPECT_STREQ(error.what(), kOverflowMessage);
        }
        EXPECT_EQ(session.Generator.RandomState, expected.RandomState);
        for (std::size_t k = 0; k < kObservableCount; ++k) {
            const auto observable = static_cast<Observable>(k);
            const bool written = std::find(c.Written.begin(), c.Written.end(), observable) != c.Written.end();
            EXPECT_EQ(values[k] != -7.0, written) << ObservableName(observable);
        }
        if (c.Written.empty()) {
            EXPECT_EQ(session.Theta, kicked);
        }
    }
}

} // namespace
} // namespace dravo2
