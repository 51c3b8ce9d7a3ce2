#pragma once

#include "data/curve_import.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QAction;
class QMenu;

namespace dravo2 {
inline namespace ui {

class AppWindow;

// The dialogs that name a parameter file.
class ParameterDialogs {
public:
    virtual ~ParameterDialogs() = default;
    // Asks for a parameter file to open, or to save to (starting from `name`); empty: cancelled.
    virtual QString OpenParameters(const QString& name) = 0;
    virtual QString SaveParameters(const QString& name) = 0;
};

// "File" > "Open parameters...", "Save parameters...", "Recent parameter files", "Restore last
// session", "Reset to defaults" and "Quit"; "Sweep" > "Start". A parameter file holds the
// KEY=VALUE lines that dravo2-fit prints and dravo2-sweep takes. The session (the panel's
// parameters, the solver and the measured file with the way it was read) is written to the
// settings file when the window closes and read back by "Restore last session"; without a
// settings file (tests) nothing is kept between windows.
class SessionActions : public QObject {
    Q_OBJECT
public:
    SessionActions(AppWindow& window, std::unique_ptr<ParameterDialogs> dialogs);
    ~SessionActions() override;

    void OpenChosenFile();
    void SaveChosenFile();
    // Reads a parameter file into the panel; a file that cannot be read or holds a bad line is
    // said in a message and changes nothing. Returns whether it was opened.
    bool OpenFile(const QString& path);
    // Writes the panel's parameters; a field that does not convert is said and nothing written.
    bool SaveFile(const QString& path);
    // The panel's defaults as the window starts with them, and the gradient descent.
    void ResetToDefaults();

    // The settings file that keeps the session and the recent files (empty: none).
    void SetSettingsFile(const QString& path);
    void SaveSession();
    // Brings the last session back; false (and a message) when there is none or it fails.
    bool RestoreSession();

    QStringList RecentFiles() const { return Recent; }
    void SetDialogs(std::unique_ptr<ParameterDialogs> dialogs) { Dialogs = std::move(dialogs); }

    QAction* OpenAction = nullptr;
    QAction* SaveAction = nullptr;
    QAction* RestoreAction = nullptr;
    QAction* ResetAction = nullptr;
    QAction* QuitAction = nullptr;
    QAction* StartAction = nullptr;
    QMenu* RecentMenu = nullptr;

private:
    void Remember(const QString& path);
    void RebuildRecentMenu();
    void ChooseSolver(bool newton);

    AppWindow& Window;
    std::unique_ptr<ParameterDialogs> Dialogs;
    QString SettingsFile;
    QStringList Recent;
    QString LastName = QStringLiteral("parameters.txt");
};

// Adds the session's actions to the window's menus.
SessionActions* InstallSessionActions(AppWindow& window);

} // namespace ui
} // namespace dravo2
