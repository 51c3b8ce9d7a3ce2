#pragma once

#include <QString>

class QWidget;

namespace dravo2 {
inline namespace ui {

// Shows the message of an error that ended a handler (a message box in the program).
class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    virtual void Report(const QString& message) = 0;
};

// The open and save dialogs.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // Asks for a measured file. `filterIndex` (1 "da2", 2 "dat") is preselected and receives the
    // filter the user confirmed. An empty name means the dialog was cancelled.
    virtual QString OpenExperiment(int& filterIndex) = 0;
    // Asks where to save the result, starting from `name`. An empty name means cancelled.
    virtual QString SaveResult(const QString& name) = 0;
};

class MessageBoxReporter : public ErrorReporter {
public:
    explicit MessageBoxReporter(QWidget* parent) : Parent(parent) {}
    void Report(const QString& message) override;

private:
    QWidget* Parent;
};

class QtFileDialogs : public FileDialogs {
public:
    explicit QtFileDialogs(QWidget* parent) : Parent(parent) {}
    QString OpenExperiment(int& filterIndex) override;
    QString SaveResult(const QString& name) override;

private:
    QWidget* Parent;
};

// What the window says after saving `name` when the file had other hard links, which keep the
// old content.
QString LinksBrokenText(const QString& name);

// The user's decimal separator from the system locale; the full stop where it is not one
// plain character.
char RegionalDecimalSeparator();

} // namespace ui
} // namespace dravo2
