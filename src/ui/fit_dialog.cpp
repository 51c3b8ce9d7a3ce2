#include "ui/fit_dialog.h"

#include "data/curve_import.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/number_text.h"
#include "plot/canvas.h"
#include "sweep/parameter_file.h"
#include "ui/app_window.h"
#include "ui/canvas_view.h"
#include "ui/import_actions.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
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
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace dravo2 {
inline namespace ui {
namespace {

// The colour of the best simulated loop over the measured curve.
constexpr Colour kFitColour = Rgb(0, 150, 0);

std::string Text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

QString Caption(const std::string& text) {
    return QString::fromStdString(text);
}

// The columns of the data set table before the local keys'.
constexpr int kNameColumn = 0;
constexpr int kPointsColumn = 1;
constexpr int kMisfitColumn = 2;
constexpr int kLocalColumns = 3;

std::string WithPoint(std::string text, char separator) {
    std::replace(text.begin(), text.end(), separator, '.');
    return text;
}

const std::string* OptionOf(const fit::NamedTexts& options, const std::string& key) {
    for (const auto& [name, value] : options) {
        if (name == key && !value.empty()) {
            return &value;
        }
    }
    return nullptr;
}

// The options a project keeps of how a curve was imported: columns counted from 1.
fit::NamedTexts ImportOptions(const ImportChoice& choice) {
    fit::NamedTexts options{
        {"columns", std::to_string(choice.FieldColumn + 1) + "," + std::to_string(choice.MomentColumn + 1)},
        {"field_unit", FieldUnitName(choice.Unit)}};
    if (choice.Long == LongCurve::FirstRows) {
        options.emplace_back("rows", "first");
    }
    if (choice.SigmaColumn >= 0) {
        options.emplace_back("sigma", std::to_string(choice.SigmaColumn + 1));
    }
    if (choice.MomentUnit == 1e-3) {
        options.emplace_back("moment_unit", "emu");
    } else if (choice.MomentUnit == 1) {
        options.emplace_back("moment_unit", "Am2");
    }
    return options;
}

// How a curve is imported as a project's options say: the columns and unit given, else those the
// file suggests, as dravo2-fit reads it.
ImportChoice ChoiceOf(const ParsedCurveFile& file, const fit::NamedTexts& options) {
    const ImportSuggestion suggestion = SuggestImport(file);
    ImportChoice choice;
    choice.FieldColumn = suggestion.FieldColumn;
    choice.MomentColumn = suggestion.MomentColumn;
    if (const std::string* columns = OptionOf(options, "columns")) {
        const std::size_t comma = columns->find(',');
        choice.FieldColumn = FindColumn(file, columns->substr(0, comma));
        choice.MomentColumn = comma == std::string::npos ? -1 : FindColumn(file, columns->substr(comma + 1));
    }
    if (choice.FieldColumn < 0 || choice.MomentColumn < 0) {
        throw ProgramError("The file has fewer than two columns with values");
    }
    if (const std::string* unit = OptionOf(options, "field_unit")) {
        choice.Unit = FieldUnitFromText(*unit).value_or(FieldUnit::AmperePerMetre);
    } else {
        choice.Unit = FieldUnitFromText(file.Columns[static_cast<std::size_t>(choice.FieldColumn)].Unit)
                          .value_or(FieldUnit::AmperePerMetre);
    }
    const std::string* rows = OptionOf(options, "rows");
    choice.Long = rows != nullptr && *rows == "first" ? LongCurve::FirstRows : LongCurve::Thin;
    if (const std::string* sigma = OptionOf(options, "sigma")) {
        choice.SigmaColumn = FindColumn(file, *sigma);
    }
    if (const std::string* unit = OptionOf(options, "moment_unit")) {
        choice.MomentUnit = MomentUnitFromText(*unit).value_or(0.0);
    }
    return choice;
}

// A data set's options over those every data set takes.
fit::NamedTexts Merged(const fit::NamedTexts& own, const fit::NamedTexts& shared) {
    fit::NamedTexts merged = own;
    for (const auto& [key, value] : shared) {
        if (OptionOf(own, key) == nullptr && !value.empty()) {
            merged.emplace_back(key, value);
        }
    }
    return merged;
}

QTableWidgetItem* ReadOnlyItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
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
    grid->addWidget(new QLabel(tr("Local")), 0, 1);
    grid->addWidget(new QLabel(tr("Value")), 0, 2);
    grid->addWidget(new QLabel(tr("Lower bound")), 0, 3);
    grid->addWidget(new QLabel(tr("Upper bound")), 0, 4);
    const auto& parameters = fit::FittableParameters();
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        Row row;
        row.Free = new QCheckBox(QString::fromStdString(parameters[i].Name + " (" + parameters[i].Unit + ")"));
        row.Local = new QCheckBox;
        row.Local->setToolTip(tr("One value for each data set: a column in the data sets' table; bounds left empty are "
                                 "each data set's default bounds around its own value"));
        row.Value = new QLineEdit;
        row.Value->setReadOnly(true);
        row.Lower = new QLineEdit;
        row.Upper = new QLineEdit;
        const int r = static_cast<int>(i) + 1;
        grid->addWidget(row.Free, r, 0);
        grid->addWidget(row.Local, r, 1);
        grid->addWidget(row.Value, r, 2);
        grid->addWidget(row.Lower, r, 3);
        grid->addWidget(row.Upper, r, 4);
        Rows.push_back(row);
    }
    auto* scroll = new QScrollArea;
    scroll->setWidget(table);
    scroll->setWidgetResizable(true);
    scroll->setMinimumHeight(260);
    layout->addWidget(scroll, 1);

    auto* sets = new QGroupBox(tr("Data sets"));
    auto* setsLayout = new QVBoxLayout(sets);
    DataSetTable = new QTableWidget(0, kLocalColumns, sets);
    DataSetTable->setObjectName(QStringLiteral("FitDataSets"));
    DataSetTable->setHorizontalHeaderLabels({tr("Curve"), tr("Points"), tr("Misfit")});
    DataSetTable->setMinimumHeight(90);
    setsLayout->addWidget(DataSetTable);
    auto* setButtons = new QHBoxLayout;
    AddDataSetButton = new QPushButton(tr("Add..."));
    RemoveDataSetButton = new QPushButton(tr("Remove"));
    DrawnDataSet = new QComboBox;
    DrawnDataSet->setObjectName(QStringLiteral("FitDrawnDataSet"));
    setButtons->addWidget(AddDataSetButton);
    setButtons->addWidget(RemoveDataSetButton);
    setButtons->addStretch(1);
    setButtons->addWidget(new QLabel(tr("Drawn")));
    setButtons->addWidget(DrawnDataSet);
    setsLayout->addLayout(setButtons);
    layout->addWidget(sets);
    DataSets.push_back({});
    DataSetTable->setRowCount(1);
    DataSetTable->setItem(0, kNameColumn, ReadOnlyItem(tr("the window's curve")));
    DataSetTable->setItem(0, kPointsColumn, ReadOnlyItem({}));
    DataSetTable->setItem(0, kMisfitColumn, ReadOnlyItem({}));
    DrawnDataSet->addItem(QStringLiteral("1"));

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
    connect(AddDataSetButton, &QPushButton::clicked, this, &FitDialog::AddDataSet);
    connect(RemoveDataSetButton, &QPushButton::clicked, this, &FitDialog::RemoveDataSet);
    connect(DrawnDataSet, &QComboBox::activated, this, [this](int k) { DrawDataSet(k); });
    for (Row& row : Rows) {
        connect(row.Local, &QCheckBox::toggled, this, [this, &row](bool local) {
            if (local) {
                row.Lower->clear(); // bounds of each data set's own
                row.Upper->clear();
            }
            RefreshFromModel();
            SyncLocalColumns();
        });
    }
    RefreshFromModel();
}

FitDialog::~FitDialog() {
    if (Worker.joinable()) {
        Job->Cancel();
        Worker.join();
    }
}

void FitDialog::RefreshFromModel() {
    const ParameterTexts texts = Form.Model().Texts();
    const auto& parameters = fit::FittableParameters();
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        Row& row = Rows[i];
        const std::string text = fit::ParameterText(texts, i);
        row.Value->setText(Caption(text));
        if (row.Free->isChecked() && !row.Lower->text().isEmpty()) {
            continue; // the user's bounds of a free parameter stay
        }
        if (row.Local->isChecked()) {
            // Left empty, each data set's value gets the default bounds around itself.
            row.Lower->clear();
            row.Upper->clear();
            continue;
        }
        try {
            const double value = fit::ParameterValue(texts, i, Form.Model().Separator());
            const fit::Bounds bounds = fit::DefaultBounds(parameters[i].Kind, value);
            row.Lower->setText(Caption(GeneralNumberText(bounds.Lower, 6, Form.Model().Separator())));
            row.Upper->setText(Caption(GeneralNumberText(bounds.Upper, 6, Form.Model().Separator())));
        } catch (const ProgramError&) {
            row.Lower->clear();
            row.Upper->clear();
        }
    }
}

void FitDialog::StartFit() {
    if (Job) {
        return;
    }
    RefreshFromModel();
    fit::FitRequest request;
    try {
        std::vector<fit::DataSet> sets;
        for (std::size_t k = 0; k < DataSets.size(); ++k) {
            sets.push_back(DataSetOf(k));
        }
        for (const std::size_t i : FreeRows()) {
            const bool local = Rows[i].Local->isChecked();
            if (local && Rows[i].Lower->text().trimmed().isEmpty() && Rows[i].Upper->text().trimmed().isEmpty()) {
                request.Free.push_back({i, std::nullopt, true}); // each data set's default bounds
                continue;
            }
            const fit::Bounds bounds{TextToDouble(Text(Rows[i].Lower), Form.Model().Separator()),
                                     TextToDouble(Text(Rows[i].Upper), Form.Model().Separator())};
            request.Free.push_back({i, bounds, local});
        }
        if (request.Free.empty()) {
            throw ProgramError("Check at least one parameter as free");
        }
        request.Texts = sets.front().Texts;
        request.Measured = sets.front().Measured;
        request.Simulation = sets.front().Simulation;
        if (sets.size() > 1) {
            request.DataSets = std::move(sets);
        }
        request.Settings.Evaluations = Budget->value();
        request.Settings.Threads = Threads->value();
        request.Settings.Seed = static_cast<std::uint64_t>(Seed->value());
        Job = std::make_unique<fit::FitJob>(std::move(request));
    } catch (const ProgramError& error) {
        Summary->setPlainText(QString::fromUtf8(error.what()));
        return;
    }
    LastJob.reset();
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
    Form.LockSweepControls(true);
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

fit::DataSet FitDialog::DataSetOf(std::size_t k) const {
    const DataSetEntry& entry = DataSets.at(k);
    const ExperimentData& experiment = entry.Curve ? *entry.Curve : Form.Model().Measured();
    const std::string where = DataSets.size() > 1 ? "Data set " + std::to_string(k + 1) + ": " : std::string();
    if (experiment.ExpRows < 3) {
        throw ProgramError(where + "Load or import a measured curve before fitting");
    }
    fit::DataSet set;
    set.Label = entry.Curve ? entry.File : Form.Model().MeasuredFile();
    try {
        set.Texts = TextsOf(k);
    } catch (const ProgramError& error) {
        throw ProgramError(where + error.what());
    }
    const auto rows = static_cast<std::size_t>(experiment.ExpRows);
    set.Measured.Field.assign(experiment.ExpTable.Column(1), experiment.ExpTable.Column(1) + rows);
    set.Measured.Moment.assign(experiment.ExpTable.Column(2), experiment.ExpTable.Column(2) + rows);
    if (experiment.SigmaColumn > 0) {
        const double* sigma = experiment.ExpTable.Column(experiment.SigmaColumn);
        set.Measured.Sigma.assign(sigma, sigma + rows);
    }
    set.Measured.MomentUnit = experiment.MomentUnit;
    // A data set's own background, area and observable (from a project), else the dialog's.
    std::string area = Area->text().trimmed().toStdString();
    if (const std::string* own = OptionOf(entry.Options, "area")) {
        area = *own;
    }
    if (!area.empty()) {
        const auto value = SampleAreaFromText(area);
        if (!value) {
            throw ProgramError(where + "'" + area +
                               "' is not a sample area: give a positive number with cm2, mm2 or m2");
        }
        set.Simulation.Area = *value;
    }
    set.Simulation.Newton = true;
    set.Simulation.Terms = {Slope->isChecked(), Offset->isChecked()};
    if (const std::string* background = OptionOf(entry.Options, "background")) {
        set.Simulation.Terms = {*background != "offset", *background != "slope"};
    }
    if (const std::string* observable = OptionOf(entry.Options, "observable")) {
        set.Simulation.Observable =
            *observable == "magnetoresistance" ? fit::FitObservable::Magnetoresistance : fit::FitObservable::Projection;
    }
    set.Simulation.Separator = Form.Model().Separator();
    return set;
}

std::vector<std::size_t> FitDialog::FreeRows() const {
    // The search's order of parameters changes its path, so a project's order is kept.
    std::vector<std::size_t> rows;
    for (const std::size_t i : ProjectFreeOrder) {
        if (Rows[i].Free->isChecked()) {
            rows.push_back(i);
        }
    }
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        if (Rows[i].Free->isChecked() && std::find(rows.begin(), rows.end(), i) == rows.end()) {
            rows.push_back(i);
        }
    }
    return rows;
}

std::vector<std::string> FitDialog::LocalKeys() const {
    std::vector<std::string> keys;
    for (int c = kLocalColumns; c < DataSetTable->columnCount(); ++c) {
        keys.push_back(DataSetTable->horizontalHeaderItem(c)->text().toStdString());
    }
    return keys;
}

ParameterTexts FitDialog::TextsOf(std::size_t k) const {
    std::string lines;
    for (const auto& [key, value] : DataSets.at(k).Extra) {
        lines += key + "=" + value + "\n";
    }
    const std::vector<std::string> keys = LocalKeys();
    for (std::size_t c = 0; c < keys.size(); ++c) {
        const QTableWidgetItem* cell = DataSetTable->item(static_cast<int>(k), kLocalColumns + static_cast<int>(c));
        const std::string value = cell == nullptr ? std::string() : cell->text().trimmed().toStdString();
        if (!value.empty()) {
            lines += keys[c] + "=" + WithPoint(value, Form.Model().Separator()) + "\n";
        }
    }
    return ReadParameterFile(lines, Form.Model().Texts()).Texts;
}

void FitDialog::SyncLocalColumns() {
    std::vector<std::string> wanted;
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        if (Rows[i].Local->isChecked()) {
            wanted.push_back(fit::FittableParameters()[i].Name);
        }
    }
    const std::vector<std::string> present = LocalKeys();
    if (wanted == present) {
        return;
    }
    // The cells of columns that stay keep their values; a new column starts from the panel's.
    std::vector<QStringList> kept;
    for (const std::string& key : wanted) {
        QStringList cells;
        const auto at = std::find(present.begin(), present.end(), key);
        const ParameterTexts& panel = Form.Model().Texts();
        for (int k = 0; k < DataSetTable->rowCount(); ++k) {
            if (at != present.end()) {
                const QTableWidgetItem* cell =
                    DataSetTable->item(k, kLocalColumns + static_cast<int>(at - present.begin()));
                cells.push_back(cell == nullptr ? QString() : cell->text());
            } else {
                cells.push_back(Caption(fit::ParameterText(panel, *fit::ParameterIndex(key))));
            }
        }
        kept.push_back(cells);
    }
    DataSetTable->setColumnCount(kLocalColumns + static_cast<int>(wanted.size()));
    for (std::size_t c = 0; c < wanted.size(); ++c) {
        const int column = kLocalColumns + static_cast<int>(c);
        DataSetTable->setHorizontalHeaderItem(column, new QTableWidgetItem(Caption(wanted[c])));
        for (int k = 0; k < DataSetTable->rowCount(); ++k) {
            DataSetTable->setItem(k, column, new QTableWidgetItem(kept[c][k]));
        }
    }
}

void FitDialog::AddDataSetFile(const std::string& file, const fit::NamedTexts& options, const fit::NamedTexts& own) {
    auto curve = std::make_shared<ExperimentData>();
    const ParsedCurveFile parsed = ParseCurveFile(ReadCurveFileBytes(file));
    FillExperiment(parsed, ChoiceOf(parsed, options), *curve);
    fit::NamedTexts extra;
    const std::vector<std::string> keys = LocalKeys();
    const int k = DataSetTable->rowCount();
    DataSetTable->setRowCount(k + 1);
    DataSetTable->setItem(k, kNameColumn, ReadOnlyItem(QFileInfo(Caption(file)).fileName()));
    DataSetTable->setItem(k, kPointsColumn, ReadOnlyItem({}));
    DataSetTable->setItem(k, kMisfitColumn, ReadOnlyItem({}));
    const ParameterTexts& panel = Form.Model().Texts();
    for (std::size_t c = 0; c < keys.size(); ++c) {
        DataSetTable->setItem(k, kLocalColumns + static_cast<int>(c),
                              new QTableWidgetItem(Caption(fit::ParameterText(panel, *fit::ParameterIndex(keys[c])))));
    }
    for (const auto& [key, value] : own) {
        const auto at = std::find(keys.begin(), keys.end(), key);
        if (at != keys.end()) {
            DataSetTable->item(k, kLocalColumns + static_cast<int>(at - keys.begin()))->setText(Caption(value));
        } else {
            extra.emplace_back(key, value);
        }
    }
    DataSets.push_back({file, options, extra, std::move(curve)});
    DrawnDataSet->addItem(QString::number(k + 1));
    LastJob.reset();
}

void FitDialog::AddDataSet() {
    if (Job || Window.MeasuredCurve == nullptr) {
        return;
    }
    Form.Guarded([&] {
        QString path;
        ImportChoice choice;
        auto scratch = std::make_unique<ExperimentData>();
        if (!Window.MeasuredCurve->ReadAnotherCurve(path, choice, *scratch)) {
            return;
        }
        AddDataSetFile(path.toStdString(), ImportOptions(choice), {});
    });
}

void FitDialog::RemoveDataSet() {
    const int k = DataSetTable->currentRow();
    if (Job || k < 1 || k >= static_cast<int>(DataSets.size())) {
        return;
    }
    DataSets.erase(DataSets.begin() + k);
    DataSetTable->removeRow(k);
    DrawnDataSet->removeItem(DrawnDataSet->count() - 1);
    LastJob.reset();
    DrawDataSet(DrawnDataSet->currentIndex());
}

void FitDialog::DrawDataSet(int k) {
    if (Job) {
        LatestDrawn = false; // the next poll draws it
        return;
    }
    if (LastJob && Outcome) {
        DrawLoop(Outcome->Values);
        return;
    }
    Form.Guarded([&] {
        if (k <= 0 || k >= static_cast<int>(DataSets.size())) {
            Form.ReplotExperiment();
        } else {
            Form.ReplotExperiment(*DataSets[static_cast<std::size_t>(k)].Curve);
        }
    });
}

void FitDialog::ShowDataSetResults() {
    if (!Outcome) {
        return;
    }
    const fit::FitSummary& summary = Outcome->Summary;
    for (int k = 0; k < DataSetTable->rowCount(); ++k) {
        std::optional<double> misfit = summary.MisfitAfter;
        std::size_t covered = summary.Covered;
        std::size_t total = summary.Total;
        if (!summary.DataSets.empty()) {
            const fit::DataSetSummary& own = summary.DataSets.at(static_cast<std::size_t>(k));
            misfit = own.MisfitAfter;
            covered = own.Covered;
            total = own.Total;
        }
        DataSetTable->item(k, kPointsColumn)->setText(QStringLiteral("%1/%2").arg(covered).arg(total));
        DataSetTable->item(k, kMisfitColumn)
            ->setText(misfit ? Caption(GeneralNumberText(*misfit, 4, Form.Model().Separator())) : tr("none"));
    }
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
    ProgressText->setText(tr("%1 of %2 evaluations, best misfit %3")
                              .arg(best.Evaluations)
                              .arg(TotalEvaluations)
                              .arg(std::isfinite(best.Misfit)
                                       ? Caption(GeneralNumberText(best.Misfit, 4, Form.Model().Separator()))
                                       : tr("none")));
    HistoryView->SetHistory(search.History(), TotalEvaluations);
    if (!LatestDrawn && !Latest.empty()) {
        DrawLoop(Latest);
        LatestDrawn = true;
    }
}

void FitDialog::DrawLoop(const std::vector<double>& values) {
    fit::FitJob* job = Job ? Job.get() : LastJob.get();
    if (job == nullptr) {
        return;
    }
    const fit::JointObjective& joint = job->Joint();
    std::size_t k = static_cast<std::size_t>(std::max(0, DrawnDataSet->currentIndex()));
    if (k >= joint.Count() || k >= DataSets.size()) {
        k = 0;
    }
    std::vector<double> field;
    std::vector<double> moment;
    auto scratch = std::make_unique<SimulationData>();
    const MisfitResult result = joint.Set(k).ModelCurve(joint.ValuesOf(k, values), *scratch, field, moment);
    Form.Guarded([&] {
        if (k == 0) {
            Form.ReplotExperiment();
        } else {
            Form.ReplotExperiment(*DataSets[k].Curve);
        }
        if (!result.Valid || field.empty()) {
            return;
        }
        Plot& plot = *Form.Model().Loop().PlotState;
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
        Summary->setPlainText(Caption(fit::SummaryText(Outcome->Summary, Form.Model().Separator())));
        DrawLoop(Outcome->Values);
        ShowDataSetResults();
        ApplyButton->setEnabled(true);
    }
    LastJob = std::move(Job);
    Latest.clear();
    FitButton->setEnabled(true);
    CancelButton->setEnabled(false);
    Form.LockSweepControls(false);
}

void FitDialog::ApplyFit() {
    if (!Outcome || Job) {
        return;
    }
    // Several data sets: the fitted fields of the one drawn.
    const auto drawn = static_cast<std::size_t>(std::max(0, DrawnDataSet->currentIndex()));
    const ParameterTexts& fitted = drawn < Outcome->FittedSets.size() ? Outcome->FittedSets[drawn] : Outcome->Fitted;
    WindowModel& model = Form.Model();
    const char separator = model.Separator();
    WindowModel::KeyValues values;
    for (const fit::FittedParameter& parameter : Outcome->Summary.Parameters) {
        const std::string key = parameter.Name.substr(0, parameter.Name.find('@'));
        values.emplace_back(key, fit::ParameterValue(fitted, *fit::ParameterIndex(key), separator));
    }
    // The sweep follows the first measured branch, as in the fit.
    values.emplace_back("start", TextToDouble(fitted.StartF, separator));
    values.emplace_back("step", TextToDouble(fitted.StepF, separator));
    Form.Guarded([&] { model.SetValues(values, {{"steps", fitted.Nstep}}); });
    RefreshFromModel();
    // The fit simulated with Newton's method; the window's sweep does too from now on, so that
    // Start draws the fitted loop.
    if (auto* newton = Window.findChild<QAction*>(QStringLiteral("SolverNewton"))) {
        newton->trigger();
    }
    Form.StartIfEnabled();
}

fit::Project FitDialog::CurrentProject() const {
    fit::Project project;
    const ParameterTexts& panel = Form.Model().Texts();
    const auto& table = fit::FittableParameters();
    for (std::size_t i = 0; i < table.size(); ++i) {
        project.Parameters.emplace_back(table[i].Name,
                                        WithPoint(fit::ParameterText(panel, i), Form.Model().Separator()));
    }
    project.Parameters.emplace_back("aniso", panel.UniaxialChecked ? "UA" : "QU");
    project.Parameters.emplace_back("noise", WithPoint(panel.Ramp, Form.Model().Separator()));
    project.Parameters.emplace_back("conv", WithPoint(panel.Conv, Form.Model().Separator()));
    project.Parameters.emplace_back("maxiter", panel.MaxIter);
    for (const std::size_t i : FreeRows()) {
        project.Free.push_back(table[i].Name + (Rows[i].Local->isChecked() ? "@" : ""));
        if (Rows[i].Lower->text().trimmed().isEmpty() && Rows[i].Upper->text().trimmed().isEmpty()) {
            continue; // each data set's default bounds
        }
        project.BoundsOf.push_back({table[i].Name,
                                    {TextToDouble(Text(Rows[i].Lower), Form.Model().Separator()),
                                     TextToDouble(Text(Rows[i].Upper), Form.Model().Separator())}});
    }
    project.Evaluations = Budget->value();
    project.Seed = static_cast<std::uint64_t>(Seed->value());
    project.Threads = Threads->value();
    const bool slope = Slope->isChecked();
    const bool offset = Offset->isChecked();
    project.CurveOptions = {{"background", slope && offset ? "both"
                                           : slope         ? "slope"
                                           : offset        ? "offset"
                                                           : ""},
                            {"area", Area->text().trimmed().toStdString()}};
    const std::vector<std::string> keys = LocalKeys();
    for (std::size_t k = 0; k < DataSets.size(); ++k) {
        const DataSetEntry& entry = DataSets[k];
        fit::ProjectDataSet set{entry.File, entry.Options, entry.Extra, true};
        if (k == 0) {
            set.File = Form.Model().MeasuredFile();
            const MeasuredCurveActions* measured = Window.MeasuredCurve;
            if (measured != nullptr && measured->LastImportPath().toStdString() == set.File) {
                // The window's curve as it was imported; its own comparison options stay.
                set.Options = ImportOptions(measured->LastImportChoice());
                for (const char* key : {"background", "area", "observable"}) {
                    if (const std::string* own = OptionOf(entry.Options, key)) {
                        set.Options.emplace_back(key, *own);
                    }
                }
            }
        }
        for (std::size_t c = 0; c < keys.size(); ++c) {
            const QTableWidgetItem* cell = DataSetTable->item(static_cast<int>(k), kLocalColumns + static_cast<int>(c));
            if (cell != nullptr && !cell->text().trimmed().isEmpty()) {
                set.Parameters.emplace_back(keys[c],
                                            WithPoint(cell->text().trimmed().toStdString(), Form.Model().Separator()));
            }
        }
        project.DataSets.push_back(std::move(set));
    }
    return project;
}

bool FitDialog::LoadProject(const fit::Project& project) {
    if (Job) {
        throw ProgramError("A fit is running: cancel it before opening a project");
    }
    if (project.DataSets.empty()) {
        throw ProgramError("The project has no data set");
    }
    // The fields as dravo2-fit reads them: the defaults, then the project's values.
    std::string lines;
    for (const auto& [key, value] : project.Parameters) {
        if (key != "solver") {
            lines += key + "=" + value + "\n";
        }
    }
    const ParameterFile read = ReadParameterFile(lines, ParameterTexts{});
    // Data set 1 becomes the window's curve, imported as the project says.
    const fit::ProjectDataSet& first = project.DataSets.front();
    const fit::NamedTexts firstOptions = Merged(first.Options, project.CurveOptions);
    const ParsedCurveFile parsed = ParseCurveFile(ReadCurveFileBytes(first.File));
    const ImportChoice choice = ChoiceOf(parsed, firstOptions);
    if (Window.MeasuredCurve == nullptr) {
        throw ProgramError("The window cannot import a measured curve");
    }
    Window.MeasuredCurve->ImportFile(Caption(first.File), &choice);
    if (Form.Model().MeasuredFile() != first.File) {
        return false; // the import said why
    }
    Form.SetPanelTexts(read.Texts, nullptr);
    Window.MeasuredCurve->UpdateMisfit();

    // The dialog: free and local rows, bounds, the search, then the data sets with their values.
    std::vector<bool> local(Rows.size(), false);
    for (const fit::ProjectDataSet& set : project.DataSets) {
        for (const auto& [key, value] : set.Parameters) {
            if (const auto index = fit::ParameterIndex(key)) {
                local[*index] = true;
            }
        }
    }
    for (Row& row : Rows) {
        row.Free->setChecked(false);
        row.Lower->clear();
        row.Upper->clear();
    }
    ProjectFreeOrder.clear();
    for (const std::string& name : project.Free) {
        const bool perSet = !name.empty() && name.back() == '@';
        const auto index = fit::ParameterIndex(perSet ? name.substr(0, name.size() - 1) : name);
        if (!index) {
            throw ProgramError("'" + name + "' is not a parameter a fit can free");
        }
        Rows[*index].Free->setChecked(true);
        ProjectFreeOrder.push_back(*index);
        local[*index] = local[*index] || perSet;
    }
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        const QSignalBlocker quiet(Rows[i].Local);
        Rows[i].Local->setChecked(local[i]);
    }
    RefreshFromModel();
    for (const auto& [name, range] : project.BoundsOf) {
        if (const auto index = fit::ParameterIndex(name)) {
            Rows[*index].Lower->setText(Caption(fit::ShortestText(range.Lower)));
            Rows[*index].Upper->setText(Caption(fit::ShortestText(range.Upper)));
        }
    }
    Budget->setValue(
        static_cast<int>(std::clamp<std::int64_t>(project.Evaluations, Budget->minimum(), Budget->maximum())));
    Seed->setValue(
        static_cast<int>(std::min<std::uint64_t>(project.Seed, static_cast<std::uint64_t>(Seed->maximum()))));
    if (project.Threads) {
        Threads->setValue(*project.Threads);
    }
    const std::string* background = OptionOf(project.CurveOptions, "background");
    Slope->setChecked(background != nullptr && *background != "offset");
    Offset->setChecked(background != nullptr && *background != "slope");
    const std::string* area = OptionOf(project.CurveOptions, "area");
    Area->setText(area == nullptr ? QString() : Caption(*area));

    // The table anew: the window's curve, then the others.
    Outcome.reset();
    LastJob.reset();
    ApplyButton->setEnabled(false);
    DataSets.resize(1);
    DataSetTable->setRowCount(1);
    DrawnDataSet->clear();
    DrawnDataSet->addItem(QStringLiteral("1"));
    DataSetTable->setColumnCount(kLocalColumns);
    SyncLocalColumns();
    DataSets[0] = {first.File, first.Options, {}, nullptr};
    DataSetTable->item(0, kNameColumn)->setText(QFileInfo(Caption(first.File)).fileName());
    DataSetTable->item(0, kPointsColumn)->setText({});
    DataSetTable->item(0, kMisfitColumn)->setText({});
    const std::vector<std::string> keys = LocalKeys();
    for (const auto& [key, value] : first.Parameters) {
        const auto at = std::find(keys.begin(), keys.end(), key);
        if (at != keys.end()) {
            DataSetTable->item(0, kLocalColumns + static_cast<int>(at - keys.begin()))->setText(Caption(value));
        } else {
            DataSets[0].Extra.emplace_back(key, value);
        }
    }
    for (std::size_t k = 1; k < project.DataSets.size(); ++k) {
        const fit::ProjectDataSet& set = project.DataSets[k];
        // The import options every data set takes are merged in; its own comparison options stay its own.
        fit::NamedTexts options = Merged(set.Options, project.CurveOptions);
        std::erase_if(options, [&](const auto& option) {
            return (option.first == "background" || option.first == "area") &&
                   OptionOf(set.Options, option.first) == nullptr;
        });
        AddDataSetFile(set.File, options, set.Parameters);
    }
    Summary->setPlainText(tr("Project with %1 data set(s) opened").arg(project.DataSets.size()));
    return true;
}

void InstallFitActions(AppWindow& window) {
    QAction* action = window.FitMenu->addAction(QObject::tr("Fit to measured curve..."));
    action->setObjectName(QStringLiteral("FitToMeasuredCurve"));
    QObject::connect(action, &QAction::triggered, &window, [&window] {
        auto* dialog = window.findChild<FitDialog*>(QStringLiteral("FitDialog"));
        if (dialog == nullptr) {
            dialog = new FitDialog(window);
        } else if (!dialog->Running()) {
            dialog->RefreshFromModel();
        }
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    });

    QAction* open = window.FileMenu->addAction(QObject::tr("Open project..."));
    open->setObjectName(QStringLiteral("OpenFitProject"));
    QObject::connect(open, &QAction::triggered, &window, [&window] {
        const QString path = QFileDialog::getOpenFileName(&window, QObject::tr("Open fit project"), {},
                                                          QObject::tr("Fit projects (*.json);;All files (*)"));
        if (!path.isEmpty() && OpenFitProject(window, path)) {
            TheFitDialog(window).show();
        }
    });
    QAction* save = window.FileMenu->addAction(QObject::tr("Save project..."));
    save->setObjectName(QStringLiteral("SaveFitProject"));
    QObject::connect(save, &QAction::triggered, &window, [&window] {
        const QString path = QFileDialog::getSaveFileName(&window, QObject::tr("Save fit project"), {},
                                                          QObject::tr("Fit projects (*.json);;All files (*)"));
        if (!path.isEmpty()) {
            SaveFitProject(window, path);
        }
    });
}

FitDialog& TheFitDialog(AppWindow& window) {
    auto* dialog = window.findChild<FitDialog*>(QStringLiteral("FitDialog"));
    return dialog != nullptr ? *dialog : *new FitDialog(window);
}

bool OpenFitProject(AppWindow& window, const QString& path) {
    bool opened = false;
    window.Form().Guarded([&] {
        try {
            opened = TheFitDialog(window).LoadProject(fit::ReadProjectFile(path.toStdString()));
        } catch (const ProgramError& error) {
            throw ProgramError(QFileInfo(path).fileName().toStdString() + ": " + error.what());
        }
    });
    return opened;
}

bool SaveFitProject(AppWindow& window, const QString& path) {
    bool saved = false;
    window.Form().Guarded([&] {
        const std::string file = path.toStdString();
        WriteFileSafely(file, fit::ProjectText(TheFitDialog(window).CurrentProject(), file), SpecialFiles::Refuse);
        saved = true;
    });
    return saved;
}

} // namespace ui
} // namespace dravo2
