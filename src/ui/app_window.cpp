#include "ui/app_window.h"

#include "ui/desktop_integration.h"
#include "ui/export_actions.h"
#include "ui/fit_dialog.h"
#include "ui/import_actions.h"
#include "ui/live_update.h"
#include "ui/model_help.h"
#include "ui/resonance_modes_view.h"
#include "ui/session_actions.h"
#include "ui/solver_actions.h"

#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace dravo2 {
inline namespace ui {

AppWindow::AppWindow(ErrorReporter& reporter, FileDialogs& dialogs, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("AppWindow"));
    Panel = new TForm1(reporter, dialogs);
    PanelArea = new QScrollArea(this);
    PanelArea->setObjectName(QStringLiteral("PanelArea"));
    PanelArea->setFrameShape(QFrame::NoFrame);
    PanelArea->setWidgetResizable(true);
    PanelArea->setWidget(Panel);
    setCentralWidget(PanelArea);
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
    // A field whose text does not convert yet says why here while it is typed.
    connect(Panel, &TForm1::InputMessageChanged, this, [this](const QString& message) {
        if (message.isEmpty()) {
            statusBar()->clearMessage();
        } else {
            statusBar()->showMessage(message);
        }
    });

    // Each capability adds its actions here, before empty menus are hidden.
    InstallModelHelp(*this);
    InstallAboutActions(*this);
    MeasuredCurve = InstallImportActions(*this);
    InstallSolverActions(*this);
    InstallResonanceModesView(*this);
    InstallExportActions(*this);
    InstallFitActions(*this);
    Live = InstallLiveUpdate(*this);
    Session = InstallSessionActions(*this);
    // A live loop that failed says why here; a loop shown whole clears it.
    connect(Live, &LiveUpdate::Message, this, [this](const QString& message) {
        if (message.isEmpty()) {
            if (Panel->InputMessage().isEmpty()) {
                statusBar()->clearMessage();
            }
        } else {
            statusBar()->showMessage(message);
        }
    });

    HideEmptyMenus();

    move(194, 53);
    resize(DefaultSize());
    if (const QScreen* screen = this->screen()) {
        FitInto(screen->availableGeometry());
    }
    OpeningSize = size();
}

void AppWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!Shown) {
        Shown = true;
        // The bars settle their heights once shown; a window still at its opening size is fitted
        // again with them, so that the default size shows the whole panel.
        QTimer::singleShot(0, this, [this] {
            if (const QScreen* screen = this->screen(); screen != nullptr && size() == OpeningSize) {
                FitInto(screen->availableGeometry());
            }
        });
    }
}

QSize AppWindow::DefaultSize() const {
    const QSize panel(TForm1::kDefaultWidth, TForm1::kDefaultHeight);
    if (isVisible()) {
        // The bars as they are drawn.
        return size() - PanelArea->size() + panel;
    }
    // Before the window is shown the bars' hints stand in for them (the status bar counts its
    // label only once its layout has run).
    ensurePolished();
    statusBar()->layout()->activate();
    return panel + QSize(0, menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
}

void AppWindow::FitInto(const QRect& available) {
    // Before the window is shown its frame is not known: room is kept for a usual title bar and
    // border.
    QSize frame = frameGeometry().size() - size();
    if (!isVisible() || frame.isEmpty()) {
        frame = QSize(8, 36);
    }
    const QSize room = available.size() - frame;
    const QSize wanted = DefaultSize();
    QSize size = wanted.boundedTo(room);
    // A panel cut in one direction scrolls in that direction only, where the screen has room for
    // the scroll bar beside it.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, PanelArea);
    if (size.height() < wanted.height()) {
        size.setWidth(std::min(room.width(), size.width() + bar));
    }
    if (size.width() < wanted.width()) {
        size.setHeight(std::min(room.height(), size.height() + bar));
    }
    resize(size);
    const QPoint preferred(194, 53);
    const int left = std::clamp(preferred.x(), available.left(),
                                std::max(available.left(), available.right() + 1 - width() - frame.width()));
    const int top = std::clamp(preferred.y(), available.top(),
                               std::max(available.top(), available.bottom() + 1 - height() - frame.height()));
    move(left, top);
}

AppWindow::~AppWindow() = default;

void AppWindow::closeEvent(QCloseEvent* event) {
    Session->SaveSession();
    QMainWindow::closeEvent(event);
}

void AppWindow::HideEmptyMenus() {
    for (QMenu* menu : {FileMenu, SweepMenu, CompareMenu, FitMenu, HelpMenu}) {
        menu->menuAction()->setVisible(!menu->isEmpty());
    }
}

} // namespace ui
} // namespace dravo2
