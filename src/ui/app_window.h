#pragma once

#include "ui/main_window.h"

#include <QMainWindow>

class QLabel;
class QMenu;

namespace dravo2 {
class MeasuredCurveActions;
}

namespace dravo2 {

// The program's top-level window: the instrument panel as its central widget, unchanged in
// size and layout, with a menu bar above it and a status bar below it. The window grows by
// their heights. Each capability adds its actions to the menus through a function of its own,
// called once from the constructor; a menu left without actions is hidden.
class AppWindow : public QMainWindow {
    Q_OBJECT
public:
    AppWindow(ErrorReporter& reporter, FileDialogs& dialogs, QWidget* parent = nullptr);
    ~AppWindow() override;

    TForm1& Form() { return *Panel; }

    QMenu* FileMenu = nullptr;
    QMenu* SweepMenu = nullptr;
    QMenu* CompareMenu = nullptr;
    QMenu* FitMenu = nullptr;
    QMenu* HelpMenu = nullptr;
    QLabel* StatusText = nullptr;
    // The import of measured curves (menu, dropped files) and the misfit in the status bar.
    MeasuredCurveActions* MeasuredCurve = nullptr;

private:
    void HideEmptyMenus();

    TForm1* Panel = nullptr;
};

} // namespace dravo2
