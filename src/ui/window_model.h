#pragma once

#include "analysis/misfit.h"
#include "data/data_table.h"
#include "engine/model_parameters.h"
#include "sweep/display_preset.h"
#include "sweep/parameter_intake.h"
#include "sweep/sweep_driver.h"

#include <QObject>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dravo2 {
inline namespace ui {

// How the simulated loop changed.
enum class LoopChange {
    Swept,      // Start or Reverse began a branch, or a tick of the running sweep went by
    Computed,   // a loop computed whole off the interface thread is on show
    Normalised, // the projection column was divided by its first value
};

// The window's state that more than the panel works with: the parameters as the panel's fields
// hold them (texts, converted to numbers through the parameter registry when asked), the display
// mode and the point type, the measured curve, the loop (session, simulation table and plot) and
// the misfit between the two. The panel writes into it as its fields change; the dialogs, the
// import, the exports and the live loop read and change it, and hear of each change by a signal.
class WindowModel : public QObject {
    Q_OBJECT
public:
    explicit WindowModel(char separator, QObject* parent = nullptr);
    ~WindowModel() override;

    // The regional decimal separator the texts are written with.
    char Separator() const { return DecimalSeparator; }

    // The parameter fields as shown (regional separator), the magnetoresistance amplitude's text
    // and the point type: what Start is given.
    const ParameterTexts& Texts() const { return Panel.Texts; }
    const std::string& DeltaRText() const { return Panel.DeltaR; }
    const SweepParameters& Sweep() const { return Panel; }

    // The parameters in numbers, converted as Start converts them, with the session's solver and
    // the magnetoresistance amplitude. Throws the conversion's message.
    ParameterSet Parameters() const;

    // The panel's fields as they now stand; says ParametersChanged once when any differs.
    void TakeTexts(const ParameterTexts& texts, const std::string& deltaR);
    // Parameters given by key of the registry: values as the shortest texts that read back to
    // them (a whole degree, cut towards 0, for an angle), and texts as typed; then one
    // ParametersChanged. Throws ProgramError for a key the panel has no field of.
    using KeyValues = std::vector<std::pair<std::string, double>>;
    using KeyTexts = std::vector<std::pair<std::string, std::string>>;
    void SetValues(const KeyValues& values, const KeyTexts& typed = {});

    DisplayMode Mode() const { return Display; }
    void SetMode(DisplayMode mode) { Display = mode; }
    int PointStyleItem() const { return Panel.PointStyleItem; }
    void SetPointStyleItem(int item) { Panel.PointStyleItem = item; }

    // The measured curve, the file it came from and how it was read (1 .da2, 2 .dat).
    ExperimentData& Measured() { return *Experiment; }
    const ExperimentData& Measured() const { return *Experiment; }
    const std::string& MeasuredFile() const { return ExpFileName; }
    int OpenFilterIndex() const { return FilterIndex; }
    void SetOpenFilterIndex(int index) { FilterIndex = index; }
    // The curve was read anew (or cleared) from `file`: says CurveChanged.
    void MeasuredReplaced(const std::string& file);

    // The loop: session, simulation table and plot.
    SweepDriver& Loop() { return Driver; }
    const SweepDriver& Loop() const { return Driver; }
    // Says LoopChanged once the loop's rows changed.
    void LoopUpdated(LoopChange change);

    // The last comparison of the measured curve with the loop, and the saturation projection (T)
    // it divided by.
    const MisfitResult& Misfit() const { return LastMisfit; }
    double MisfitSaturation() const { return Saturation; }
    void SetMisfit(const MisfitResult& misfit, double saturation);

signals:
    void ParametersChanged();
    void CurveChanged();
    void LoopChanged(dravo2::LoopChange change);
    void MisfitChanged();

private:
    char DecimalSeparator;
    SweepParameters Panel;
    DisplayMode Display = DisplayMode::MvHx;
    SweepDriver Driver;
    std::unique_ptr<ExperimentData> Experiment = std::make_unique<ExperimentData>();
    std::string ExpFileName;
    int FilterIndex = 2;
    MisfitResult LastMisfit;
    double Saturation = 0;
};

} // namespace ui
} // namespace dravo2
