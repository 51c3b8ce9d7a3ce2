#include "ui/fit_dialog.h"

#include "data/curve_import.h"
#include "data/errors.h"
#include "data/number_text.h"
#include "plot/canvas.h"
#include "ui/app_window.h"
#include "ui/canvas_view.h"

#include <QAction>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace dravo2 {
namespace {

// The colour of the best simulated loop over the measured curve.
constexpr Colour kFitColour = Rgb(0, 150, 0);

std::string Text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

QString Caption(const std::string& text) {
    return QString::fromStdString(text);
}

// The panel's edit of a fittable parameter, or null for an angle (a scroll bar).
QLineEdit* PanelEdit(TForm1& form, std::size_t index) {
    const std::array<QLineEdit*, 18> edits{form.Edit1M,  form.Edit2M,  form.Edit3M,  form.Edit4M, form.Edit1t,
                                           form.Edit2t,  form.Edit3t,  form.Edit4t,  form.Edit1K, form.Edit2K,
                                           form.Edit3K,  form.Edit4K,  form.Edit1J,  form.Edit2J, form.Edit3J,
                                           form.Edit1J2, form.Edit2J2, form.Editbias};
    return index < edits.size() ? edits[index] : nullptr;
}

QScrollBar* PanelScrollBar(TForm1& form, std::size_t index) {
    const std::array<QScrollBar*, 5> bars{form.ScrollBar1a, form.ScrollBar2a, form.ScrollBar3a, form.ScrollBar4a,
                                          form.ScrollBarHA};
    return bars.at(index - 18);
}

} // namespace

MisfitHistoryView::MisfitHistoryView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(260, 90);
}

void MisfitHistoryView::SetHistory(std::vector<fit::ProgressPoint> history, std::int64_t total) {
    History = std::move(history);
    Total = std::max<std::int64_t>(total, 1);
    update();
}

void MisfitHistoryView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(Qt::gray);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    std::vector<fit::ProgressPoint> points;
    for (const auto& point : History) {
        if (point.Misfit > 0 && point.Misfit < 1e29) {
            points.push_back(point);
        }
    }
    if (points.empty()) {
        return;
    }
    double low = points.back().Misfit;
    double high = points.front().Misfit;
    if (!(high > low * 1.0001)) {
        high = low * 10;
    }
    const double w = width() - 8;
    const double h = height() - 8;
    auto x = [&](std::int64_t evaluations) {
        return 4 + w * static_cast<double>(evaluations) / static_cast<double>(Total);
    };
    auto y = [&](double misfit) {
        return 4 + h * (std::log(high) - std::log(misfit)) / (std::log(high) - std::log(low));
    };
    QPainterPath path;
    path.moveTo(x(points.front().Evaluations), y(points.front().Misfit));
    for (std::size_t i = 1; i < points.size(); ++i) {
        // The best misfit holds until the next improvement: a staircase.
        path.lineTo(x(points[i].Evaluations), y(points[i - 1].Misfit));
        path.lineTo(x(points[i].Evaluations), y(points[i].Misfit));
    }
    path.lineTo(x(Total), y(points.back().Misfit));
    painter.setPen(QPen(QColor(0, 150, 0), 1.5));
    painter.drawPath(path);
}

FitDialog::FitDialog(AppWindow& window) : QDialog(&window), Window(window), Form(window.Form()) {
    setObjectName(QStringLiteral("FitDialog"));
    setWindowTitle(tr("Fit to measured curve"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);

    auto* table = new QWidget;
    auto* grid = new QGridLayout(table);
    grid->addWidget(new QLabel(tr("Free")), 0, 0);
    grid->addWidget(new QLabel(tr("Value")), 0, 1);
    grid->addWidget(new QLabel(tr("Lower bound")), 0, 2);
    grid->addWidget(new QLabel(tr("Upper bound")), 0, 3);
    const auto& parameters = fit::FittableParameters();
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        Row row;
        row.Free = new QCheckBox(QString::fromStdString(parameters[i].Name + " (" + parameters[i].Unit + ")"));
        row.Value = new QLineEdit;
        row.Value->setReadOnly(true);
        row.Lower = new QLineEdit;
        row.Upper = new QLineEdit;
        const int r = static_cast<int>(i) + 1;
        grid->addWidget(row.Free, r, 0);
        grid->addWidget(row.Value, r, 1);
        grid->addWidget(row.Lower, r, 2);
        grid->addWidget(row.Upper, r, 3);
        Rows.push_back(row);
    }
    auto* scroll = new QScrollArea;
    scroll->setWidget(table);
    scroll->setWidgetResizable(true);
    scroll->setMinimumHeight(260);
    layout->addWidget(scroll, 1);

    auto* options = new QHBoxLayout;
    Slope = new QCheckBox(tr("Background slope"));
    Offset = new QCheckBox(tr("Background offset"));
    Area = new QLineEdit;
    Area->setObjectName(QStringLiteral("FitSampleArea"));
    Area->setPlaceholderText(tr("fitted scale"));
    Area->setToolTip(tr("The sample's area (0.2947cm2, mm2 or m2): the scale becomes the saturated moment "
                        "sum(M t) A / mu0, so that M and t can be fitted. Needs the moment's unit from the import."));
    Area->setMaximumWidth(110);
    Budget = new QSpinBox;
    Budget->setRange(10, 10'000'000);
    Budget->setValue(2000);
    Budget->setToolTip(tr("Evaluations of each search"));
    Threads = new QSpinBox;
    Threads->setRange(1, 256);
    Threads->setValue(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    Seed = new QSpinBox;
    Seed->setRange(0, 1'000'000'000);
    Seed->setValue(1);
    options->addWidget(Slope);
    options->addWidget(Offset);
    options->addWidget(new QLabel(tr("Sample area")));
    options->addWidget(Area);
    options->addWidget(new QLabel(tr("Budget")));
    options->addWidget(Budget);
    options->addWidget(new QLabel(tr("Threads")));
    options->addWidget(Threads);
    options->addWidget(new QLabel(tr("Seed")));
    options->addWidget(Seed);
    layout->addLayout(options);

    auto* buttons = new QHBoxLayout;
    FitButton = new QPushButton(tr("Fit"));
    CancelButton = new QPushButton(tr("Cancel"));
    CancelButton->setEnabled(false);
    ApplyButton = new QPushButton(tr("Apply"));
    ApplyButton->setEnabled(false);
    buttons->addWidget(FitButton);
    buttons->addWidget(CancelButton);
    buttons->addWidget(ApplyButton);
    layout->addLayout(buttons);

    Progress = new QProgressBar;
    Progress->setRange(0, 1000);
    Progress->setValue(0);
    ProgressText = new QLabel;
    HistoryView = new MisfitHistoryView(this);
    Summary = new QPlainTextEdit;
    Summary->setReadOnly(true);
    Summary->setMinimumHeight(110);
    layout->addWidget(Progress);
    layout->addWidget(ProgressText);
    layout->addWidget(HistoryView);
    layout->addWidget(Summary);

    Poll = new QTimer(this);
    Poll->setInterval(150);
    connect(Poll, &QTimer::timeout, this, &FitDialog::PollProgress);
    connect(FitButton, &QPushButton::clicked, this, &FitDialog::StartFit);
    connect(CancelButton, &QPushButton::clicked, this, &FitDialog::CancelFit);
    connect(ApplyButton, &QPushButton::clicked, this, &FitDialog::ApplyFit);
    connect(this, &FitDialog::Improved, this, &FitDialog::OnImproved, Qt::QueuedConnection);
    connect(this, &FitDialog::Finished, this, &FitDialog::OnFinished, Qt::QueuedConnection);
    RefreshFromPanel();
}

FitDialog::~FitDialog() {
    if (Worker.joinable()) {
        Job->Cancel();
        Worker.join();
    }
}

void FitDialog::RefreshFromPanel() {
    const ParameterTexts texts = Form.PanelTexts();
    const auto& parameters = fit::FittableParameters();
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        Row& row = Rows[i];
        const std::string text = fit::ParameterText(texts, i);
        row.Value->setText(Caption(text));
        if (row.Free->isChecked() && !row.Lower->text().isEmpty()) {
            continue; // the user's bounds of a free parameter stay
        }
        try {
            const double value = fit::ParameterValue(texts, i, Form.Separator);
            const fit::Bounds bounds = fit::DefaultBounds(parameters[i].Kind, value);
            row.Lower->setText(Caption(GeneralNumberText(bounds.Lower, 6, Form.Separator)));
            row.Upper->setText(Caption(GeneralNumberText(bounds.Upper, 6, Form.Separator)));
        } catch (const ProgramError&) {
            row.Lower->clear();
            row.Upper->clear();
        }
    }
}

void FitDialog::SetPanelLocked(bool locked) {
    const std::array<QWidget*, 3> controls{Form.BitBtn1_Start, Form.SB2_Reverse, Form.BOtworzDAT};
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (locked) {
            WasEnabled[i] = controls[i]->isEnabled();
            controls[i]->setEnabled(false);
        } else {
            controls[i]->setEnabled(WasEnabled[i]);
        }
    }
    if (!locked) {
        // A sweep that ended meanwhile frees Start; one still running keeps it disabled.
        Form.BitBtn1_Start->setEnabled(!Form.Driver.IsRunning());
    }
}

void FitDialog::StartFit() {
    if (Job) {
        return;
    }
    RefreshFromPanel();
    const ExperimentData& experiment = *Form.Experiment;
    fit::FitRequest request;
    try {
        if (experiment.ExpRows < 3) {
            throw ProgramError("Load or import a measured curve before fitting");
        }
        request.Texts = Form.PanelTexts();
        const auto rows = static_cast<std::size_t>(experiment.ExpRows);
        request.Measured.Field.assign(experiment.ExpTable.Column(1), experiment.ExpTable.Column(1) + rows);
        request.Measured.Moment.assign(experiment.ExpTable.Column(2), experiment.ExpTable.Column(2) + rows);
        if (experiment.SigmaColumn > 0) {
            const double* sigma = experiment.ExpTable.Column(experiment.SigmaColumn);
            request.Measured.Sigma.assign(sigma, sigma + rows);
        }
        request.Measured.MomentUnit = experiment.MomentUnit;
        if (const QString area = Area->text().trimmed(); !area.isEmpty()) {
            const auto value = SampleAreaFromText(area.toStdString());
            if (!value) {
                throw ProgramError("'" + area.toStdString() +
                                   "' is not a sample area: give a positive number with cm2, mm2 or m2");
            }
            request.Simulation.Area = *value;
        }
        for (std::size_t i = 0; i < Rows.size(); ++i) {
            if (Rows[i].Free->isChecked()) {
                const fit::Bounds bounds{TextToDouble(Text(Rows[i].Lower), Form.Separator),
                                         TextToDouble(Text(Rows[i].Upper), Form.Separator)};
                request.Free.push_back({i, bounds});
            }
        }
        if (request.Free.empty()) {
            throw ProgramError("Check at least one parameter as free");
        }
        request.Simulation.Newton = true;
        request.Simulation.Terms = {Slope->isChecked(), Offset->isChecked()};
        request.Simulation.Separator = Form.Separator;
        request.Settings.Evaluations = Budget->value();
        request.Settings.Threads = Threads->value();
        request.Settings.Seed = static_cast<std::uint64_t>(Seed->value());
        Job = std::make_unique<fit::FitJob>(std::move(request));
    } catch (const ProgramError& error) {
        Summary->setPlainText(QString::fromUtf8(error.what()));
        return;
    }
    Job->TheSearch().OnImprovement = [this](std::int64_t, double, const std::vector<double>& values) {
        emit Improved(QVector<double>(values.begin(), values.end()));
    };
    TotalEvaluations = static_cast<std::int64_t>(Budget->value()) * Job->TheSearch().ThreadCount();
    Outcome.reset();
    Failure = nullptr;
    Summary->setPlainText(tr("Fitting..."));
    HistoryView->SetHistory({}, TotalEvaluations);
    FitButton->setEnabled(false);
    ApplyButton->setEnabled(false);
    CancelButton->setEnabled(true);
    SetPanelLocked(true);
    Worker = std::thread([this] {
        try {
            Pending = std::make_unique<fit::FitOutcome>(Job->Run());
        } catch (...) {
            Failure = std::current_exception();
        }
        emit Finished();
    });
    Poll->start();
}

void FitDialog::CancelFit() {
    if (Job) {
        Job->Cancel();
        CancelButton->setEnabled(false);
    }
}

void FitDialog::OnImproved(const QVector<double>& values) {
    Latest.assign(values.begin(), values.end());
    LatestDrawn = false;
}

void FitDialog::PollProgress() {
    if (!Job) {
        return;
    }
    const fit::Search& search = Job->TheSearch();
    const fit::ProgressPoint best = search.Best();
    Progress->setValue(
        static_cast<int>(std::min<std::int64_t>(best.Evaluations, TotalEvaluations) * 1000 / TotalEvaluations));
    ProgressText->setText(
        tr("%1 of %2 evaluations, best misfit %3")
            .arg(best.Evaluations)
            .arg(TotalEvaluations)
            .arg(std::isfinite(best.Misfit) ? Caption(GeneralNumberText(best.Misfit, 4, Form.Separator)) : tr("none")));
    HistoryView->SetHistory(search.History(), TotalEvaluations);
    if (!LatestDrawn && !Latest.empty()) {
        DrawLoop(Latest);
        LatestDrawn = true;
    }
}

void FitDialog::DrawLoop(const std::vector<double>& values) {
    if (!Job) {
        return;
    }
    std::vector<double> field;
    std::vector<double> moment;
    auto scratch = std::make_unique<SimulationData>();
    const MisfitResult result = Job->Objective().ModelCurve(values, *scratch, field, moment);
    Form.Guarded([&] {
        Form.ReplotExperiment();
        if (!result.Valid || field.empty()) {
            return;
        }
        Plot& plot = *Form.Driver.PlotState;
        Canvas& image = plot.Image;
        const Colour pen = image.PenColour;
        image.PenColour = kFitColour;
        image.MoveTo(plot.Range.WorldToPixelX(field[0]), plot.Range.WorldToPixelY(moment[0]));
        for (std::size_t i = 1; i < field.size(); ++i) {
            image.LineTo(plot.Range.WorldToPixelX(field[i]), plot.Range.WorldToPixelY(moment[i]));
        }
        image.PenColour = pen;
    });
}

void FitDialog::OnFinished() {
    Poll->stop();
    if (Worker.joinable()) {
        Worker.join();
    }
    PollProgress();
    if (Failure) {
        try {
            std::rethrow_exception(Failure);
        } catch (const std::exception& error) {
            Summary->setPlainText(QString::fromUtf8(error.what()));
        }
    } else if (Pending) {
        Outcome = std::move(Pending);
        Summary->setPlainText(Caption(fit::SummaryText(Outcome->Summary, Form.Separator)));
        DrawLoop(Outcome->Values);
        ApplyButton->setEnabled(true);
    }
    Job.reset();
    Latest.clear();
    FitButton->setEnabled(true);
    CancelButton->setEnabled(false);
    SetPanelLocked(false);
}

void FitDialog::ApplyFit() {
    if (!Outcome || Job) {
        return;
    }
    const ParameterTexts& fitted = Outcome->Fitted;
    for (const fit::FittedParameter& parameter : Outcome->Summary.Parameters) {
        const std::size_t index = *fit::ParameterIndex(parameter.Name);
        if (QLineEdit* edit = PanelEdit(Form, index)) {
            Form.WriteValue(edit, fit::ParameterValue(fitted, index, Form.Separator));
        } else {
            PanelScrollBar(Form, index)->setValue(static_cast<int>(fit::ParameterValue(fitted, index)));
        }
    }
    // The sweep follows the first measured branch, as in the fit.
    Form.WriteValue(Form.Edit_startF, TextToDouble(fitted.StartF, Form.Separator));
    Form.Edit_Nstep->setText(Caption(fitted.Nstep));
    TForm1::ShowFromStart(Form.Edit_Nstep);
    Form.WriteValue(Form.Edit_stepF, TextToDouble(fitted.StepF, Form.Separator));
    RefreshFromPanel();
    // The fit simulated with Newton's method; the window's sweep does too from now on, so that
    // Start draws the fitted loop.
    if (auto* newton = Window.findChild<QAction*>(QStringLiteral("SolverNewton"))) {
        newton->trigger();
    }
    if (Form.BitBtn1_Start->isEnabled()) {
        Form.BitBtn1_Start->click();
    }
}

void InstallFitActions(AppWindow& window) {
    QAction* action = window.FitMenu->addAction(QObject::tr("Fit to measured curve..."));
    action->setObjectName(QStringLiteral("FitToMeasuredCurve"));
    QObject::connect(action, &QAction::triggered, &window, [&window] {
        auto* dialog = window.findChild<FitDialog*>(QStringLiteral("FitDialog"));
        if (dialog == nullptr) {
            dialog = new FitDialog(window);
        } else if (!dialog->Running()) {
            dialog->RefreshFromPanel();
        }
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    });
}

} // namespace dravo2
