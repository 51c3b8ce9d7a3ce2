#include "ui/solver_actions.h"

#include "ui/app_window.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace dravo2 {
inline namespace ui {

void InstallSolverActions(AppWindow& window) {
    QMenu* menu = window.SweepMenu->addMenu(QObject::tr("S&olver"));
    menu->setObjectName(QStringLiteral("SolverMenu"));
    auto* group = new QActionGroup(menu);
    group->setExclusive(true);
    SolverSettings& solver = window.Form().Model().Loop().Session.Solver;

    auto add = [&](const QString& text, const QString& name, SolverMethod method) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        action->setCheckable(true);
        action->setChecked(solver.Method == method);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, &window, [&solver, method] { solver.Method = method; });
    };
    add(QObject::tr("&Gradient descent"), QStringLiteral("SolverDescent"), SolverMethod::Descent);
    add(QObject::tr("&Newton (fast)"), QStringLiteral("SolverNewton"), SolverMethod::Newton);
}

} // namespace ui
} // namespace dravo2
