#pragma once

#include "ui/platform.h"

#include <QString>

namespace dravo2 {

class AppWindow;

// The text of "Help" > "About Dravo2": the version, the licence and the libraries the program
// uses with their licences (rich text).
QString AboutText();

// The window's icon from the program's resources, and "Help" > "About Dravo2".
void InstallAboutActions(AppWindow& window);

// Open dialogs that answer the next request for a measured file with a file given beforehand
// (on the command line or dropped on the window), with the "dat" filter, and ask `dialogs`
// otherwise.
class GivenFileDialogs : public FileDialogs {
public:
    explicit GivenFileDialogs(FileDialogs& dialogs) : Dialogs(dialogs) {}
    void Give(const QString& name) { Given = name; }
    QString OpenExperiment(int& filterIndex) override;
    QString SaveResult(const QString& name) override { return Dialogs.SaveResult(name); }

private:
    FileDialogs& Dialogs;
    QString Given;
};

// Loads `name` as "Read .DA2" loads a file chosen with the "dat" filter; `dialogs` must be the
// window's file dialogs.
void OpenGivenFile(AppWindow& window, GivenFileDialogs& dialogs, const QString& name);

// Lets a single local file dropped on the window be loaded as OpenGivenFile loads it.
void AcceptDroppedFiles(AppWindow& window, GivenFileDialogs& dialogs);

} // namespace dravo2
