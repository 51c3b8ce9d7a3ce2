#include "cli/sweep_command.h"
#include "ui/app_window.h"
#include "ui/form_fixture.h"
#include "ui/resonance_modes_view.h"

#include <QAction>
#include <QImage>
#include <QMenu>

#include <cmath>
#include <sstream>

namespace dravo2::testing {
namespace {

TEST(ResonanceModesView, FollowsStartAndReverseWithTheCommandsModesAndDrawsThem) {
    RecordingReporter reporter;
    ScriptedDialogs dialogs;
    AppWindow window(reporter, dialogs);
    TForm1& form = window.Form();
    auto* action = window.findChild<QAction*>(QStringLiteral("ResonanceModes"));
    auto* view = window.findChild<ResonanceModesView*>(QStringLiteral("ResonanceModesView"));
    ASSERT_NE(action, nullptr);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(window.SweepMenu->actions().contains(action));
    EXPECT_FALSE(view->isVisible());

    auto runSweep = [&form] {
        while (form.Controls().Timer1->isActive()) {
            form.Guarded([&form] { form.Timer1Timer(); });
        }
    };
    // Steps recorded before the view opens are drawn too; a second Start begins afresh. Newton
    // reaches the same minima whatever noise the generator, which goes on from the first Start, draws.
    window.findChild<QAction*>(QStringLiteral("SolverNewton"))->trigger();
    form.Controls().Edit_Nstep->setText(QStringLiteral("25"));
    form.Controls().BitBtn1_Start->click();
    runSweep();
    form.Controls().Edit_Nstep->setText(QStringLiteral("40"));
    form.Controls().BitBtn1_Start->click();
    for (int tick = 0; tick < 10; ++tick) {
        form.Guarded([&form] { form.Timer1Timer(); });
    }
    action->trigger();
    EXPECT_TRUE(view->isVisible());
    runSweep();
    form.Controls().SB2_Reverse->click();
    runSweep();
    ASSERT_TRUE(reporter.Messages.empty());

    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(
        RunSweepCommand({"steps=40", "--reverse", "solver=newton", "--format", "csv", "--modes"}, out, err, false), 0);
    std::istringstream csv(out.str());
    std::string line;
    std::getline(csv, line);
    const std::vector<ModeRow> modes = view->Modes();
    ASSERT_EQ(modes.size(), 80U);
    for (const ModeRow& row : modes) {
        ASSERT_TRUE(std::getline(csv, line));
        for (int column = 0; column < 9; ++column) {
            line.erase(0, line.find(',') + 1);
        }
        std::istringstream cells(line + ",");
        for (const double f : row) {
            std::string cell;
            ASSERT_TRUE(std::getline(cells, cell, ','));
            if (std::isnan(f)) {
                EXPECT_EQ(cell, "");
            } else {
                EXPECT_NEAR(f, std::stod(cell), 1e-9 * f);
            }
        }
    }

    // Something besides the white background and the black frame: the modes' lines.
    const QImage image = view->grab().toImage();
    bool coloured = false;
    for (int y = 0; y < image.height() && !coloured; ++y) {
        for (int x = 0; x < image.width() && !coloured; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            coloured = pixel.saturation() > 100;
        }
    }
    EXPECT_TRUE(coloured);
}

} // namespace
} // namespace dravo2::testing
