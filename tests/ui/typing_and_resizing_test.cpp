#include "ui/app_window.h"
#include "ui/canvas_view.h"
#include "ui/form_fixture.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>

#include <vector>

namespace dravo2::testing {
namespace {

class WindowTest : public ::testing::Test {
protected:
    RecordingReporter Reporter;
    ScriptedDialogs Dialogs;
    std::unique_ptr<AppWindow> Window = std::make_unique<AppWindow>(Reporter, Dialogs);
    TForm1& Form = Window->Form();

    // One key as the keyboard delivers it to a field.
    static void Key(QLineEdit* edit, QChar character) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QApplication::sendEvent(edit, &press);
    }
    static bool Marked(const QLineEdit* edit) { return edit->styleSheet().contains(QStringLiteral("red")); }
    QString StatusMessage() const { return Window->statusBar()->currentMessage(); }
};

TEST_F(WindowTest, TypingANegativeFieldKeepsEveryKeyAndMarksTheFieldUntilItConverts) {
    Form.Controls().Edit_startF->clear();
    Form.Controls().Edit_startF->setFocus();
    const QString typed = QStringLiteral("-6000");
    for (qsizetype i = 0; i < typed.size(); ++i) {
        Key(Form.Controls().Edit_startF, typed[i]);
        SCOPED_TRACE(Form.Controls().Edit_startF->text().toStdString());
        EXPECT_EQ(Form.Controls().Edit_startF->text(), typed.left(i + 1));
        EXPECT_EQ(Marked(Form.Controls().Edit_startF), i == 0);
        EXPECT_EQ(StatusMessage().contains(QStringLiteral("'-' is not a valid floating point value")), i == 0);
    }
    EXPECT_TRUE(Reporter.Messages.empty());
    EXPECT_EQ(Form.Model().Loop().Session.StartKiloAmperesPerMetre, -6000);
    EXPECT_EQ(Form.Controls().Label_endF->text(), QStringLiteral("fin. field: -5500 kA/m"));
    EXPECT_TRUE(StatusMessage().isEmpty());

    // The message box comes where the value is used.
    Form.Controls().Edit_stepF->clear();
    Key(Form.Controls().Edit_stepF, QLatin1Char('2'));
    Key(Form.Controls().Edit_stepF, QLatin1Char('e'));
    EXPECT_TRUE(Marked(Form.Controls().Edit_stepF));
    EXPECT_TRUE(Reporter.Messages.empty());
    Form.Controls().BitBtn1_Start->click();
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{"'2e' is not a valid floating point value"});
    EXPECT_FALSE(Form.Controls().Timer1->isActive());
    Form.Controls().SB2_Reverse->click();
    EXPECT_EQ(Reporter.Messages.size(), 2U);
    EXPECT_FALSE(Form.Controls().Timer1->isActive());
}

TEST_F(WindowTest, TheStatusBarNamesTheFirstFieldThatDoesNotConvert) {
    Form.Controls().Edit_sp_maxiter->setText(QStringLiteral("66.6"));
    Form.Controls().Edit2K->setText(QStringLiteral("1O0"));
    EXPECT_TRUE(Marked(Form.Controls().Edit2K));
    EXPECT_TRUE(Marked(Form.Controls().Edit_sp_maxiter));
    EXPECT_EQ(StatusMessage(),
              QStringLiteral("2nd layer anisotropy [J/m^3]: '1O0' is not a valid floating point value"));
    Form.Controls().Edit2K->setText(QStringLiteral("100"));
    EXPECT_FALSE(Marked(Form.Controls().Edit2K));
    EXPECT_EQ(StatusMessage(), QStringLiteral("max iterations: '66.6' is not a valid integer value"));
    Form.Controls().Edit_sp_maxiter->setText(QStringLiteral("6660"));
    EXPECT_TRUE(StatusMessage().isEmpty());
    EXPECT_EQ(Form.Controls().Edit_sp_maxiter->toolTip(), QStringLiteral("max iterations")); // the default text again
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(WindowTest, WrittenValuesAreShortestShownFromTheSignAndWholeInTheHint) {
    for (const double value : {-0.0002562739599393067, 2e-9, -1234.5678901234567, 1e-3 / 3}) {
        SCOPED_TRACE(value);
        Form.Model().SetValues({{"J1", value}});
        EXPECT_EQ(TextToDouble(Form.Controls().Edit1J->text().toStdString()), value);
        EXPECT_EQ(Form.Controls().Edit1J->text().toStdString(), ShortestNumberText(value));
        EXPECT_EQ(Form.Controls().Edit1J->cursorPosition(), 0);
        EXPECT_EQ(Form.Controls().Edit1J->toolTip(),
                  QStringLiteral("1st to 2nd layer coupling [J/m^2]\n") + Form.Controls().Edit1J->text());
    }
}

TEST_F(WindowTest, TheDefaultSizeShowsThePanelAtItsOwnSize) {
    Window->resize(Window->DefaultSize());
    Window->show();
    QApplication::processEvents();
    EXPECT_EQ(Form.size(), QSize(TForm1::kDefaultWidth, TForm1::kDefaultHeight));
    EXPECT_EQ(Form.mapTo(Window.get(), QPoint(0, 0)).x(), 0);
    EXPECT_FALSE(Window->PanelArea->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(Window->PanelArea->verticalScrollBar()->isVisible());
    EXPECT_EQ(Form.Controls().Image1->geometry(), QRect(136, 40, kPlotWidth, kPlotHeight));
    EXPECT_EQ(Form.Controls().BitBtn1_Start->geometry(), QRect(848, 2, 75, 40));
    EXPECT_EQ(Form.Model().Loop().PlotState->Image.Width(), kPlotWidth);
}

TEST_F(WindowTest, ALargerWindowGivesThePlotTheRoomAndASmallerOneScrolls) {
    Form.Controls().Edit_Nstep->setText(QStringLiteral("20"));
    Form.Controls().BitBtn1_Start->click();
    while (Form.Controls().Timer1->isActive()) {
        Form.Guarded([this] { Form.Timer1Timer(); });
    }
    const WorldBounds range = Form.Model().Loop().PlotState->Range.Bounds;
    ClearFloatingPointFlags();
    Window->show();
    Window->resize(Window->DefaultSize() + QSize(300, 200));
    QApplication::processEvents();
    EXPECT_EQ(Form.Controls().Image1->geometry(), QRect(136, 40, kPlotWidth + 300, kPlotHeight + 200));
    const Plot& plot = *Form.Model().Loop().PlotState;
    EXPECT_EQ(plot.Image.Width(), kPlotWidth + 300);
    EXPECT_EQ(plot.Image.Height(), kPlotHeight + 200);
    // The same world range over the larger image: the rule follows the size.
    EXPECT_EQ(plot.Range.Bounds.MinX, range.MinX);
    EXPECT_EQ(plot.Range.Bounds.MaxY, range.MaxY);
    ClearFloatingPointFlags();
    EXPECT_EQ(plot.Range.WorldToPixelX(range.MaxX), kPlotWidth + 300);
    EXPECT_EQ(plot.Range.WorldToPixelY(range.MinY), kPlotHeight + 200);
    const auto& pixels = plot.Image.Pixels();
    EXPECT_NE(std::find(pixels.begin(), pixels.end(), kBlack), pixels.end()); // the loop drawn anew
    // Right of the plot moves right, below it moves down; the left column stays.
    EXPECT_EQ(Form.Controls().BitBtn1_Start->pos(), QPoint(848 + 300, 2));
    EXPECT_EQ(Form.Controls().Edit3M->mapTo(&Form, QPoint(0, 0)), QPoint(856 + 300, 432));
    EXPECT_EQ(Form.Controls().Editbias->pos(), QPoint(848 + 300, 808 + 200));
    EXPECT_EQ(Form.Controls().ScrollBarHP->pos(), QPoint(288, 811 + 200));
    EXPECT_EQ(Form.Controls().Image2->pos(), QPoint(8, 531));

    Window->resize(800, 600);
    QApplication::processEvents();
    EXPECT_EQ(Form.size(), QSize(TForm1::kDefaultWidth, TForm1::kDefaultHeight));
    EXPECT_TRUE(Window->PanelArea->verticalScrollBar()->isVisible());
    EXPECT_EQ(Form.Controls().BitBtn1_Start->pos(), QPoint(848, 2));
    EXPECT_EQ(plot.Image.Width(), kPlotWidth);
}

TEST_F(WindowTest, OpensAtTheDefaultSizeWhereTheScreenHoldsItElseAtTheLargestThatFits) {
    Window->FitInto(QRect(0, 0, 1920, 1080));
    EXPECT_EQ(Window->size(), Window->DefaultSize());
    EXPECT_EQ(Window->pos(), QPoint(194, 53));
    for (const QRect screen : {QRect(0, 0, 1366, 768), QRect(0, 0, 1024, 600), QRect(100, 30, 1366, 738)}) {
        SCOPED_TRACE(screen.height());
        Window->FitInto(screen);
        const QRect frame(Window->pos(), Window->size() + QSize(8, 36));
        EXPECT_TRUE(screen.contains(frame));
        EXPECT_EQ(Window->height(), std::min(Window->DefaultSize().height(), screen.height() - 36));
    }
}

} // namespace
} // namespace dravo2::testing
