#pragma once

#include "fit/loop_objective.h"
#include "sweep/sweep_driver.h"

#include <cmath>
#include <memory>
#include <numbers>
#include <random>

namespace dravo2::testing {

// A "measured" loop made by the program itself: Start and one Reverse of `texts` (its sweep
// fields included), the field written in oersted and read back into A/m as an import would, the
// moment as scale x projection / saturation + slope x H + offset, plus Gaussian noise of
// `noise` x scale.
inline fit::MeasuredLoop SyntheticLoop(const ParameterTexts& texts, double scale, double slope, double offset,
                                       double noise = 0, unsigned seed = 1) {
    SweepDriver driver('.');
    driver.Create(SweepFieldsOf(texts));
    SweepParameters parameters;
    parameters.Texts = texts;
    driver.Start(parameters, DisplayMode::MvHx);
    for (int branch = 0; branch < 2; ++branch) {
        if (branch == 1) {
            driver.Reverse();
        }
        while (driver.Tick(kDefaultDeltaRText, DisplayMode::MvHx) == TickResult::Continue) {
        }
    }
    const SweepSession& session = driver.Session;
    const SimulationData* simulation = driver.Simulation.get();
    const double saturation = session.Model.MagnetisationProjection(AngleSet{}, false);
    std::mt19937 random(seed);
    std::normal_distribution<double> normal(0, noise > 0 ? noise : 1);
    fit::MeasuredLoop loop;
    const double oersted = 1000 / (4 * std::numbers::pi);
    // The turning point, which the simulated table holds once, is measured at the start of the
    // second branch too, as an instrument records it.
    for (std::int32_t row = 1; row <= simulation->SimRows; ++row) {
        const double field = std::round(simulation->SimTable.At(1, row) / oersted * 1e6) / 1e6 * oersted;
        const double m = simulation->SimTable.At(2, row) / saturation;
        loop.Field.push_back(field);
        loop.Moment.push_back(scale * m + slope * field + offset + (noise > 0 ? noise * scale * normal(random) : 0));
    }
    return loop;
}

} // namespace dravo2::testing
