#pragma once

#include "data/number_text.h"
#include "fit/loop_objective.h"
#include "sweep/sweep_driver.h"

#include <cmath>
#include <memory>
#include <numbers>
#include <random>

namespace dravo2::testing {

// A "measured" loop made by the program itself: Start and one Reverse of `texts` (its sweep
// fields included), from the first field of the Start, the field written in oersted and read
// back into A/m as an import would, the
// moment as scale x projection / saturation + slope x H + offset, plus Gaussian noise of
// `noise` x scale. With `magnetoresistance`, the DeltaR column over its amplitude takes the
// projection's place: an R(H) curve.
inline fit::MeasuredLoop SyntheticLoop(const ParameterTexts& texts, double scale, double slope, double offset,
                                       double noise = 0, unsigned seed = 1, bool magnetoresistance = false) {
    SweepDriver driver('.');
    driver.Create(SweepFieldsOf(texts));
    driver.Session.Solver.Method = SolverMethod::Newton;
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
    const double saturation =
        magnetoresistance ? TextToDouble(kDefaultDeltaRText) : session.Model.MagnetisationProjection(AngleSet{}, false);
    const std::int32_t column = magnetoresistance ? TableColumn(Observable::Magnetoresistance) : 2;
    std::mt19937 random(seed);
    std::normal_distribution<double> normal(0, 1);
    fit::MeasuredLoop loop;
    const double oersted = 1000 / (4 * std::numbers::pi);
    // The loop as an instrument records it, from the first field of the sweep (where the closed
    // loop also ends, so its moment is that of the last row), then every row. Fields pass through
    // oersted with six decimals, as a file gives them.
    auto record = [&](double h, double m) {
        const double field = std::round(h / oersted * 1e6) / 1e6 * oersted;
        loop.Field.push_back(field);
        loop.Moment.push_back(scale * m + slope * field + offset + (noise > 0 ? noise * scale * normal(random) : 0));
    };
    const std::int32_t rows = simulation->SimRows;
    record(TextToDouble(texts.StartF) * 1000, simulation->SimTable.At(column, rows) / saturation);
    for (std::int32_t row = 1; row <= rows; ++row) {
        record(simulation->SimTable.At(1, row), simulation->SimTable.At(column, row) / saturation);
    }
    return loop;
}

} // namespace dravo2::testing
