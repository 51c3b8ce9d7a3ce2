#include "engine/random_model.h"
#include "engine/step_observables.h"
#include "engine/sweep_session.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace dravo2 {
namespace {

constexpr std::array kPrecisions{CosinePrecision::Double, CosinePrecision::Extended};

TEST(StepObservables, AreWhatTheSessionRecordsForRandomStacks) {
    std::mt19937_64 rng(29);
    for (int trial = 0; trial < 12; ++trial) {
        SCOPED_TRACE(trial);
        const bool newton = trial % 2 == 1;
        const bool alongY = trial % 3 == 0;
        SweepSession session;
        session.Model = testing::RandomModel(rng);
        session.Model.Stack.t[0] = 5e-9; // the resonance is layer 1's
        session.Solver = {0.0005, 2e-10L, 6660, newton ? SolverMethod::Newton : SolverMethod::Descent};
        std::array<double, kObservableCount> row{};
        RowCells cells{};
        for (std::size_t k = 0; k < kObservableCount; ++k) {
            cells[k] = &row[k];
        }
        const Real deltaR = 40;
        session.RelaxAndRecord(cells, deltaR, alongY);

        const LayerModel& model = session.Model;
        const AngleSet& theta = session.Theta;
        Vector4 sines;
        Vector4 cosines;
        for (Eigen::Index k = 0; k < kLayers; ++k) {
            sines[k] = std::sin(static_cast<double>(theta[static_cast<std::size_t>(k)]));
            cosines[k] = std::cos(static_cast<double>(theta[static_cast<std::size_t>(k)]));
        }
        const CosinePrecision cosine = newton ? CosinePrecision::Double : CosinePrecision::Extended;
        auto at = [&row](Observable observable) { return row[static_cast<std::size_t>(observable)]; };
        EXPECT_EQ(at(Observable::Projection),
                  newton ? Projection(model, alongY ? sines : cosines) : Projection(model, theta, alongY));
        EXPECT_EQ(at(Observable::Energy), static_cast<double>(newton ? Energy(EnergyDerivatives(model), sines, cosines)
                                                                     : Energy(model, theta)));
        EXPECT_EQ(at(Observable::Theta1), LayerAngle(theta, 0));
        EXPECT_EQ(at(Observable::Magnetoresistance), Magnetoresistance(theta, deltaR, cosine));
        EXPECT_EQ(at(Observable::ResonanceFrequency), LayerOneResonanceFrequency(model, theta, cosine));
    }
}

TEST(StepObservables, MagnetoresistanceIsZeroForParallelAndTheAmplitudeForAntiparallelLayers) {
    for (const CosinePrecision precision : kPrecisions) {
        SCOPED_TRACE(static_cast<int>(precision));
        EXPECT_EQ(Magnetoresistance({0.7L, 0.7L, 0, 0}, 25, precision), 0.0);
        EXPECT_DOUBLE_EQ(Magnetoresistance({0.7L, 0.7L + kPi, 0, 0}, 25, precision), 25.0);
        EXPECT_DOUBLE_EQ(Magnetoresistance({0, kPi / 2, 0, 0}, 25, precision), 12.5);
    }
}

// A single uniaxial layer magnetised along its easy axis with the field along it resonates at
// Kittel's f = gamma / (2 pi) sqrt((mu0 H + B_K) (mu0 H + B_K + M)), B_K = 2 K / Ms the anisotropy
// field (T); with K below 0 the axis is a hard one and the layer has no real frequency.
TEST(StepObservables, LayerOneResonanceOfAUniaxialLayerAlongItsAxisIsKittels) {
    const double inverseMu0 = kInverseMu0Rounded;
    const double gamma = static_cast<double>(kGyromagneticRatio);
    LayerModel model;
    model.Stack.M = {1.2L, 0, 0, 0};
    model.Stack.t = {3e-9L, 0, 0, 0};
    model.Stack.K = {4000, 0, 0, 0};
    for (const double field : {0.0, 5e4}) {
        for (const CosinePrecision precision : kPrecisions) {
            SCOPED_TRACE(::testing::Message() << field << " A/m, precision " << static_cast<int>(precision));
            model.FieldH = field;
            const double anisotropyField = 2 * 4000 / (1.2 * inverseMu0);
            const double inner = field / inverseMu0 + anisotropyField;
            const double kittel = gamma / (2 * std::numbers::pi) * std::sqrt(inner * (inner + 1.2));
            EXPECT_NEAR(LayerOneResonanceFrequency(model, {0, 0, 0, 0}, precision), kittel, 1e-12 * kittel);
        }
    }
    model.FieldH = 0;
    model.Stack.K[0] = -4000;
    EXPECT_EQ(LayerOneResonanceFrequency(model, {0, 0, 0, 0}, CosinePrecision::Extended), -1.0);
}

} // namespace
} // namespace dravo2
