#include "data/errors.h"
#include "engine/physical_constants.h"
#include "support/sweep_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace dravo2 {
namespace {

using testing::SweepRig;

TEST(SweepStart, DefaultsInMvsHx) {
    SweepRig rig;
    const DisplayPreset preset = rig.Start();
    EXPECT_TRUE(preset.Applied);
    EXPECT_TRUE(preset.DrawExperiment);
    EXPECT_EQ(preset.SweepPointType, PointStyle::SolidLine);
    EXPECT_EQ(rig.Session.EndKiloAmperesPerMetre, 250);
    EXPECT_EQ(FinalFieldCaption(rig.Session.EndKiloAmperesPerMetre, 4, '.'), "fin. field: 250 kA/m");
    EXPECT_EQ(rig.Range.MinX, -250000);
    EXPECT_EQ(rig.Range.MaxX, 250000);
    EXPECT_NEAR(rig.Range.MaxY, 0.01 + 27.4 / 26, 1e-12);
    EXPECT_NEAR(rig.Range.MinY, -0.01 - 27.4 / 26, 1e-12);
    for (const Real angle : rig.Session.Theta) {
        EXPECT_EQ(angle, -kPi);
    }
    EXPECT_EQ(rig.Session.Solver.IterationBudget, 6660);
    EXPECT_EQ(rig.Session.Model.Stack.Anisotropy, AnisotropyForm::Uniaxial);
}

TEST(SweepStart, RangePresetsOfEveryDisplayMode) {
    struct Case {
        DisplayMode mode;
        const char* step;
        double minX, maxX, minY, maxY;
        std::int32_t x, y;
        Real angle; // NAN: the angles are left as the previous run left them
    };
    const double twoPi = 6.283185307179586;
    const double m = 27.4 / 26;
    const Case cases[] = {
        {DisplayMode::MvHx, "-1.0", -750000, -250000, -0.01 - m, 0.01 + m, 1, 2, 0},
        {DisplayMode::MvHy, "1.0", -250000, 250000, -0.01 - m, 0.01 + m, 1, 2, -kPi / 2},
        {DisplayMode::MvHy, "-1.0", -750000, -250000, -1.51, 1.51, 1, 2, NAN},
        {DisplayMode::ThetaTheta, "1.0", -twoPi, twoPi, -twoPi, twoPi, 2, 3, NAN},
        {DisplayMode::Fmr, "1.0", -250000, 250000, -1, 1e10, 1, 8, NAN},
        {DisplayMode::DeltaR, "1.0", -250000, 250000, 0, 100, 5, 6, NAN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        SweepRig rig;
        rig.Texts.StepF = c.step;
        rig.SimXCol = 5;
        rig.SimYCol = 6;
        rig.Session.Theta = {0.1L, 0.2L, 0.3L, 0.4L};
        rig.Start(c.mode);
        EXPECT_NEAR(rig.Range.MinX, c.minX, 1e-9);
        EXPECT_NEAR(rig.Range.MaxX, c.maxX, 1e-9);
        EXPECT_NEAR(rig.Range.MinY, c.minY, 1e-12);
        EXPECT_NEAR(rig.Range.MaxY, c.maxY, 1e-12);
        EXPECT_EQ(rig.SimXCol, c.x);
        EXPECT_EQ(rig.SimYCol, c.y);
        if (std::isnan(c.angle)) {
            EXPECT_EQ(rig.Session.Theta[3], 0.4L);
        } else {
            EXPECT_EQ(rig.Session.Theta[3], c.angle);
        }
    }
}

TEST(SweepStart, NoPresetWithoutAnEnabledDisplayMode) {
    SweepRig rig;
    rig.Range = {1, 2, 3, 4};
    rig.Session.Theta = {1, 1, 1, 1};
    const DisplayPreset preset = rig.Start(DisplayMode::MvHz);
    EXPECT_FALSE(preset.Applied);
    EXPECT_EQ(rig.Range.MinX, 1);
    EXPECT_EQ(rig.Range.MaxY, 0.01); // Start's own y range only
    EXPECT_EQ(rig.Session.Theta[0], 1);
}

TEST(SweepStart, EqualFieldsKeepTheAnglesAndSetMaxXToOne) {
    SweepRig rig;
    rig.Texts.Nstep = "0";
    rig.Range.MinX = -5;
    rig.Session.Theta = {1, 1, 1, 1};
    rig.Start();
    EXPECT_EQ(rig.Range.MinX, -5);
    EXPECT_EQ(rig.Range.MaxX, 1);
    EXPECT_EQ(rig.Range.MinY, -0.01);
    EXPECT_EQ(rig.Range.MaxY, 0.01);
    EXPECT_EQ(rig.Session.Theta[0], 1);
}

TEST(SweepStart, ABadFieldStopsTheIntakeWithEarlierTargetsSet) {
    SweepRig rig;
    rig.Texts.M[0] = "2.5";
    rig.Texts.K[0] = "12x";
    try {
        rig.Start();
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "'12x' is not a valid floating point value");
    }
    EXPECT_EQ(rig.Session.Model.Stack.M[0], 2.5L);
    EXPECT_EQ(rig.Session.Model.Stack.t[3], 20e-9L);
    EXPECT_EQ(rig.Session.Model.Stack.K[0], 0);
    EXPECT_EQ(rig.Range.MinY, -0.01);

    rig.Texts.K[0] = "100";
    rig.Texts.MaxIter = "66.5";
    EXPECT_THROW(rig.Start(), ConversionError);
    EXPECT_EQ(rig.Session.Solver.NoiseRadians, 0.0005);

    // DeltaR's amplitude is read by its preset after the whole intake, with MinY already 0.
    rig.Texts.MaxIter = "6660";
    rig.DeltaR = "1,0";
    EXPECT_THROW(rig.Start(DisplayMode::DeltaR), ConversionError);
    EXPECT_EQ(rig.Range.MinY, 0);
    EXPECT_EQ(rig.Session.EndKiloAmperesPerMetre, 250);
}

TEST(SweepStep, TheDefaultSweepRecordsFiveHundredRows) {
    SweepRig rig;
    rig.Start();
    ASSERT_EQ(rig.Tick(), TickResult::Continue);
    EXPECT_EQ(rig.Session.StepIndex, 1);
    EXPECT_EQ(rig.Simulation->SimRows, 1);
    EXPECT_EQ(rig.Simulation->SimTable.At(1, 1), -249000);
    EXPECT_NEAR(rig.Simulation->SimTable.At(2, 1), -27.4 / 26, 1e-9);
    const long long iterations = rig.RunBranch() + rig.Session.IterationCount;
    EXPECT_EQ(rig.Simulation->SimRows, 500);
    EXPECT_EQ(rig.Session.StepIndex, 500);
    EXPECT_EQ(rig.Simulation->SimTable.At(1, 500), 250000);
    EXPECT_NEAR(rig.Simulation->SimTable.At(2, 500), 27.4 / 26, 1e-9);
    // Saturated along +x: all layers parallel, no magnetoresistance.
    EXPECT_NEAR(rig.Simulation->SimTable.At(7, 500), 0, 1e-12);
    EXPECT_GT(rig.Simulation->SimTable.At(8, 500), 1e10);
    EXPECT_GT(iterations, 1500000);
    EXPECT_LT(iterations, 2300000);
}

// The descent's fast gradient and the gradient as written give the same table.
TEST(SweepStep, FastGradientKeepsTheAnglesWithinOneBillionth) {
    SweepRig fast;
    SweepRig literal;
    fast.Start();
    literal.Start();
    for (int step = 0; step < 500; ++step) {
        fast.Tick();
        // The literal path: the same step with the slow relaxation.
        SweepSession& s = literal.Session;
        ++s.StepIndex;
        s.Model.FieldH = static_cast<double>(
            (static_cast<Real>(s.StepIndex) * s.StepKiloAmperesPerMetre + s.StartKiloAmperesPerMetre) *
            kAmperesPerKiloAmpere);
        RelaxStepLiteral(s.Model, s.Theta, s.Solver, s.Generator, s.Grad);
        for (std::size_t k = 0; k < kLayers; ++k) {
            ASSERT_NEAR(static_cast<double>(fast.Session.Theta[k]), static_cast<double>(s.Theta[k]), 1e-9)
                << "step " << step << " layer " << k + 1;
        }
    }
}

TEST(SweepStep, ReproducibleFromTheGeneratorState) {
    SweepRig a;
    SweepRig b;
    a.Texts.Nstep = b.Texts.Nstep = "120";
    a.Start();
    b.Start();
    a.RunBranch();
    b.RunBranch();
    for (std::int32_t column = 1; column <= MaxCols; ++column) {
        for (std::int32_t row = 1; row <= 120; ++row) {
            ASSERT_EQ(a.Simulation->SimTable.At(column, row), b.Simulation->SimTable.At(column, row));
        }
    }
}

TEST(SweepStep, NonPositiveStepCountRecordsOneRow) {
    SweepRig rig;
    rig.Texts.Nstep = "0";
    rig.Start();
    rig.RunBranch();
    EXPECT_EQ(rig.Simulation->SimRows, 1);
    EXPECT_EQ(rig.Simulation->SimTable.At(1, 1), -249000);
}

TEST(SweepStep, LayerOneRequiredForTheResonance) {
    for (const char* which : {"t", "M"}) {
        SCOPED_TRACE(which);
        SweepRig rig;
        (std::string(which) == "t" ? rig.Texts.t[0] : rig.Texts.M[0]) = "0";
        rig.Simulation->SimTable.At(8, 1) = 42;
        rig.Start();
        try {
            rig.Tick();
            FAIL() << "no error";
        } catch (const FloatingPointError& error) {
            EXPECT_STREQ(error.what(), "Floating point division by zero");
        }
        EXPECT_EQ(rig.Simulation->SimRows, 1);
        EXPECT_EQ(rig.Session.StepIndex, 1);
        EXPECT_EQ(rig.Simulation->SimTable.At(1, 1), -249000);
        EXPECT_NE(rig.Simulation->SimTable.At(2, 1), 0);
        EXPECT_EQ(rig.Simulation->SimTable.At(8, 1), 42);
    }
}

// A bad amplitude halts the sweep before the step, so no row is left half written.
TEST(SweepStep, ABadMagnetoresistanceAmplitudeHaltsBeforeTheStep) {
    SweepRig rig;
    rig.Texts.Nstep = "20";
    rig.Start();
    rig.RunBranch();
    rig.Driver.Reverse();
    rig.DeltaR = "abc";
    const std::uint32_t generator = rig.Session.Generator.RandomState;
    EXPECT_THROW(rig.Tick(), ConversionError);
    EXPECT_FALSE(rig.Driver.Recorded);
    EXPECT_EQ(rig.Simulation->SimRows, 20);
    EXPECT_EQ(rig.Session.StepIndex, 0);
    EXPECT_EQ(rig.Session.Generator.RandomState, generator);
}

TEST(SweepStep, AbsentLayerKeepsItsColumnAndAntiparallelLayersGiveDeltaR) {
    SweepRig rig;
    // One step at zero field, from angles that equal initial and final fields leave as they are.
    rig.Texts.StartF = "0";
    rig.Texts.StepF = "0";
    rig.Texts.Nstep = "0";
    rig.Texts.J1 = "-5e-3"; // strong antiparallel coupling of layers 1 and 2
    rig.Texts.t[2] = "0";
    rig.Simulation->SimTable.At(5, 1) = 9;
    rig.Session.Theta = {0, kPi, 0, 0};
    rig.Start();
    rig.RunBranch();
    EXPECT_EQ(rig.Simulation->SimTable.At(5, 1), 9);
    EXPECT_NEAR(rig.Simulation->SimTable.At(7, 1), 100, 1e-3);

    rig.Texts.J1 = "5e-3";
    rig.Session.Theta = {0, 0, 0, 0};
    rig.Start();
    rig.RunBranch();
    EXPECT_NEAR(rig.Simulation->SimTable.At(7, 1), 0, 1e-3);
}

TEST(SweepStep, NegativeRadicandMarksNoResonance) {
    SweepRig rig;
    // Layer 1 left (no descent) pointing along +x against a field along -x.
    rig.Texts.StartF = "-100";
    rig.Texts.StepF = "0";
    rig.Texts.Nstep = "0";
    rig.Texts.K[0] = "0";
    rig.Texts.J1 = "0";
    rig.Texts.MaxIter = "-1";
    rig.Session.Theta = {0, 0, 0, 0};
    rig.Start();
    rig.RunBranch();
    EXPECT_EQ(rig.Session.IterationCount, 0);
    EXPECT_EQ(rig.Simulation->SimTable.At(8, 1), -1);
}

TEST(SweepReverse, AfterADefaultSweepRunsBackAndAppends) {
    SweepRig rig;
    rig.Start();
    rig.RunBranch();
    const SweepFieldTexts reversed = rig.Driver.Reverse();
    EXPECT_EQ(reversed.StartF, "250");
    EXPECT_EQ(reversed.StepF, "-1");
    EXPECT_EQ(rig.Session.StartKiloAmperesPerMetre, 250);
    EXPECT_EQ(rig.Session.StepKiloAmperesPerMetre, -1);
    EXPECT_EQ(rig.Session.EndKiloAmperesPerMetre, -250);
    EXPECT_EQ(FinalFieldCaption(rig.Session.EndKiloAmperesPerMetre, 5, '.'), "fin. field: -250 kA/m");
    EXPECT_EQ(rig.Session.StepIndex, 0);
    const AngleSet before = rig.Session.Theta;
    rig.Tick();
    EXPECT_EQ(rig.Simulation->SimRows, 501);
    EXPECT_EQ(rig.Simulation->SimTable.At(1, 501), 249000);
    EXPECT_NEAR(static_cast<double>(rig.Session.Theta[0]), static_cast<double>(before[0]), 0.01);
    rig.RunBranch();
    EXPECT_EQ(rig.Simulation->SimRows, 1000);
    EXPECT_EQ(rig.Simulation->SimTable.At(1, 1000), -250000);
    // Hysteresis: row r of the upward branch and row 1000 - r of the downward one share a
    // field, yet somewhere the two branches sit in different states.
    double widest = 0;
    for (std::int32_t r = 1; r < 500; ++r) {
        ASSERT_EQ(rig.Simulation->SimTable.At(1, r), rig.Simulation->SimTable.At(1, 1000 - r));
        widest =
            std::max(widest, std::fabs(rig.Simulation->SimTable.At(2, r) - rig.Simulation->SimTable.At(2, 1000 - r)));
    }
    EXPECT_GT(widest, 0.5);
}

TEST(SweepReverse, BeforeAnyStartHaltsOnTheEmptyStack) {
    SweepRig rig;
    rig.Driver.Reverse();
    try {
        rig.Tick();
        FAIL() << "no error";
    } catch (const FloatingPointError& error) {
        EXPECT_STREQ(error.what(), "Invalid floating point operation");
    }
    EXPECT_EQ(rig.Simulation->SimRows, 1);
}

// The reversed fields are rewritten with 15 digits, and the sweep goes on from what those texts
// say, as the window's fields do.
TEST(SweepReverse, ContinuesFromTheFifteenDigitTexts) {
    SweepRig rig;
    rig.Texts.StartF = "0.12345678901234567";
    rig.Texts.StepF = "-0.000123456789012345678";
    rig.Texts.Nstep = "3";
    rig.Start();
    rig.RunBranch();
    const SweepFieldTexts reversed = rig.Driver.Reverse();
    EXPECT_EQ(reversed.StartF, "-0.123456789012346");
    EXPECT_EQ(reversed.StepF, "0.000123456789012346");
    EXPECT_EQ(rig.Session.StartKiloAmperesPerMetre, -0.123456789012346);
    EXPECT_EQ(rig.Session.StepKiloAmperesPerMetre, 0.000123456789012346);
    EXPECT_EQ(rig.Session.EndKiloAmperesPerMetre, static_cast<double>(3 * 0.000123456789012346L + -0.123456789012346));
}

TEST(SweepFields, ChangeHandlingTakesTheFieldsInOrder) {
    SweepRig rig;
    rig.Texts.StartF = "-";
    EXPECT_THROW(TakeSweepFields(rig.Session, SweepFieldsOf(rig.Texts), '.'), ConversionError);
    rig.Texts.StartF = "-2";
    rig.Texts.Nstep = "10";
    rig.Texts.StepF = "1e";
    EXPECT_THROW(TakeSweepFields(rig.Session, SweepFieldsOf(rig.Texts), '.'), ConversionError);
    EXPECT_EQ(rig.Session.StartKiloAmperesPerMetre, -2);
    EXPECT_EQ(rig.Session.Steps, 10);
    EXPECT_EQ(rig.Session.StepKiloAmperesPerMetre, 1);
    rig.Texts.StepF = "0.5";
    TakeSweepFields(rig.Session, SweepFieldsOf(rig.Texts), '.');
    EXPECT_EQ(rig.Session.EndKiloAmperesPerMetre, 3);
}

TEST(SweepStep, TheTableNeverGrowsPastItsCapacity) {
    SweepRig rig;
    rig.Texts.Nstep = "5000";
    rig.Texts.MaxIter = "5";
    rig.Start();
    rig.RunBranch();
    EXPECT_EQ(rig.Simulation->SimRows, MaxRows);
    EXPECT_FALSE(rig.Session.SweepOver());
    EXPECT_EQ(rig.Tick(), TickResult::TableFull);
    EXPECT_FALSE(rig.Driver.Recorded);
    EXPECT_EQ(rig.Simulation->SimRows, MaxRows);
    EXPECT_EQ(rig.Session.StepIndex, MaxRows);
}

TEST(DisplayColumns, PairsOfEveryMode) {
    EXPECT_EQ(DisplayColumnsFor(DisplayMode::MvHx), (std::array<std::int32_t, 2>{1, 2}));
    EXPECT_EQ(DisplayColumnsFor(DisplayMode::MvHy), (std::array<std::int32_t, 2>{1, 2}));
    EXPECT_EQ(DisplayColumnsFor(DisplayMode::ThetaTheta), (std::array<std::int32_t, 2>{2, 3}));
    EXPECT_EQ(DisplayColumnsFor(DisplayMode::DeltaR), (std::array<std::int32_t, 2>{1, 7}));
    EXPECT_EQ(DisplayColumnsFor(DisplayMode::Fmr), (std::array<std::int32_t, 2>{1, 8}));
    EXPECT_FALSE(DisplayColumnsFor(DisplayMode::MvHz));
}

} // namespace
} // namespace dravo2
