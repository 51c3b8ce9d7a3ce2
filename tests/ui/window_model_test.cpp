#include "data/errors.h"
#include "support/temp_folder.h"
#include "ui/app_window.h"
#include "ui/form_fixture.h"
#include "ui/window_model.h"

#include <QLabel>
#include <QScrollBar>

#include <fstream>
#include <sstream>

namespace dravo2::testing {
namespace {

// Counts what the window's model announces while the whole window works on it.
class WindowModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&Model, &WindowModel::ParametersChanged, [this] { ++ParameterChanges; });
        QObject::connect(&Model, &WindowModel::CurveChanged, [this] { ++CurveChanges; });
        QObject::connect(&Model, &WindowModel::LoopChanged, [this](LoopChange change) { Loops.push_back(change); });
        QObject::connect(&Model, &WindowModel::MisfitChanged, [this] { Misfits.push_back(Model.Misfit()); });
    }
    void Tick() { ASSERT_TRUE(QMetaObject::invokeMethod(Panel.Timer1, "timeout")); }

    RecordingReporter Reporter;
    ScriptedDialogs Files;
    std::unique_ptr<AppWindow> Window = std::make_unique<AppWindow>(Reporter, Files);
    WindowModel& Model = Window->Form().Model();
    const PanelControls& Panel = Window->Form().Controls();
    int ParameterChanges = 0;
    int CurveChanges = 0;
    std::vector<LoopChange> Loops;
    std::vector<MisfitResult> Misfits;
};

TEST_F(WindowModelTest, AnEditAndValuesSetElsewhereEachAnnounceOnceAndTheFieldsFollow) {
    Panel.Edit1J->setText(QStringLiteral("0.5e-3"));
    EXPECT_EQ(ParameterChanges, 1);
    EXPECT_EQ(Model.Texts().J1, "0.5e-3");
    EXPECT_EQ(Model.Parameters().Model.Stack.J[0], TextToReal("0.5e-3"));

    // As a fit's result is applied: values in the registry's keys, the step count as typed.
    Model.SetValues({{"K2", 250.5}, {"axis3", 45.9}, {"J1", -1e-3 / 3}}, {{"steps", "60"}});
    EXPECT_EQ(ParameterChanges, 2);
    EXPECT_EQ(Panel.Edit2K->text(), QStringLiteral("250.5"));
    EXPECT_EQ(Panel.ScrollBar3a->value(), 45);
    EXPECT_EQ(Panel.Edit_Nstep->text(), QStringLiteral("60"));
    EXPECT_EQ(TextToDouble(Panel.Edit1J->text().toStdString()), -1e-3 / 3);
    EXPECT_EQ(Panel.Edit1J->cursorPosition(), 0);

    Model.SetValues({{"K2", 250.5}}); // nothing changes: nothing is said
    EXPECT_EQ(ParameterChanges, 2);
    EXPECT_THROW(Model.SetValues({{"solver", 1}}), ProgramError);
    EXPECT_EQ(ParameterChanges, 2);
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(WindowModelTest, ANewCurveAndANewLoopEachAnnounceOnceAndTheMisfitFollows) {
    const TempFolder folder;
    std::ostringstream rows;
    for (int i = 0; i <= 40; ++i) {
        const double field = -2.5e5 + 2e3 * i;
        rows << field << ' ' << field / 2.5e5 << "\r\n";
    }
    const std::string path = folder / "curve.da2";
    std::ofstream(path, std::ios::binary) << rows.str();

    Files.OpenAnswers.push_back({QString::fromStdString(path), 1});
    Panel.BOtworzDAT->click();
    EXPECT_EQ(CurveChanges, 1);
    EXPECT_EQ(Model.MeasuredFile(), path);
    EXPECT_EQ(Model.Measured().ExpRows, 41);
    ASSERT_EQ(Misfits.size(), 1U);
    EXPECT_FALSE(Misfits.back().Valid);
    EXPECT_TRUE(Loops.empty());

    Panel.Edit_Nstep->setText(QStringLiteral("20"));
    Panel.BitBtn1_Start->click();
    EXPECT_EQ(Loops, std::vector<LoopChange>{LoopChange::Swept});
    EXPECT_EQ(Misfits.size(), 2U);
    int ticks = 0;
    while (Panel.Timer1->isActive() && ticks < 100) {
        Tick();
        ++ticks;
    }
    EXPECT_EQ(Loops.size(), static_cast<std::size_t>(1 + ticks));
    EXPECT_EQ(Misfits.size(), Loops.size() + 1);
    ASSERT_TRUE(Model.Misfit().Valid) << Model.Misfit().Reason;
    EXPECT_EQ(Model.Misfit().Covered, 10); // -248 to -230 kA/m lie within the 20 steps from -249
    EXPECT_EQ(Window->StatusText->text().toStdString().substr(0, 7), "misfit ");

    Panel.BNormalizeSim->click();
    EXPECT_EQ(Loops.back(), LoopChange::Normalised);
    EXPECT_EQ(Misfits.size(), Loops.size() + 1);
    EXPECT_EQ(CurveChanges, 1);
    EXPECT_EQ(ParameterChanges, 1);
    EXPECT_TRUE(Reporter.Messages.empty());
}

} // namespace
} // namespace dravo2::testing
