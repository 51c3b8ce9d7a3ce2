#pragma once

#include "sweep/run_loop.h"
#include "sweep/sweep_driver.h"

#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class QAction;

namespace dravo2 {
inline namespace ui {

class AppWindow;

// "Sweep" > "Live update": while it is checked and Newton's method relaxes the steps, every
// accepted edit of the panel (a field that converts, a scroll bar, the anisotropy form, the
// display mode, the solver, an opened parameter set) computes the whole loop, Start and one
// Reverse over the sweep fields, with RunLoop on a worker thread, and the window shows it as if
// Start and Reverse had run to the end. A newer edit raises the older computation's stop flag;
// only the newest result is shown. Start, Reverse and a tick of the timer-driven sweep cancel a
// computation under way.
class LiveUpdate : public QObject {
    Q_OBJECT
public:
    explicit LiveUpdate(AppWindow& window);
    ~LiveUpdate() override;

    // Computes the loop of the panel as it stands, if live updates act now.
    void Request();
    // Stops the computation under way; its result is not shown.
    void Cancel();

    // Whether live updates act: checked, Newton's method chosen, no sweep or fit holding Start.
    bool Acting() const;

    // Waits until the computations started have ended and shows the newest result (tests).
    void WaitUntilShown();

    // How many computed loops were shown, and how many computations were started.
    std::int64_t Shown() const { return ShownCount; }
    std::int64_t Started() const { return StartedCount; }

    QAction* Action = nullptr;

signals:
    // A failed intake, a failed step or a full table, said in the status bar; empty when the last
    // loop was shown whole.
    void Message(const QString& text);
    // The resonance modes of every row of the loop just shown.
    void ModesShown(const std::vector<ModeRow>& modes);

private:
    struct Computation;
    void Finished(const std::shared_ptr<Computation>& computation);

    AppWindow& Window;
    QThreadPool Pool;
    std::shared_ptr<Computation> Current;
    std::int64_t ShownCount = 0;
    std::int64_t StartedCount = 0;
};

// Adds "Sweep" > "Live update" to the window.
LiveUpdate* InstallLiveUpdate(AppWindow& window);

} // namespace ui
} // namespace dravo2
