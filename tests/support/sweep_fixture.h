#pragma once

#include "sweep/sweep_driver.h"

#include <memory>

namespace dravo2::testing {

// A sweep driver with the parameter texts the tests edit, driven as the window drives it.
struct SweepRig {
    SweepDriver Driver;
    SweepSession& Session = Driver.Session;
    std::unique_ptr<SimulationData>& Simulation = Driver.Simulation;
    SweepParameters Parameters;
    ParameterTexts& Texts = Parameters.Texts;
    std::string& DeltaR = Parameters.DeltaR;
    WorldBounds& Range = Driver.PlotState->Range.Bounds;
    std::int32_t& SimXCol = Driver.PlotState->SimXCol;
    std::int32_t& SimYCol = Driver.PlotState->SimYCol;
    DisplayMode Mode = DisplayMode::MvHx;

    SweepRig() { Driver.Create(SweepFieldsOf(Texts)); }
    SweepRig(const SweepRig&) = delete;
    SweepRig& operator=(const SweepRig&) = delete;

    DisplayPreset Start(DisplayMode mode = DisplayMode::MvHx) {
        Mode = mode;
        return Driver.Start(Parameters, mode);
    }

    TickResult Tick() { return Driver.Tick(DeltaR, Mode); }

    // Ticks until the branch ends; returns the iterations of all its steps.
    long long RunBranch() {
        long long iterations = 0;
        for (;;) {
            const TickResult result = Tick();
            if (Driver.Recorded) {
                iterations += Session.IterationCount;
            }
            if (result != TickResult::Continue) {
                return iterations;
            }
        }
    }
};

} // namespace dravo2::testing
