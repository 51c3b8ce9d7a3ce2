#pragma once

#include "analysis/misfit.h"
#include "ui/import_dialog.h"

#include <QObject>
#include <QString>

#include <memory>

class QAction;

namespace dravo2 {

class AppWindow;

// "File" > "Import measured curve...", a file dropped onto the window, the "Compare" menu's
// background terms and the misfit in the status bar. The misfit is brought up to date after each
// load or import, each Start, Reverse and normalisation, and after every tick of a sweep.
class MeasuredCurveActions : public QObject {
    Q_OBJECT
public:
    MeasuredCurveActions(AppWindow& window, std::unique_ptr<ImportDialogs> dialogs);
    ~MeasuredCurveActions() override;

    // Asks for a file, then imports it.
    void ImportChosenFile();
    // Reads `path`, asks for the columns, unit and rows, and loads the curve as a load does; a
    // cancelled or failed import keeps the experiment that was loaded.
    void ImportFile(const QString& path);
    // The status bar's misfit text, or why there is none.
    void UpdateMisfit();
    // Replaces the dialogs (tests answer them from a script).
    void SetDialogs(std::unique_ptr<ImportDialogs> dialogs) { Dialogs = std::move(dialogs); }

    const MisfitResult& LastMisfit() const { return Last; }

    // The sample's area (m^2) that fixes the comparison's scale; 0 for a fitted scale.
    double SampleArea() const { return Area; }
    // Sets the area from its text ("0.2947cm2"; empty for none). Returns false, changing nothing,
    // for a text that is not an area.
    bool SetSampleAreaText(const QString& text);
    QString SampleAreaText() const { return AreaText; }

    QAction* ImportAction = nullptr;
    QAction* SlopeAction = nullptr;
    QAction* OffsetAction = nullptr;
    QAction* AreaAction = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppWindow& Window;
    std::unique_ptr<ImportDialogs> Dialogs;
    MisfitResult Last;
    double Area = 0;
    QString AreaText;
};

// Adds the import and comparison actions to `window`'s menus and the misfit to its status bar.
MeasuredCurveActions* InstallImportActions(AppWindow& window);

// "misfit 0.0123 of the measured half range over 412 of 800 measured points", with
// ", chi2 X on D dof (reduced R)" where the data give uncertainties and the terms the data cannot
// tell apart; or "no misfit: <why>"; with the regional decimal separator.
QString MisfitStatusText(const MisfitResult& result, char separator);

} // namespace dravo2
