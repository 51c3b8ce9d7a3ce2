#pragma once

#include "data/curve_import.h"
#include "fit/fit_job.h"
#include "fit/project.h"

#include <QDialog>
#include <QVector>

#include <array>
#include <memory>
#include <thread>
#include <vector>

class QCheckBox;
class QComboBox;
class QTableWidget;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

namespace dravo2 {
inline namespace ui {

class AppWindow;
class TForm1;

// The best misfit against evaluations, on a logarithmic misfit scale.
class MisfitHistoryView : public QWidget {
    Q_OBJECT
public:
    explicit MisfitHistoryView(QWidget* parent);
    void SetHistory(std::vector<fit::ProgressPoint> history, std::int64_t total);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<fit::ProgressPoint> History;
    std::int64_t Total = 1;
};

// "Fit to measured curve": one row per fittable parameter (free, local, current value, bounds),
// the background terms, the budget, threads and seed, and the data sets: the curve loaded in the
// window first, then others read with the import dialog, each with its own values of the local
// parameters (a column each) and, after a fit, its misfit and point count. A parameter both free
// and local has one fitted value per data set. The fit runs on worker threads while the window
// stays usable, with Start, Reverse and Read disabled until it ends. The best loop so far of the
// data set chosen to be drawn is drawn over its measured curve; at the end the summary shows,
// and Apply writes the fitted values of that data set into the panel and runs Start.
class FitDialog : public QDialog {
    Q_OBJECT
public:
    explicit FitDialog(AppWindow& window);
    ~FitDialog() override;

    // Re-reads the window model's parameters: current values and default bounds of the rows that are
    // not free.
    void RefreshFromModel();
    bool Running() const { return Job != nullptr; }

    struct Row {
        QCheckBox* Free = nullptr;
        QCheckBox* Local = nullptr; // one value per data set
        QLineEdit* Value = nullptr;
        QLineEdit* Lower = nullptr;
        QLineEdit* Upper = nullptr;
    };
    std::vector<Row> Rows;
    QCheckBox* Slope = nullptr;
    QCheckBox* Offset = nullptr;
    QLineEdit* Area = nullptr; // the sample's area ("0.2947cm2"); empty for a fitted scale
    QSpinBox* Budget = nullptr;
    QSpinBox* Threads = nullptr;
    QSpinBox* Seed = nullptr;
    QPushButton* FitButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* ApplyButton = nullptr;
    QProgressBar* Progress = nullptr;
    QLabel* ProgressText = nullptr;
    MisfitHistoryView* HistoryView = nullptr;
    QPlainTextEdit* Summary = nullptr;
    // The data sets: name, points, misfit, then a column per local key.
    QTableWidget* DataSetTable = nullptr;
    QPushButton* AddDataSetButton = nullptr;
    QPushButton* RemoveDataSetButton = nullptr;
    QComboBox* DrawnDataSet = nullptr;

    // A measured curve besides the window's own (data set 1, whose Curve is null).
    struct DataSetEntry {
        std::string File;
        fit::NamedTexts Options; // how it is read and compared, as a project keeps it
        fit::NamedTexts Extra;   // its own values of keys the table has no column for
        std::shared_ptr<ExperimentData> Curve;
    };
    std::vector<DataSetEntry> DataSets;

    void StartFit();
    void CancelFit();
    void ApplyFit();

    // The last finished fit, for Apply (and tests).
    std::unique_ptr<fit::FitOutcome> Outcome;

    // Asks for another measured curve with the import dialog and adds it as a data set.
    void AddDataSet();
    // Removes the chosen data set (not the window's own curve).
    void RemoveDataSet();
    // Adds a data set read from `file` as `options` say; throws ProgramError or InputOutputError.
    void AddDataSetFile(const std::string& file, const fit::NamedTexts& options, const fit::NamedTexts& own);
    // Draws data set k's measured curve, with its loop at the last fitted values when there are.
    void DrawDataSet(int k);
    // The free rows in the order the fit takes them: a project's order, then the others' own.
    std::vector<std::size_t> FreeRows() const;
    // The keys with a column in the data set table, in its order.
    std::vector<std::string> LocalKeys() const;
    // Data set k's fields: the panel's with its own values set.
    ParameterTexts TextsOf(std::size_t k) const;

    // The window's set-up as a project (data set 1 is the window's curve), and the reverse.
    fit::Project CurrentProject() const;
    // Loads every data set and fills the panel and this dialog; throws on a file that fails, and
    // returns false when the window's import of data set 1 failed (and said why).
    bool LoadProject(const fit::Project& project);

signals:
    // From the worker threads; delivered on the window's thread.
    void Improved(QVector<double> values);
    void Finished();

private:
    void OnImproved(const QVector<double>& values);
    void OnFinished();
    void PollProgress();
    void DrawLoop(const std::vector<double>& values);
    void SyncLocalColumns();
    void ShowDataSetResults();
    fit::DataSet DataSetOf(std::size_t k) const;

    AppWindow& Window;
    TForm1& Form;
    std::unique_ptr<fit::FitJob> Job;
    std::unique_ptr<fit::FitJob> LastJob;      // the finished fit, whose objectives draw its loops
    std::vector<std::size_t> ProjectFreeOrder; // the free parameters of the project opened last
    std::unique_ptr<fit::FitOutcome> Pending;
    std::vector<double> Latest; // the best values reported last
    bool LatestDrawn = true;
    std::exception_ptr Failure;
    std::thread Worker;
    QTimer* Poll = nullptr;
    std::int64_t TotalEvaluations = 1;
};

// Adds "Fit" > "Fit to measured curve..." to the window, and "File" > "Open project..." and
// "Save project..." for the JSON project files of `dravo2-fit`.
void InstallFitActions(AppWindow& window);

// The window's fit dialog, made when first asked for.
FitDialog& TheFitDialog(AppWindow& window);

// Opens a project into the window and its fit dialog, or saves the window's set-up as one;
// a failure is reported as the window reports errors. Return whether it succeeded.
bool OpenFitProject(AppWindow& window, const QString& path);
bool SaveFitProject(AppWindow& window, const QString& path);

} // namespace ui
} // namespace dravo2
