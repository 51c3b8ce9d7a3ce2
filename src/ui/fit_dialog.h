#pragma once

#include "fit/fit_job.h"

#include <QDialog>
#include <QVector>

#include <array>
#include <memory>
#include <thread>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

namespace dravo2 {

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

// "Fit to measured curve": one row per fittable parameter (free, current value, bounds), the
// background terms, the budget, threads and seed; the fit runs on worker threads while the
// window stays usable, with Start, Reverse and Read disabled until it ends. The best loop so far
// is drawn over the measured curve; at the end the summary shows, and Apply writes the fitted
// values into the panel and runs Start.
class FitDialog : public QDialog {
    Q_OBJECT
public:
    explicit FitDialog(AppWindow& window);
    ~FitDialog() override;

    // Re-reads the panel: current values and default bounds of the rows that are not free.
    void RefreshFromPanel();
    bool Running() const { return Job != nullptr; }

    struct Row {
        QCheckBox* Free = nullptr;
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

    void StartFit();
    void CancelFit();
    void ApplyFit();

    // The last finished fit, for Apply (and tests).
    std::unique_ptr<fit::FitOutcome> Outcome;

signals:
    // From the worker threads; delivered on the window's thread.
    void Improved(QVector<double> values);
    void Finished();

private:
    void OnImproved(const QVector<double>& values);
    void OnFinished();
    void PollProgress();
    void DrawLoop(const std::vector<double>& values);
    void SetPanelLocked(bool locked);

    AppWindow& Window;
    TForm1& Form;
    std::unique_ptr<fit::FitJob> Job;
    std::unique_ptr<fit::FitOutcome> Pending;
    std::vector<double> Latest; // the best values reported last
    bool LatestDrawn = true;
    std::exception_ptr Failure;
    std::thread Worker;
    QTimer* Poll = nullptr;
    std::int64_t TotalEvaluations = 1;
    std::array<bool, 3> WasEnabled{};
};

// Adds "Fit" > "Fit to measured curve..." to the window.
void InstallFitActions(AppWindow& window);

} // namespace dravo2
