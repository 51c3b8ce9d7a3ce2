#include "ui/app_window.h"

#include "ui/desktop_integration.h"
#include "ui/export_actions.h"
#include "ui/fit_dialog.h"
#include "ui/import_actions.h"
#include "ui/resonance_modes_view.h"
#include "ui/solver_actions.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

namespace dravo2 {

AppWindow::AppWindow(ErrorReporter& reporter, FileDialogs& dialogs, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("AppWindow"));
    Panel = new TForm1(reporter, dialogs, this);
    setCentralWidget(Panel);
    setWindowTitle(Panel->windowTitle());
    setFont(Panel->font());

    FileMenu = menuBar()->addMenu(tr("&File"));
    SweepMenu = menuBar()->addMenu(tr("&Sweep"));
    CompareMenu = menuBar()->addMenu(tr("&Compare"));
    FitMenu = menuBar()->addMenu(tr("F&it"));
    HelpMenu = menuBar()->addMenu(tr("&Help"));

    StatusText = new QLabel(this);
    StatusText->setObjectName(QStringLiteral("StatusText"));
    statusBar()->addWidget(StatusText, 1);
    statusBar()->setSizeGripEnabled(false);

    // Each capability adds its actions here, before empty menus are hidden.
    InstallAboutActions(*this);
    MeasuredCurve = InstallImportActions(*this);
    InstallSolverActions(*this);
    InstallResonanceModesView(*this);
    InstallExportActions(*this);
    InstallFitActions(*this);

    HideEmptyMenus();

    // The panel keeps its own client area; the menu bar and the status bar add to the height.
    const QSize panel = Panel->size();
    Panel->setMinimumSize(panel);
    move(194, 53);
    resize(panel.width(), panel.height() + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
}

AppWindow::~AppWindow() = default;

void AppWindow::HideEmptyMenus() {
    for (QMenu* menu : {FileMenu, SweepMenu, CompareMenu, FitMenu, HelpMenu}) {
        menu->menuAction()->setVisible(!menu->isEmpty());
    }
}

} // namespace dravo2
