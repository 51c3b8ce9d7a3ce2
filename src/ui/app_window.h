#pragma once

#include "ui/main_window.h"

#include <QMainWindow>

class QLabel;
class QMenu;
class QScrollArea;

namespace dravo2 {
inline namespace ui {
class LiveUpdate;
class MeasuredCurveActions;
class SessionActions;
} // namespace ui
} // namespace dravo2

namespace dravo2 {
inline namespace ui {

// The program's top-level window: the instrument panel in a scroll area as its central widget,
// with a menu bar above it and a status bar below it. At its default size the window shows the
// panel at its own size and layout, growing by the bars' heights; a larger window gives the
// plot the extra room, a smaller one scrolls the panel. Each capability adds its actions to the menus through a
// function of its own, called once from the constructor; a menu left without actions is hidden.
class AppWindow : public QMainWindow {
    Q_OBJECT
public:
    AppWindow(ErrorReporter& reporter, FileDialogs& dialogs, QWidget* parent = nullptr);
    ~AppWindow() override;

    TForm1& Form() { return *Panel; }

    // The window's size that shows the whole panel at its default size.
    QSize DefaultSize() const;

    // The default size and place where `available` (a screen's free area) holds the window with
    // its frame, else the largest size that fits, moved into that area.
    void FitInto(const QRect& available);

    QMenu* FileMenu = nullptr;
    QMenu* SweepMenu = nullptr;
    QMenu* CompareMenu = nullptr;
    QMenu* FitMenu = nullptr;
    QMenu* HelpMenu = nullptr;
    QLabel* StatusText = nullptr;
    QScrollArea* PanelArea = nullptr;
    // The import of measured curves (menu, dropped files) and the misfit in the status bar.
    MeasuredCurveActions* MeasuredCurve = nullptr;
    // The loop recomputed as the parameters change.
    LiveUpdate* Live = nullptr;
    // Parameter files, the kept session, Start and Quit.
    SessionActions* Session = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    // The session is kept for "Restore last session" as the window closes.
    void closeEvent(QCloseEvent* event) override;

private:
    void HideEmptyMenus();

    // The size the window was opened with; until it changes, the first show fits it again once
    // the bars know their final heights.
    QSize OpeningSize;
    bool Shown = false;

    TForm1* Panel = nullptr;
};

} // namespace ui
} // namespace dravo2
