#include "ui/export_actions.h"

#include "data/csv_writer.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/floating_point.h"
#include "figure/figure_export.h"
#include "plot/figure.h"
#include "ui/app_window.h"
#include "ui/import_actions.h"
#include "ui/platform.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QMenu>
#include <QSpinBox>

#include <array>

namespace dravo2 {
inline namespace ui {
namespace {

const QStringList kFigureFilters = {QStringLiteral("PNG image (*.png)"), QStringLiteral("SVG drawing (*.svg)"),
                                    QStringLiteral("PDF document (*.pdf)")};
const QStringList kFigureSuffixes = {QStringLiteral("png"), QStringLiteral("svg"), QStringLiteral("pdf")};

// The state of the exports for the lifetime of the window: the dialogs and the last answers.
class ExportActions : public QObject {
public:
    ExportActions(AppWindow& window, std::unique_ptr<ExportDialogs> dialogs)
        : QObject(&window), Window(window), Dialogs(std::move(dialogs)) {
        setObjectName(QStringLiteral("ExportActions"));
    }

    void SetDialogs(std::unique_ptr<ExportDialogs> dialogs) { Dialogs = std::move(dialogs); }

    void ExportPlot() {
        TForm1& form = Window.Form();
        const WindowModel& model = form.Model();
        if (model.Loop().Simulation->SimRows <= 0 && model.Measured().ExpRows <= 0) {
            return; // nothing to draw
        }
        const std::optional<FigureExportRequest> request = Dialogs->AskFigure(LastFigure);
        if (!request || request->Path.isEmpty()) {
            return; // cancelled: nothing is written
        }
        LastFigure = *request;
        form.Guarded([&] {
            const std::string path = request->Path.toStdString();
            const std::optional<FigureFormat> format = FigureFormatForPath(path);
            if (!format) {
                throw ProgramError("'" + path + "' is not a figure file name (.png, .svg or .pdf)");
            }
            FigureColumns columns;
            columns.X = model.Loop().PlotState->SimXCol;
            columns.Y = model.Loop().PlotState->SimYCol;
            columns.ProjectionAlongY = model.Mode() == DisplayMode::MvHy;
            const MeasuredCurveActions* comparing = Window.MeasuredCurve;
            FigureComparison comparison;
            const bool modelUnits = comparing != nullptr && comparing->ModelUnitsAction->isChecked();
            if (modelUnits) {
                comparison.Misfit = model.Misfit();
                comparison.Saturation = model.MisfitSaturation();
                comparison.Residuals = request->Residuals;
            }
            FigureDescription figure = BuildFigure(*model.Loop().Simulation, columns, &model.Measured(), nullptr,
                                                   modelUnits ? &comparison : nullptr);
            figure.WidthCm = request->WidthCm;
            figure.HeightCm = request->HeightCm;
            figure.FontPt = request->FontPt;
            const std::string bytes = FigureFileBytes(figure, *format, request->Dpi);
            // Qt's drawing may leave floating-point flags raised; the engine's checks after this
            // handler must not take them for its own.
            ClearFloatingPointFlags();
            const WriteNote note = WriteFileSafely(path, bytes, SpecialFiles::Refuse);
            Window.StatusText->setText(note == WriteNote::LinksBroken
                                           ? LinksBrokenText(request->Path)
                                           : QStringLiteral("Plot exported to ") + request->Path);
        });
    }

    void ExportTable() {
        TForm1& form = Window.Form();
        const SweepDriver& loop = form.Model().Loop();
        if (loop.Simulation->SimRows <= 0) {
            return;
        }
        const QString name = Dialogs->AskTable(LastTable);
        if (name.isEmpty()) {
            return; // cancelled: nothing is written
        }
        LastTable = name;
        form.Guarded([&] {
            // A layer has its angle recorded when its thickness is above 0.
            std::array<bool, 4> present{};
            for (std::size_t i = 0; i < present.size(); ++i) {
                present[i] = loop.Session.Model.Stack.t[i] > 0;
            }
            const WriteNote note = WriteFileSafely(
                name.toStdString(), CsvTableText(*loop.Simulation, present, TableBranchNumbers(*loop.Simulation)),
                SpecialFiles::Refuse);
            Window.StatusText->setText(note == WriteNote::LinksBroken ? LinksBrokenText(name)
                                                                      : QStringLiteral("Table exported to ") + name);
        });
    }

private:
    AppWindow& Window;
    std::unique_ptr<ExportDialogs> Dialogs;
    FigureExportRequest LastFigure{QStringLiteral("dravoplot.pdf")};
    QString LastTable = QStringLiteral("dravoresult.csv");
};

} // namespace

std::optional<FigureExportRequest> QtExportDialogs::AskFigure(const FigureExportRequest& last) {
    QFileDialog files(Parent, QStringLiteral("Export plot"));
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setNameFilters(kFigureFilters);
    const auto lastSuffix = kFigureSuffixes.indexOf(QFileInfo(last.Path).suffix().toLower());
    files.selectNameFilter(kFigureFilters.value(lastSuffix, kFigureFilters.last()));
    files.selectFile(last.Path);
    if (files.exec() != QDialog::Accepted || files.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    FigureExportRequest request = last;
    request.Path = files.selectedFiles().constFirst();
    if (!FigureFormatForPath(request.Path.toStdString())) {
        // No known extension typed: the type chosen in the dialog decides.
        const auto filter = kFigureFilters.indexOf(files.selectedNameFilter());
        request.Path += QLatin1Char('.') + kFigureSuffixes.value(filter, kFigureSuffixes.last());
    }

    QDialog settings(Parent);
    settings.setWindowTitle(QStringLiteral("Figure size"));
    auto* form = new QFormLayout(&settings);
    auto spin = [&settings](double value, double lowest, double highest, int decimals, const QString& suffix) {
        auto* box = new QDoubleSpinBox(&settings);
        box->setRange(lowest, highest);
        box->setDecimals(decimals);
        box->setSingleStep(decimals > 0 ? 0.5 : 1);
        box->setValue(value);
        box->setSuffix(suffix);
        return box;
    };
    QDoubleSpinBox* width = spin(request.WidthCm, 2, 50, 1, QStringLiteral(" cm"));
    QDoubleSpinBox* height = spin(request.HeightCm, 2, 50, 1, QStringLiteral(" cm"));
    QDoubleSpinBox* font = spin(request.FontPt, 4, 36, 1, QStringLiteral(" pt"));
    auto* dpi = new QSpinBox(&settings);
    dpi->setRange(30, 2400);
    dpi->setValue(request.Dpi);
    dpi->setSuffix(QStringLiteral(" dpi"));
    dpi->setEnabled(FigureFormatForPath(request.Path.toStdString()) == FigureFormat::Png);
    form->addRow(QStringLiteral("Width (8.5 cm: one journal column)"), width);
    form->addRow(QStringLiteral("Height"), height);
    form->addRow(QStringLiteral("Font size"), font);
    form->addRow(QStringLiteral("Resolution (PNG)"), dpi);
    auto* residuals = new QCheckBox(QStringLiteral("Residual panel under the plot"), &settings);
    residuals->setObjectName(QStringLiteral("ResidualPanel"));
    residuals->setChecked(request.Residuals);
    residuals->setToolTip(QStringLiteral("The measured minus the simulated curve, on the same field axis, while the "
                                         "measured curve is drawn in model units"));
    form->addRow(residuals);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &settings);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &settings, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &settings, &QDialog::reject);
    form->addRow(buttons);
    if (settings.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    request.WidthCm = width->value();
    request.HeightCm = height->value();
    request.FontPt = font->value();
    request.Dpi = dpi->value();
    request.Residuals = residuals->isChecked();
    return request;
}

QString QtExportDialogs::AskTable(const QString& name) {
    QFileDialog files(Parent, QStringLiteral("Export table"));
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setNameFilter(QStringLiteral("CSV table (*.csv)"));
    files.setDefaultSuffix(QStringLiteral("csv"));
    files.selectFile(name);
    if (files.exec() != QDialog::Accepted || files.selectedFiles().isEmpty()) {
        return {};
    }
    return files.selectedFiles().constFirst();
}

void InstallExportActions(AppWindow& window) {
    auto* actions = new ExportActions(window, std::make_unique<QtExportDialogs>(&window));
    QAction* plot = window.FileMenu->addAction(QStringLiteral("Export plot..."));
    plot->setObjectName(QStringLiteral("ExportPlotAction"));
    plot->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    QObject::connect(plot, &QAction::triggered, actions, [actions] { actions->ExportPlot(); });
    QAction* table = window.FileMenu->addAction(QStringLiteral("Export table..."));
    table->setObjectName(QStringLiteral("ExportTableAction"));
    QObject::connect(table, &QAction::triggered, actions, [actions] { actions->ExportTable(); });
}

void SetExportDialogs(AppWindow& window, std::unique_ptr<ExportDialogs> dialogs) {
    // The name is given only to the object InstallExportActions creates.
    QObject* actions = window.findChild<QObject*>(QStringLiteral("ExportActions"), Qt::FindDirectChildrenOnly);
    if (actions != nullptr) {
        static_cast<ExportActions*>(actions)->SetDialogs(std::move(dialogs));
    }
}

} // namespace ui
} // namespace dravo2
