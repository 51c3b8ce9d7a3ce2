#pragma once

#include "analysis/misfit.h"
#include "ui/import_dialog.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QAction;

namespace dravo2 {
inline namespace ui {

class AppWindow;

// "File" > "Import measured curve...", a file dropped onto the window, the "Compare" menu's
// background terms and the misfit in the status bar. The misfit is brought up to date, in the
// window's model, whenever the model's measured curve or loop changes: after each load or import,
// each Start, Reverse and normalisation, every tick of a sweep and every loop computed whole.
// While a misfit exists and "Measured curve in model units" is checked, the sweep's plot of the
// projection against the field shows the measured curve in the simulated projection's units
// (MeasuredInModelUnits), redrawn after each Start, Reverse, tick and normalisation and when the
// comparison's settings change; unchecked, the plot is drawn as without a comparison.
class MeasuredCurveActions : public QObject {
    Q_OBJECT
public:
    MeasuredCurveActions(AppWindow& window, std::unique_ptr<ImportDialogs> dialogs);
    ~MeasuredCurveActions() override;

    // Asks for a file, then imports it.
    void ImportChosenFile();
    // Reads `path`, asks for the columns, unit and rows (or takes `known` without asking), and
    // loads the curve as a load does; a cancelled or failed import keeps the experiment that was
    // loaded.
    void ImportFile(const QString& path, const ImportChoice* known = nullptr);
    // Asks for a measured file and its columns, unit and rows as an import does, and reads it into
    // `experiment` without loading it into the window (another data set of a fit). Returns false
    // when cancelled; throws ProgramError for a file that does not read.
    bool ReadAnotherCurve(QString& path, ImportChoice& choice, ExperimentData& experiment);
    // The file and the choice of the last import that loaded a curve.
    QString LastImportPath() const { return ImportedPath; }
    const ImportChoice& LastImportChoice() const { return ImportedChoice; }
    // The status bar's misfit text, or why there is none.
    void UpdateMisfit();
    // Replaces the dialogs (tests answer them from a script).
    void SetDialogs(std::unique_ptr<ImportDialogs> dialogs) { Dialogs = std::move(dialogs); }

    // The window model's misfit, and the saturation projection (T) it divided by.
    const MisfitResult& LastMisfit() const;
    double LastSaturation() const;

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
    QAction* ModelUnitsAction = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // After the sweep's own drawing (Start, Reverse, a tick, a normalisation): the measured curve
    // in model units when that is asked for.
    void SweepDrawn(bool normalised);
    // After a change of the comparison's settings: the sweep's drawing made anew, in model units
    // or as measured, when the plot still shows it.
    void RedrawSweep();
    // Whether the plot shows the projection against the field, the curve the misfit compares.
    bool ShowsProjection() const;
    // The sweep's drawing with the measured curve in model units (`modelUnits`) or as measured.
    void DrawSweep(bool modelUnits);

    AppWindow& Window;
    std::unique_ptr<ImportDialogs> Dialogs;
    QString ImportedPath;
    ImportChoice ImportedChoice;
    double Area = 0;
    QString AreaText;
    std::uint64_t SweepDrawing = 0; // the plot's clear count when it last showed the sweep's drawing
    bool Normalised = false;        // that drawing was a normalisation's
};

// Adds the import and comparison actions to `window`'s menus and the misfit to its status bar.
MeasuredCurveActions* InstallImportActions(AppWindow& window);

// "misfit 0.0123 of the measured half range over 412 of 800 measured points", with
// ", chi2 X on D dof (reduced R)" where the data give uncertainties and the terms the data cannot
// tell apart; or "no misfit: <why>"; with the regional decimal separator.
QString MisfitStatusText(const MisfitResult& result, char separator);

} // namespace ui
} // namespace dravo2
