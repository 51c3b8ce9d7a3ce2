#include "ui/session_actions.h"

#include "data/errors.h"
#include "data/file_io.h"
#include "sweep/parameter_file.h"
#include "ui/app_window.h"
#include "ui/import_actions.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStatusBar>

#include <algorithm>
#include <iterator>

namespace dravo2 {
inline namespace ui {
namespace {

constexpr int kRecentFiles = 8;
const QString kParameterFilter = QStringLiteral("Parameter sets (*.txt *.par);;All files (*)");

class QtParameterDialogs : public ParameterDialogs {
public:
    explicit QtParameterDialogs(QWidget* parent) : Parent(parent) {}
    QString OpenParameters(const QString& name) override {
        return QFileDialog::getOpenFileName(Parent, QObject::tr("Open parameters"), name, kParameterFilter);
    }
    QString SaveParameters(const QString& name) override {
        return QFileDialog::getSaveFileName(Parent, QObject::tr("Save parameters"), name, kParameterFilter);
    }

private:
    QWidget* Parent;
};

// The display mode of a mode's name as the sweep command writes it.
std::optional<DisplayMode> ModeNamed(const std::string& name) {
    const std::pair<const char*, DisplayMode> modes[] = {{"MvHx", DisplayMode::MvHx},
                                                         {"MvHy", DisplayMode::MvHy},
                                                         {"theta-theta", DisplayMode::ThetaTheta},
                                                         {"DeltaR", DisplayMode::DeltaR},
                                                         {"FMR", DisplayMode::Fmr}};
    for (const auto& [key, mode] : modes) {
        if (name == key) {
            return mode;
        }
    }
    return std::nullopt;
}

} // namespace

SessionActions::SessionActions(AppWindow& window, std::unique_ptr<ParameterDialogs> dialogs)
    : QObject(&window), Window(window), Dialogs(std::move(dialogs)) {
    setObjectName(QStringLiteral("SessionActions"));
    QMenu* file = Window.FileMenu;
    QAction* first = file->actions().value(0);
    OpenAction = new QAction(tr("&Open parameters..."), this);
    OpenAction->setObjectName(QStringLiteral("OpenParameters"));
    OpenAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+O")));
    SaveAction = new QAction(tr("&Save parameters..."), this);
    SaveAction->setObjectName(QStringLiteral("SaveParameters"));
    SaveAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    RecentMenu = new QMenu(tr("Recent &parameter files"), file);
    RecentMenu->setObjectName(QStringLiteral("RecentParameters"));
    RestoreAction = new QAction(tr("Restore &last session"), this);
    RestoreAction->setObjectName(QStringLiteral("RestoreSession"));
    ResetAction = new QAction(tr("Reset to &defaults"), this);
    ResetAction->setObjectName(QStringLiteral("ResetToDefaults"));
    // The parameter set's actions come after the measured curve's, before the exports.
    QAction* before = first != nullptr ? file->actions().value(1) : nullptr;
    file->insertActions(before, {OpenAction, SaveAction});
    file->insertMenu(before, RecentMenu);
    file->insertActions(before, {RestoreAction, ResetAction});
    file->insertSeparator(before);
    file->addSeparator();
    QuitAction = file->addAction(tr("&Quit"));
    QuitAction->setObjectName(QStringLiteral("Quit"));
    QuitAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));

    StartAction = new QAction(tr("&Start"), this);
    StartAction->setObjectName(QStringLiteral("StartAction"));
    StartAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
    Window.SweepMenu->insertAction(Window.SweepMenu->actions().value(0), StartAction);

    connect(OpenAction, &QAction::triggered, this, &SessionActions::OpenChosenFile);
    connect(SaveAction, &QAction::triggered, this, &SessionActions::SaveChosenFile);
    connect(RestoreAction, &QAction::triggered, this, &SessionActions::RestoreSession);
    connect(ResetAction, &QAction::triggered, this, &SessionActions::ResetToDefaults);
    connect(QuitAction, &QAction::triggered, &Window, &QWidget::close);
    connect(StartAction, &QAction::triggered, this, [this] { Window.Form().StartIfEnabled(); });
    RebuildRecentMenu();
}

SessionActions::~SessionActions() = default;

void SessionActions::OpenChosenFile() {
    const QString path = Dialogs->OpenParameters(LastName);
    if (!path.isEmpty()) {
        OpenFile(path);
    }
}

void SessionActions::SaveChosenFile() {
    const QString path = Dialogs->SaveParameters(LastName);
    if (!path.isEmpty()) {
        SaveFile(path);
    }
}

void SessionActions::ChooseSolver(bool newton) {
    const QString name = newton ? QStringLiteral("SolverNewton") : QStringLiteral("SolverDescent");
    if (auto* action = Window.findChild<QAction*>(name); action != nullptr && !action->isChecked()) {
        action->trigger();
    }
}

bool SessionActions::OpenFile(const QString& path) {
    TForm1& form = Window.Form();
    bool opened = false;
    int sets = 0;
    form.Guarded([&] {
        ParameterFile read;
        try {
            // The keys a file leaves out keep the panel's values.
            ParameterTexts base = form.Model().Texts();
            read = ReadParameterFile(ReadWholeFile(path.toStdString()), base);
        } catch (const ProgramError& error) {
            throw ProgramError(QFileInfo(path).fileName().toStdString() + ": " + error.what());
        }
        if (read.Solver) {
            ChooseSolver(*read.Solver == SolverMethod::Newton);
        }
        if (read.Mode) {
            if (const std::optional<DisplayMode> mode = ModeNamed(*read.Mode)) {
                form.ChooseDisplayMode(*mode);
            }
        }
        form.SetPanelTexts(read.Texts, read.DeltaR ? &*read.DeltaR : nullptr);
        sets = read.DataSets;
        opened = true;
    });
    if (opened) {
        LastName = path;
        Remember(path);
        if (sets > 1) {
            // A joint fit's output: its shared values and data set 1's own ones are in the panel.
            Window.statusBar()->showMessage(tr("%1 holds the values of %2 data sets: those of data set 1 were taken")
                                                .arg(QFileInfo(path).fileName())
                                                .arg(sets));
        }
    }
    return opened;
}

bool SessionActions::SaveFile(const QString& path) {
    TForm1& form = Window.Form();
    bool saved = false;
    form.Guarded([&] {
        // A set that would not open again is not written: the fields are converted as Start does.
        const WindowModel& model = form.Model();
        model.Parameters();
        const std::string text =
            ParameterFileText(model.Texts(), model.DeltaRText(), model.Loop().Session.Solver.Method, model.Separator());
        WriteFileSafely(path.toStdString(), text, SpecialFiles::Refuse);
        saved = true;
    });
    if (saved) {
        LastName = path;
        Remember(path);
    }
    return saved;
}

void SessionActions::ResetToDefaults() {
    ChooseSolver(false);
    const std::string deltaR = kDefaultDeltaRText;
    Window.Form().SetPanelTexts(ParameterTexts{}, &deltaR);
}

void SessionActions::SetSettingsFile(const QString& path) {
    SettingsFile = path;
    if (!SettingsFile.isEmpty()) {
        const QSettings settings(SettingsFile, QSettings::IniFormat);
        Recent = settings.value(QStringLiteral("recentParameterFiles")).toStringList();
        RebuildRecentMenu();
    }
}

void SessionActions::SaveSession() {
    if (SettingsFile.isEmpty()) {
        return;
    }
    const WindowModel& model = Window.Form().Model();
    QSettings settings(SettingsFile, QSettings::IniFormat);
    settings.setValue(QStringLiteral("session/parameters"),
                      QString::fromStdString(ParameterFileText(model.Texts(), model.DeltaRText(),
                                                               model.Loop().Session.Solver.Method, model.Separator())));
    const QString measured = QString::fromStdString(model.MeasuredFile());
    settings.setValue(QStringLiteral("session/measuredFile"), model.Measured().ExpRows > 0 ? measured : QString());
    const MeasuredCurveActions* curve = Window.MeasuredCurve;
    const bool imported = curve != nullptr && !measured.isEmpty() && curve->LastImportPath() == measured;
    settings.setValue(QStringLiteral("session/measuredRead"),
                      imported ? QStringLiteral("import") : QString::number(model.OpenFilterIndex()));
    if (imported) {
        const ImportChoice& choice = curve->LastImportChoice();
        settings.setValue(
            QStringLiteral("session/importColumns"),
            QStringLiteral("%1,%2,%3").arg(choice.FieldColumn).arg(choice.MomentColumn).arg(choice.SigmaColumn));
        settings.setValue(QStringLiteral("session/importUnit"), static_cast<int>(choice.Unit));
        settings.setValue(QStringLiteral("session/importRows"), static_cast<int>(choice.Long));
        settings.setValue(QStringLiteral("session/importMomentUnit"), choice.MomentUnit);
    }
    settings.setValue(QStringLiteral("recentParameterFiles"), Recent);
}

bool SessionActions::RestoreSession() {
    TForm1& form = Window.Form();
    if (SettingsFile.isEmpty()) {
        form.Guarded([] { throw ProgramError("No session was kept"); });
        return false;
    }
    const QSettings settings(SettingsFile, QSettings::IniFormat);
    const QString parameters = settings.value(QStringLiteral("session/parameters")).toString();
    if (parameters.isEmpty()) {
        form.Guarded([] { throw ProgramError("No session was kept"); });
        return false;
    }
    bool restored = false;
    form.Guarded([&] {
        const ParameterFile read = ReadParameterFile(parameters.toStdString());
        ChooseSolver(read.Solver == SolverMethod::Newton);
        form.SetPanelTexts(read.Texts, read.DeltaR ? &*read.DeltaR : nullptr);
        restored = true;
    });
    const QString measured = settings.value(QStringLiteral("session/measuredFile")).toString();
    if (restored && !measured.isEmpty()) {
        const QString how = settings.value(QStringLiteral("session/measuredRead")).toString();
        if (how == QStringLiteral("import") && Window.MeasuredCurve != nullptr) {
            ImportChoice choice;
            const QStringList columns = settings.value(QStringLiteral("session/importColumns")).toString().split(',');
            if (columns.size() == 3) {
                choice.FieldColumn = columns[0].toInt();
                choice.MomentColumn = columns[1].toInt();
                choice.SigmaColumn = columns[2].toInt();
            }
            const int unit = settings.value(QStringLiteral("session/importUnit")).toInt();
            choice.Unit = kFieldUnits[static_cast<std::size_t>(
                std::clamp(unit, 0, static_cast<int>(std::size(kFieldUnits)) - 1))];
            choice.Long = settings.value(QStringLiteral("session/importRows")).toInt() == 1 ? LongCurve::FirstRows
                                                                                            : LongCurve::Thin;
            choice.MomentUnit = settings.value(QStringLiteral("session/importMomentUnit")).toDouble();
            Window.MeasuredCurve->ImportFile(measured, &choice);
        } else {
            form.Guarded([&] { form.LoadExperimentFile(measured, how.toInt() == 1 ? 1 : 2); });
        }
    }
    return restored;
}

void SessionActions::Remember(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    Recent.removeAll(full);
    Recent.prepend(full);
    while (Recent.size() > kRecentFiles) {
        Recent.removeLast();
    }
    RebuildRecentMenu();
    if (!SettingsFile.isEmpty()) {
        QSettings(SettingsFile, QSettings::IniFormat).setValue(QStringLiteral("recentParameterFiles"), Recent);
    }
}

void SessionActions::RebuildRecentMenu() {
    RecentMenu->clear();
    for (const QString& path : Recent) {
        QAction* action = RecentMenu->addAction(QFileInfo(path).fileName());
        action->setToolTip(path);
        connect(action, &QAction::triggered, this, [this, path] { OpenFile(path); });
    }
    RecentMenu->setEnabled(!Recent.isEmpty());
}

SessionActions* InstallSessionActions(AppWindow& window) {
    return new SessionActions(window, std::make_unique<QtParameterDialogs>(&window));
}

} // namespace ui
} // namespace dravo2
