#pragma once

#include "engine/resonance_modes.h"
#include "sweep/sweep_driver.h"

#include <QWidget>

#include <vector>

namespace dravo2 {
inline namespace ui {

class AppWindow;

// A window beside the panel that draws every resonance mode of the stack against the field, one
// line per mode and sweep branch, redrawn after every recorded step. The modes of each step are
// found whether or not the view is shown, so that opening it during or after a sweep shows every
// row of the simulation table. It reads the loop's session and table only; whoever steps the loop
// calls StepRecorded after each recorded row.
class ResonanceModesView : public QWidget {
    Q_OBJECT
public:
    ResonanceModesView(const SweepDriver& loop, QWidget* parent);

    // The modes of rows 1..SimRows of the last sweep (a row whose step failed has none).
    std::vector<ModeRow> Modes() const;

    // The modes of the step just recorded, as row SimRows; Start's fresh table drops the old rows.
    void StepRecorded();

    // The modes of every row of a loop computed at once (a live loop), rows 1..SimRows.
    void LoopComputed(const std::vector<ModeRow>& modes);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const SweepDriver& Loop;
    std::vector<ModeRow> RowModes;
};

// Adds "Sweep" > "Resonance modes", which shows the view (created with the window over its model's
// loop and told of every step the panel records, so that it follows the sweep from the start).
void InstallResonanceModesView(AppWindow& window);

} // namespace ui
} // namespace dravo2
