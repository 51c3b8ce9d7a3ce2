#include "ui/live_update.h"

#include "data/errors.h"
#include "ui/app_window.h"
#include "ui/resonance_modes_view.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace dravo2 {
inline namespace ui {

// One loop asked for: what the window will show it with, the loop's inputs and its result.
struct LiveUpdate::Computation {
    SweepParameters Panel;
    DisplayMode Mode = DisplayMode::MvHx;
    ModelParameters Model;
    LoopPlan Plan;
    InitialState Initial;
    std::atomic<bool> Stop{false};
    LoopResult Result;
};

LiveUpdate::LiveUpdate(AppWindow& window) : QObject(&window), Window(window) {
    setObjectName(QStringLiteral("LiveUpdate"));
    // One worker: a newer loop waits only for the older one to see its stop flag.
    Pool.setMaxThreadCount(1);
    Action = Window.SweepMenu->addAction(tr("&Live update"));
    Action->setObjectName(QStringLiteral("LiveUpdateAction"));
    Action->setCheckable(true);
    Action->setChecked(true);
    Action->setToolTip(tr("With Newton's method, every change of a parameter recomputes and shows the whole loop "
                          "(Start, then one Reverse)"));
    connect(Action, &QAction::toggled, this, [this](bool on) {
        if (on) {
            Request();
        } else {
            Cancel();
        }
    });

    TForm1& form = Window.Form();
    connect(&form, &TForm1::ParametersEdited, this, &LiveUpdate::Request);
    // A sweep's Start, Reverse or tick makes a loop in the making stale.
    connect(&form.Model(), &WindowModel::LoopChanged, this, [this](LoopChange change) {
        if (change == LoopChange::Swept) {
            Cancel();
        }
    });
    if (auto* newton = Window.findChild<QAction*>(QStringLiteral("SolverNewton"))) {
        connect(newton, &QAction::triggered, this, &LiveUpdate::Request);
    }
    if (auto* view = Window.findChild<ResonanceModesView*>()) {
        connect(this, &LiveUpdate::ModesShown, view, &ResonanceModesView::LoopComputed);
    }
    if (auto* descent = Window.findChild<QAction*>(QStringLiteral("SolverDescent"))) {
        connect(descent, &QAction::triggered, this, &LiveUpdate::Cancel);
    }
}

LiveUpdate::~LiveUpdate() {
    Cancel();
    Pool.waitForDone();
}

bool LiveUpdate::Acting() const {
    TForm1& form = Window.Form();
    const SweepDriver& loop = form.Model().Loop();
    return Action->isChecked() && loop.Session.Solver.Method == SolverMethod::Newton && form.CanStart() &&
           !loop.IsRunning();
}

void LiveUpdate::Cancel() {
    if (Current) {
        Current->Stop = true;
        Current.reset();
    }
}

void LiveUpdate::Request() {
    Cancel();
    TForm1& form = Window.Form();
    if (!Acting() || !form.InputMessage().isEmpty()) {
        return; // a field that does not convert is already said in the status bar
    }
    auto computation = std::make_shared<Computation>();
    const WindowModel& model = form.Model();
    computation->Panel = model.Sweep();
    computation->Mode = model.Mode();
    try {
        // Start's intake and display preset on a copy of the session, so that the loop begins
        // where Start would begin it (angles, generator) and the window changes only once the
        // loop is shown.
        const ParameterSet set = model.Parameters();
        SweepSession session = model.Loop().Session;
        session.SetParameters(set.Model);
        session.SetSweep({set.Sweep.StartKiloAmperesPerMetre, set.Sweep.Steps, set.Sweep.StepKiloAmperesPerMetre});
        // The preset's range must map onto the plot (DeltaR with an amplitude of 0 does not): said
        // here, before any loop, as Start would say it.
        Plot plot;
        plot.CreationDefaults();
        plot.Range.Bounds = model.Loop().PlotState->Range.Bounds;
        plot.Range.Bounds.MinY = -0.01;
        plot.Range.Bounds.MaxY = 0.01;
        if (PresetDisplayMode(session, computation->Mode, plot.Range.Bounds, plot.SimXCol, plot.SimYCol,
                              computation->Panel.DeltaR, model.Separator())
                .Applied) {
            plot.ClearScreen(kCrossPointItem, model.Separator());
        }
        computation->Model = set.Model;
        const BranchSweep first = set.Sweep;
        computation->Plan.Branches = {first, ReversedBranch(first)};
        computation->Plan.ProjectionAlongY = computation->Mode == DisplayMode::MvHy;
        computation->Plan.Modes = true; // for the resonance modes' view, which follows every loop
        computation->Initial.From = InitialState::Kind::Angles;
        computation->Initial.Angles = session.Theta;
        computation->Initial.RandomState = session.Generator.RandomState;
        ClearFloatingPointFlags();
    } catch (const std::exception& error) {
        ClearFloatingPointFlags();
        emit Message(QString::fromUtf8(error.what()));
        return;
    }
    Current = computation;
    ++StartedCount;
    Pool.start([this, computation] {
        computation->Result = RunLoop(computation->Model, computation->Plan, computation->Initial, &computation->Stop);
        QMetaObject::invokeMethod(
            this, [this, computation] { Finished(computation); }, Qt::QueuedConnection);
    });
}

void LiveUpdate::Finished(const std::shared_ptr<Computation>& computation) {
    if (computation != Current || computation->Stop) {
        return; // a newer edit, a Start or a Reverse came since
    }
    Current.reset();
    if (!Acting()) {
        return;
    }
    ++ShownCount;
    const QString said = Window.Form().ShowComputedLoop(computation->Panel, computation->Mode, computation->Result);
    std::vector<ModeRow> modes = computation->Result.Modes;
    modes.resize(static_cast<std::size_t>(std::max(Window.Form().Model().Loop().Simulation->SimRows, 0)));
    emit ModesShown(modes);
    emit Message(said);
}

void LiveUpdate::WaitUntilShown() {
    Pool.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

LiveUpdate* InstallLiveUpdate(AppWindow& window) {
    return new LiveUpdate(window);
}

} // namespace ui
} // namespace dravo2
