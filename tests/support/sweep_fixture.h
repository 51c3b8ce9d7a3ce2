#pragma once

#include "engine/sweep_session.h"

#include <memory>

namespace dravo2::testing {

// A session with its table, range and columns, driven as the window drives it.
struct SweepRig {
    SweepSession Session;
    std::unique_ptr<SimulationData> Simulation = std::make_unique<SimulationData>();
    ParameterTexts Texts;
    WorldBounds Range;
    std::int32_t SimXCol = 1;
    std::int32_t SimYCol = 2;
    std::string DeltaR = kDefaultDeltaRText;
    PlainSweepFields Fields{Texts, Session, '.'};

    SweepRig() { Session.CreationDefaults(Fields, '.'); }

    DisplayPreset Start(DisplayMode mode = DisplayMode::MvHx) {
        Session.BeginStart(*Simulation, Range);
        Session.TakeParameters(Texts, '.');
        return Session.PresetDisplayMode(mode, Range, SimXCol, SimYCol, DeltaR, '.');
    }

    // Ticks until the branch ends; returns the iterations of all its steps.
    long long RunBranch(DisplayMode mode = DisplayMode::MvHx) {
        long long iterations = 0;
        do {
            if (Session.Step(*Simulation, DeltaR, '.', mode == DisplayMode::MvHy) == StepOutcome::TableFull) {
                break;
            }
            iterations += Session.IterationCount;
        } while (!Session.SweepOver() && Simulation->SimRows < MaxRows);
        return iterations;
    }
};

} // namespace dravo2::testing
