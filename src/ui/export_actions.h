#pragma once

#include <QString>

class QWidget;

#include <memory>
#include <optional>

namespace dravo2 {
inline namespace ui {

class AppWindow;

// A figure file and how to draw it.
struct FigureExportRequest {
    QString Path;
    int Dpi = 300; // PNG only
    double WidthCm = 8.5;
    double HeightCm = 6.5;
    double FontPt = 8;
    bool Residuals = false; // a residual panel under a plot with the measured curve in model units
};

// The questions of the two exports; a cancel is an empty answer and writes nothing.
class ExportDialogs {
public:
    virtual ~ExportDialogs() = default;
    // Asks for the figure file (its type from the extension) and then size, font and resolution,
    // starting from the last request.
    virtual std::optional<FigureExportRequest> AskFigure(const FigureExportRequest& last) = 0;
    // Asks for the CSV file, starting from `name`.
    virtual QString AskTable(const QString& name) = 0;
};

// Qt's file dialog followed by a small settings dialog.
class QtExportDialogs : public ExportDialogs {
public:
    explicit QtExportDialogs(QWidget* parent) : Parent(parent) {}
    std::optional<FigureExportRequest> AskFigure(const FigureExportRequest& last) override;
    QString AskTable(const QString& name) override;

private:
    QWidget* Parent;
};

// Adds "Export plot..." and "Export table..." to the File menu. The figure shows the plot's
// display columns with the measured curve, the simulated branches and a legend; while a misfit
// exists and "Compare" > "Measured curve in model units" is checked, the measured curve is drawn
// in model units with the misfit in the legend (and the residual panel when asked for). The table
// is the simulation as CSV. Both are written through the safe file writing; errors are shown as the
// panel's handlers show them.
void InstallExportActions(AppWindow& window);

// Replaces the dialogs the installed actions ask (for tests and scripted use).
void SetExportDialogs(AppWindow& window, std::unique_ptr<ExportDialogs> dialogs);

} // namespace ui
} // namespace dravo2
