#include "ui/import_actions.h"

#include "analysis/model_units.h"
#include "data/curve_import.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/floating_point.h"
#include "data/number_text.h"
#include "ui/app_window.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <array>
#include <cfenv>

namespace dravo2 {
inline namespace ui {
namespace {

// The local file a drag carries, if it carries exactly one.
QString DraggedFile(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls() || mime->urls().size() != 1 || !mime->urls().constFirst().isLocalFile()) {
        return {};
    }
    return mime->urls().constFirst().toLocalFile();
}

} // namespace

MeasuredCurveActions::MeasuredCurveActions(AppWindow& window, std::unique_ptr<ImportDialogs> dialogs)
    : QObject(&window), Window(window), Dialogs(std::move(dialogs)) {
    setObjectName(QStringLiteral("MeasuredCurveActions"));
    ImportAction = Window.FileMenu->addAction(tr("&Import measured curve..."));
    ImportAction->setObjectName(QStringLiteral("ImportMeasuredCurve"));
    ImportAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    connect(ImportAction, &QAction::triggered, this, [this] { ImportChosenFile(); });

    SlopeAction = Window.CompareMenu->addAction(tr("Background &slope"));
    SlopeAction->setObjectName(QStringLiteral("CompareSlope"));
    OffsetAction = Window.CompareMenu->addAction(tr("&Offset"));
    OffsetAction->setObjectName(QStringLiteral("CompareOffset"));
    for (QAction* action : {SlopeAction, OffsetAction}) {
        action->setCheckable(true);
        connect(action, &QAction::toggled, this, [this] {
            UpdateMisfit();
            if (ModelUnitsAction->isChecked()) {
                RedrawSweep();
            }
        });
    }
    AreaAction = Window.CompareMenu->addAction(tr("Sample &area..."));
    AreaAction->setObjectName(QStringLiteral("CompareSampleArea"));
    AreaAction->setToolTip(tr("A known sample area fixes the scale at the saturated moment sum(M t) A / mu0"));
    connect(AreaAction, &QAction::triggered, this, [this] {
        QString text = AreaText;
        for (;;) {
            bool accepted = false;
            text = QInputDialog::getText(&Window, tr("Sample area"),
                                         tr("The sample's area (for example 0.2947cm2, 29.47mm2 or 2.947e-5m2); "
                                            "empty for a fitted scale:"),
                                         QLineEdit::Normal, text, &accepted);
            if (!accepted || SetSampleAreaText(text)) {
                return;
            }
            QMessageBox::warning(&Window, tr("Sample area"),
                                 tr("'%1' is not an area: give a positive number with cm2, mm2 or m2.").arg(text));
        }
    });
    Window.CompareMenu->addSeparator();
    ModelUnitsAction = Window.CompareMenu->addAction(tr("Measured curve in &model units"));
    ModelUnitsAction->setObjectName(QStringLiteral("CompareModelUnits"));
    ModelUnitsAction->setCheckable(true);
    ModelUnitsAction->setChecked(true);
    connect(ModelUnitsAction, &QAction::toggled, this, [this] { RedrawSweep(); });

    TForm1& form = Window.Form();
    WindowModel& model = form.Model();
    connect(&model, &WindowModel::LoopChanged, this, [this](LoopChange change) {
        UpdateMisfit();
        SweepDrawn(change == LoopChange::Normalised);
    });
    connect(&model, &WindowModel::CurveChanged, this, &MeasuredCurveActions::UpdateMisfit);
    connect(&model, &WindowModel::MisfitChanged, this,
            [this, &model] { Window.StatusText->setText(MisfitStatusText(model.Misfit(), model.Separator())); });
    // A resized plot shows the measured curve in model units again where the sweep's drawing did.
    connect(&form, &TForm1::PlotResized, this, [this] { RedrawSweep(); });

    Window.setAcceptDrops(true);
    Window.installEventFilter(this);
    UpdateMisfit();
}

MeasuredCurveActions::~MeasuredCurveActions() = default;

bool MeasuredCurveActions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &Window && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove)) {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!DraggedFile(drag->mimeData()).isEmpty()) {
            drag->acceptProposedAction();
            return true;
        }
    } else if (watched == &Window && event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const QString path = DraggedFile(drop->mimeData());
        if (!path.isEmpty()) {
            drop->acceptProposedAction();
            // The dialog opens once the drop has finished, not inside the drag's event.
            QTimer::singleShot(0, this, [this, path] { ImportFile(path); });
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void MeasuredCurveActions::ImportChosenFile() {
    const QString path = Dialogs->OpenMeasuredCurve();
    if (!path.isEmpty()) {
        ImportFile(path);
    }
}

void MeasuredCurveActions::ImportFile(const QString& path, const ImportChoice* known) {
    TForm1& form = Window.Form();
    form.Guarded([&] {
        const ParsedCurveFile file = ParseCurveFile(ReadCurveFileBytes(path.toStdString()));
        const ImportSuggestion suggestion = SuggestImport(file);
        if (suggestion.FieldColumn < 0 || suggestion.MomentColumn < 0) {
            throw ProgramError("The file has fewer than two columns with values");
        }
        ImportChoice choice;
        choice.FieldColumn = suggestion.FieldColumn;
        choice.MomentColumn = suggestion.MomentColumn;
        choice.Unit = suggestion.StatedUnit.value_or(FieldUnit::AmperePerMetre);
        if (known != nullptr) {
            choice = *known;
        } else if (!Dialogs->ChooseImport(file, path, suggestion, choice)) {
            return;
        }
        // The dialog's own event loop may leave floating-point flags behind (Qt's layout and
        // painting are no computation of ours); the load and the drawing start from clear flags.
        ClearFloatingPointFlags();
        // FillExperiment changes nothing before it knows the import succeeds.
        FillExperiment(file, choice, form.Model().Measured());
        ImportedPath = path;
        ImportedChoice = choice;
        form.ReplotExperiment();
        form.Model().MeasuredReplaced(path.toStdString());
    });
}

bool MeasuredCurveActions::ReadAnotherCurve(QString& path, ImportChoice& choice, ExperimentData& experiment) {
    path = Dialogs->OpenMeasuredCurve();
    if (path.isEmpty()) {
        return false;
    }
    const ParsedCurveFile file = ParseCurveFile(ReadCurveFileBytes(path.toStdString()));
    const ImportSuggestion suggestion = SuggestImport(file);
    if (suggestion.FieldColumn < 0 || suggestion.MomentColumn < 0) {
        throw ProgramError("The file has fewer than two columns with values");
    }
    choice = ImportChoice{};
    choice.FieldColumn = suggestion.FieldColumn;
    choice.MomentColumn = suggestion.MomentColumn;
    choice.Unit = suggestion.StatedUnit.value_or(FieldUnit::AmperePerMetre);
    if (!Dialogs->ChooseImport(file, path, suggestion, choice)) {
        return false;
    }
    ClearFloatingPointFlags();
    FillExperiment(file, choice, experiment);
    return true;
}

bool MeasuredCurveActions::SetSampleAreaText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        Area = 0;
        AreaText.clear();
    } else if (const auto area = SampleAreaFromText(trimmed.toStdString())) {
        Area = *area;
        AreaText = trimmed;
    } else {
        return false;
    }
    AreaAction->setText(AreaText.isEmpty() ? tr("Sample &area...") : tr("Sample &area (%1)...").arg(AreaText));
    UpdateMisfit();
    if (ModelUnitsAction->isChecked()) {
        RedrawSweep();
    }
    return true;
}

void MeasuredCurveActions::UpdateMisfit() {
    // The comparison runs beside the panel's handlers, so it leaves the floating-point flags as
    // it found them: a NaN met in a table must not surface later as an error of another handler.
    std::fexcept_t flags{};
    std::fegetexceptflag(&flags, kTrappedFlags);
    WindowModel& model = Window.Form().Model();
    const ExperimentData& experiment = model.Measured();
    const LayerStack& stack = model.Loop().Session.Model.Stack;
    std::array<double, kLayers> magnetisation{};
    std::array<double, kLayers> thickness{};
    for (std::size_t i = 0; i < kLayers; ++i) {
        magnetisation[i] = static_cast<double>(stack.M[i]);
        thickness[i] = static_cast<double>(stack.t[i]);
    }
    MisfitOptions terms{SlopeAction->isChecked(), OffsetAction->isChecked()};
    const bool areaWithoutUnit = Area > 0 && !(experiment.MomentUnit > 0) && experiment.ExpRows > 0;
    if (Area > 0 && experiment.MomentUnit > 0) {
        terms.FixedScale = SaturatedMoment(magnetisation, thickness, Area, experiment.MomentUnit);
    }
    const double saturation = SaturationProjection(magnetisation, thickness);
    MisfitResult misfit =
        ComputeMisfit(MeasuredCurve(experiment), SimulatedCurve(*model.Loop().Simulation), saturation, terms);
    if (areaWithoutUnit) {
        misfit.Valid = false;
        misfit.Reason = "the sample area needs the moment's unit: import the curve again and choose it";
    }
    std::fesetexceptflag(&flags, kTrappedFlags);
    model.SetMisfit(misfit, saturation);
}

const MisfitResult& MeasuredCurveActions::LastMisfit() const {
    return Window.Form().Model().Misfit();
}

double MeasuredCurveActions::LastSaturation() const {
    return Window.Form().Model().MisfitSaturation();
}

bool MeasuredCurveActions::ShowsProjection() const {
    const WindowModel& model = Window.Form().Model();
    const Plot& plot = *model.Loop().PlotState;
    const DisplayMode mode = model.Mode();
    return (mode == DisplayMode::MvHx || mode == DisplayMode::MvHy) && plot.SimXCol == 1 && plot.SimYCol == 2 &&
           plot.ExpXCol == 1 && plot.ExpYCol == 2;
}

void MeasuredCurveActions::SweepDrawn(bool normalised) {
    const Plot& plot = *Window.Form().Model().Loop().PlotState;
    Normalised = normalised;
    if (ModelUnitsAction->isChecked() && LastMisfit().Valid && ShowsProjection()) {
        DrawSweep(true);
    }
    SweepDrawing = plot.Clears;
}

void MeasuredCurveActions::RedrawSweep() {
    const Plot& plot = *Window.Form().Model().Loop().PlotState;
    if (plot.Clears != SweepDrawing || !ShowsProjection()) {
        return; // the plot shows something else since: a replot, a fitted loop, another display
    }
    DrawSweep(ModelUnitsAction->isChecked() && LastMisfit().Valid);
    SweepDrawing = plot.Clears;
}

void MeasuredCurveActions::DrawSweep(bool modelUnits) {
    // As the comparison, the drawing leaves the floating-point flags as it found them.
    std::fexcept_t flags{};
    std::fegetexceptflag(&flags, kTrappedFlags);
    TForm1& form = Window.Form();
    WindowModel& model = form.Model();
    form.Guarded([&] {
        const ExperimentData& experiment = model.Measured();
        const SimulationData& simulation = *model.Loop().Simulation;
        Plot& plot = *model.Loop().PlotState;
        const int style = model.PointStyleItem();
        if (Normalised) {
            // The normalisation ranges the plot over the measured curve; in model units it is
            // ranged over the simulated projection the measured curve is brought to.
            const bool measured = !modelUnits && experiment.ExpRows > 0;
            const DataTable& table = measured ? experiment.ExpTable : simulation.SimTable;
            AutoRangeY(plot.Range.Bounds, table.Column(2), measured ? experiment.ExpRows : simulation.SimRows);
        }
        if (!modelUnits) {
            plot.ReplotSweep(experiment.ExpTable.Column(1), experiment.ExpTable.Column(2), experiment.ExpRows, style,
                             simulation, model.Separator());
            return;
        }
        const ModelUnitsCurve curve = MeasuredInModelUnits(MeasuredCurve(experiment), SimulatedCurve(simulation),
                                                           model.Misfit(), model.MisfitSaturation());
        plot.ReplotSweep(curve.Field.data(), curve.Value.data(), static_cast<std::int32_t>(curve.Value.size()), style,
                         simulation, model.Separator());
    });
    std::fesetexceptflag(&flags, kTrappedFlags);
}

MeasuredCurveActions* InstallImportActions(AppWindow& window) {
    return new MeasuredCurveActions(window, std::make_unique<QtImportDialogs>(&window));
}

QString MisfitStatusText(const MisfitResult& result, char separator) {
    if (!result.Valid) {
        return QStringLiteral("no misfit: ") + QString::fromStdString(result.Reason);
    }
    QString text = QStringLiteral("misfit %1 of the measured half range over %2 of %3 measured points")
                       .arg(QString::fromStdString(GeneralNumberText(result.Misfit, 3, separator)))
                       .arg(result.Covered)
                       .arg(result.Total);
    if (result.HasChiSquare) {
        const std::int32_t dof = DegreesOfFreedom(result, 0);
        text += QStringLiteral(", chi2 %1 on %2 dof (reduced %3)")
                    .arg(QString::fromStdString(GeneralNumberText(result.ChiSquare, 4, separator)))
                    .arg(dof)
                    .arg(dof > 0 ? QString::fromStdString(GeneralNumberText(result.ChiSquare / dof, 4, separator))
                                 : QStringLiteral("none"));
    }
    if (!result.Degenerate.empty()) {
        text += QStringLiteral("; ") + QString::fromStdString(DegenerateText(result));
    }
    return text;
}

} // namespace ui
} // namespace dravo2
