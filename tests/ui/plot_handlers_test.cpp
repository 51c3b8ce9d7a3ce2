#include "ui/form_fixture.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>

#include <cmath>

namespace dravo2::testing {
namespace {

class PlotHandlersTest : public FormTest {
protected:
    // A four-column experiment of `rows` rows: x = row, y = 10 row, then 100 row, 1000 row.
    void LoadExperiment(std::int32_t rows) {
        ExperimentData& e = Form->Model().Measured();
        e.ClearExpTable();
        e.ExpRows = rows;
        e.ExpCols = 4;
        for (std::int32_t r = 1; r <= rows; ++r) {
            for (std::int32_t c = 1; c <= 4; ++c) {
                e.ExpTable.At(c, r) = r * std::pow(10.0, c - 1);
            }
        }
    }
    void RunShortSweep() {
        Form->Controls().Edit_Nstep->setText(QStringLiteral("20"));
        Start();
        RunSweep();
    }
    std::int32_t Count(Colour colour) const {
        std::int32_t n = 0;
        for (const Colour c : Form->Model().Loop().PlotState->Image.Pixels()) {
            n += c == colour;
        }
        return n;
    }
    void ClickItem(const RadioGroup& group, int index) { group.Items->button(index)->click(); }
};

TEST_F(PlotHandlersTest, ReplotExpDrawsTheSimulationWhenNoExperimentIsLoaded) {
    Form->Controls().BReplot1->click();
    EXPECT_EQ(Form->Controls().LabelMinX->text(), QStringLiteral("MinX")); // neither table: nothing happens
    RunShortSweep();
    Form->Controls().BReplot1->click();
    EXPECT_EQ(Form->Model().Loop().PlotState->PointType, PointStyle::SolidLine);
    EXPECT_EQ(Form->Controls().LabelMinX->text().toStdString(), GeneralNumberText(-249000 * 1.1, 5));
    EXPECT_FALSE(Form->Controls().ScrollBarHP->isEnabled());
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(PlotHandlersTest, ReplotExpRangesOnColumnsOneAndTwoAndArmsTheTracker) {
    LoadExperiment(50);
    Form->Controls().BReplot1->click();
    EXPECT_TRUE(Form->Controls().ScrollBarHP->isEnabled());
    EXPECT_EQ(Form->Controls().ScrollBarHP->maximum(), 50);
    EXPECT_EQ(Form->Controls().LabelMaxX->text(), QStringLiteral("55"));
    EXPECT_EQ(Form->Controls().LabelMaxY->text(), QStringLiteral("550"));
    EXPECT_EQ(Count(kBlack), 50 * 7); // crosses of half-size 2, no overlaps
}

TEST_F(PlotHandlersTest, TrackerMarksARowAndShowsItsDisplayColumns) {
    LoadExperiment(50);
    Form->Controls().BReplot1->click();
    ClickItem(Form->Controls().RadioGroup_px, 2); // X column 3
    EXPECT_EQ(Form->Model().Loop().PlotState->ExpXCol, 3);
    Form->Controls().ScrollBarHP->setValue(7);
    EXPECT_EQ(Form->Model().Loop().PlotState->HighlightRow, 7);
    EXPECT_EQ(Form->Controls().LabelXH->text(), QStringLiteral("700"));
    EXPECT_EQ(Form->Controls().LabelYH->text(), QStringLiteral("70"));
    EXPECT_EQ(Count(kRed), 31);
    EXPECT_EQ(Form->Controls().LabelMaxX->text(), QStringLiteral("55")); // the plot returns to columns 1 and 2
    Form->Controls().ScrollBarHP->setValue(0);
    EXPECT_EQ(Form->Controls().LabelXH->text(), QStringLiteral("XHighlit"));
    EXPECT_EQ(Form->Controls().LabelYH->text(), QStringLiteral("YHighlit"));
    EXPECT_EQ(Count(kRed), 0);
    // A shorter experiment pulls the tracker's position back to its new maximum.
    Form->Controls().ScrollBarHP->setValue(40);
    LoadExperiment(30);
    Form->Controls().BReplot1->click();
    EXPECT_EQ(Form->Controls().ScrollBarHP->value(), 30);
    EXPECT_EQ(Form->Model().Loop().PlotState->HighlightRow, 30);
}

TEST_F(PlotHandlersTest, ColumnChoicesBeyondTheFileAreIgnored) {
    ClickItem(Form->Controls().RadioGroup_px, 2);
    EXPECT_EQ(Form->Model().Loop().PlotState->ExpXCol, 1); // no file: no column can be chosen
    LoadExperiment(10);
    Form->Model().Measured().ExpCols = 2;
    ClickItem(Form->Controls().RadioGroup_py, 3);
    EXPECT_EQ(Form->Model().Loop().PlotState->ExpYCol, 2);
    ClickItem(Form->Controls().RadioGroup_py, 0);
    EXPECT_EQ(Form->Model().Loop().PlotState->ExpYCol, 1);
}

TEST_F(PlotHandlersTest, PointStyleRedrawsTheExperimentInTheRange) {
    LoadExperiment(20);
    Form->Controls().BReplot1->click();
    ClickItem(Form->Controls().RadioGroup_p, 1);
    EXPECT_EQ(Form->Model().Loop().PlotState->PointType, PointStyle::Dot);
    EXPECT_EQ(Count(kBlue), 20);
    EXPECT_EQ(Count(kBlack), 0);
    ClickItem(Form->Controls().RadioGroup_p, 0);
    EXPECT_EQ(Count(kBlue), 0);
}

TEST_F(PlotHandlersTest, ReplotSimKeepsTheRangeAndDrawsBothCurves) {
    RunShortSweep();
    LoadExperiment(20);
    Form->Controls().BReplot1->click();
    const WorldBounds before = Form->Model().Loop().PlotState->Range.Bounds;
    Form->Controls().BReplot2->click();
    EXPECT_FALSE(Form->Controls().ScrollBarHP->isEnabled());
    EXPECT_EQ(Form->Model().Loop().PlotState->Range.Bounds.MaxX, before.MaxX);
    EXPECT_EQ(Form->Model().Loop().PlotState->PointType, PointStyle::SolidLine);
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(PlotHandlersTest, NormalizeDividesTheProjectionByItsFirstRow) {
    RunShortSweep();
    const double first = Sim(2, 1);
    const double tenth = Sim(2, 10);
    ASSERT_NE(first, 0);
    Form->Controls().BNormalizeSim->click();
    EXPECT_EQ(Sim(2, 1), first < 0 ? -1.0 : 1.0);
    EXPECT_EQ(Sim(2, 10), tenth / std::fabs(first));
    Form->Controls().BNormalizeSim->click(); // a second press changes nothing
    EXPECT_EQ(Sim(2, 10), tenth / std::fabs(first));
    EXPECT_FALSE(Form->Controls().ScrollBarHP->isEnabled());
    EXPECT_EQ(Form->Model().Loop().PlotState->PointType, PointStyle::SolidLine);
}

TEST_F(PlotHandlersTest, ASingleColumnExperimentCollapsesTheRange) {
    LoadExperiment(5);
    Form->Model().Measured().ExpCols = 1;
    for (std::int32_t r = 1; r <= 5; ++r) {
        Form->Model().Measured().ExpTable.At(2, r) = 0;
    }
    Form->Controls().BReplot1->click();
    EXPECT_EQ(Reporter.Messages, std::vector<std::string>{"Invalid floating point operation"});
    EXPECT_TRUE(Form->Controls().ScrollBarHP->isEnabled());
    EXPECT_EQ(Count(kGrey), 0); // wiped, no axes
}

} // namespace
} // namespace dravo2::testing
