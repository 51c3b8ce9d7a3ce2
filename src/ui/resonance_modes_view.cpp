#include "ui/resonance_modes_view.h"

#include "figure/figure_export.h"
#include "plot/modes_figure.h"
#include "ui/app_window.h"

#include <QAction>
#include <QMenu>
#include <QPainter>

#include <algorithm>
#include <limits>

namespace dravo2 {
inline namespace ui {
namespace {

ModeRow NoModes() {
    ModeRow none;
    none.fill(std::numeric_limits<double>::quiet_NaN());
    return none;
}

} // namespace

ResonanceModesView::ResonanceModesView(const SweepDriver& loop, QWidget* parent)
    : QWidget(parent, Qt::Window), Loop(loop) {
    setObjectName(QStringLiteral("ResonanceModesView"));
    setWindowTitle(tr("Resonance modes"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(480, 360);
}

std::vector<ModeRow> ResonanceModesView::Modes() const {
    std::vector<ModeRow> modes = RowModes;
    modes.resize(static_cast<std::size_t>(std::max(Loop.Simulation->SimRows, 0)), NoModes());
    return modes;
}

void ResonanceModesView::StepRecorded() {
    const SweepSession& session = Loop.Session;
    RowModes.resize(static_cast<std::size_t>(std::max(Loop.Simulation->SimRows - 1, 0)), NoModes());
    RowModes.push_back(ResonanceModes(session.Model, session.Theta));
    if (isVisible()) {
        update();
    }
}

void ResonanceModesView::LoopComputed(const std::vector<ModeRow>& modes) {
    RowModes = modes;
    if (isVisible()) {
        update();
    }
}

void ResonanceModesView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const FigureDescription figure = BuildModesFigure(*Loop.Simulation, Modes());
    PaintFigure(painter, figure, QRectF(rect()), logicalDpiY() / 72.0);
}

void InstallResonanceModesView(AppWindow& window) {
    auto* view = new ResonanceModesView(window.Form().Model().Loop(), &window);
    QObject::connect(&window.Form(), &TForm1::StepRecorded, view, &ResonanceModesView::StepRecorded);
    QAction* action = window.SweepMenu->addAction(QObject::tr("&Resonance modes"));
    action->setObjectName(QStringLiteral("ResonanceModes"));
    QObject::connect(action, &QAction::triggered, view, [view] {
        view->show();
        view->raise();
        view->activateWindow();
    });
}

} // namespace ui
} // namespace dravo2
