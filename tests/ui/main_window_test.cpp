#include "ui/form_fixture.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

namespace dravo2::testing {

std::string FormTest::Caption(const QWidget* widget) const {
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text().toStdString();
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->text().toStdString();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text().toStdString();
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        return group->title().toStdString();
    }
    return {};
}

namespace {

struct Control {
    const char* name;
    QRect place; // window coordinates; a width of 0 leaves the size unchecked
    const char* text;
    const char* hint;
    bool enabled;
};

QRect PlaceInWindow(const QWidget* widget, const QWidget* window) {
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

TEST_F(FormTest, EveryControlStandsAtItsPlaceWithItsTextHintAndState) {
    const Control controls[] = {
        {"Image1", {136, 40, 705, 761}, "", "", true},
        {"Image2", {8, 531, 120, 120}, "", "", true},
        {"Panel1", {848, 44, 121, 757}, "", "", true},
        {"Edit1M", {856, 48, 105, 21}, "1.5", "1st layer Magnetisation [T]", true},
        {"Edit1t", {856, 72, 105, 21}, "2e-9", "1st layer thickness [m]", true},
        {"Edit1K", {856, 96, 105, 21}, "100", "1st layer anisotropy [J/m^3]", true},
        {"Edit1J", {856, 184, 105, 21}, "-0.002e-3", "1st to 2nd layer coupling [J/m^2]", true},
        {"Edit1J2", {856, 208, 105, 21}, "-0e-3", "1st to 2nd layer biquadratic [J/m^2]", true},
        {"Edit2M", {856, 240, 105, 21}, "1.5", "2nd layer magnetisation [T]", true},
        {"Edit2t", {856, 264, 105, 21}, "2e-9", "2nd layer thickness [m]", true},
        {"Edit2K", {856, 288, 105, 21}, "100", "2nd layer anisotropy [J/m^3]", true},
        {"Edit2J", {856, 376, 105, 21}, "0e-3", "2nd to 3rd layer coupling [J/m^2]", true},
        {"Edit2J2", {856, 404, 105, 21}, "-0e-3", "2nd to 3rd layer biquadratic [J/m^2]", true},
        {"Edit3M", {856, 432, 105, 21}, "0.7", "3rd layer magnetisation [T]", true},
        {"Edit3t", {856, 456, 105, 21}, "2e-9", "3rd layer thickness [m]", true},
        {"Edit3K", {856, 480, 105, 21}, "60", "3rd layer anisotropy [J/m^3]", true},
        {"Edit3J", {856, 564, 105, 21}, "0.2e-3", "3rd to 4th layer coupling [J/m^2]", true},
        {"Edit4M", {856, 596, 105, 21}, "1.0", "4th layer magnetisation [T]", true},
        {"Edit4t", {856, 620, 105, 21}, "20e-9", "4th layer thickness [m]", true},
        {"Edit4K", {856, 644, 105, 21}, "1000", "4th layer anisotropy [J/m^3]", true},
        {"EditDR", {856, 772, 105, 21}, "100.0", "DeltaR (GMR %)", true},
        {"Editbias", {848, 808, 121, 21}, "1e-3", "4th layer unidirectional anisotropy [J/m^2]", true},
        {"Edit_startF", {470, 8, 50, 21}, "-250.0", "ini. field [kA/m]", true},
        {"Edit_Nstep", {526, 8, 44, 21}, "500", "steps No", true},
        {"Edit_stepF", {576, 8, 40, 21}, "1.0", "step [kA/m]", true},
        {"GroupBox2", {8, 654, 121, 105}, "Simulation parameters", "", true},
        {"Edit_sp_Ramp", {16, 670, 105, 21}, "0.0005", "random thermal noise [a.u.]", true},
        {"Edit_sp_conv", {16, 702, 105, 21}, "0.0000000002", "convergency [au]", true},
        {"Edit_sp_maxiter", {16, 734, 105, 21}, "6660", "max iterations", true},
        {"ScrollBar1a", {856, 124, 105, 16}, "", "1st layer anisotropy angle: 0", true},
        {"ScrollBar2a", {856, 312, 105, 16}, "", "2nd layer anisotropy angle: 0", true},
        {"ScrollBar3a", {856, 508, 105, 16}, "", "3rd layer anisotropy angle: 0", true},
        {"ScrollBar4a", {856, 668, 105, 16}, "", "4th layer anisotropy angle: 0", true},
        {"ScrollBarHA", {712, 12, 129, 16}, "", "Field angle: 0", true},
        {"ScrollBarHP", {288, 811, 377, 16}, "", "point tracker", false},
        {"BOtworzDAT", {8, 8, 75, 25}, "Read .DA2", "", true},
        {"BZapiszDAT", {96, 8, 75, 25}, "Save .DA2", "", false},
        {"BReplot1", {192, 8, 75, 25}, "Replot Exp", "", true},
        {"BReplot2", {272, 8, 75, 25}, "Replot Sim", "", true},
        {"BNormalizeSim", {352, 8, 75, 25}, "Normalize", "", true},
        {"SB2_Reverse", {440, 8, 23, 22}, "", "REVERSE", true},
        {"BitBtn1_Start", {848, 2, 75, 40}, "Start", "", true},
        {"SB1_Stop", {928, 2, 40, 40}, "", "STOP", false},
        {"RadioGroup_p", {8, 56, 121, 113}, "Exp Point Type", "", true},
        {"RadioGroup_px", {8, 168, 121, 33}, "X column display", "", true},
        {"RadioGroup_py", {8, 200, 121, 33}, "Y column display", "", true},
        {"RadioGroup_simdisp", {8, 240, 121, 161}, "Simulation display form", "", true},
        {"RadioButton4_MvH", {16, 256, 89, 17}, "M vs Hx", "", true},
        {"RadioButton4_MvHy", {16, 280, 89, 17}, "M vs Hy", "", true},
        {"RadioButton4_MvHz", {16, 304, 89, 17}, "M vs Hz", "", false},
        {"RadioButton4_tt", {16, 328, 89, 17}, "theta-theta", "", true},
        {"RadioButton4_GMR", {16, 352, 89, 17}, "DeltaR", "", true},
        {"RadioButton5FMR", {16, 376, 89, 17}, "FMR", "", true},
        {"RadioGroup_a", {856, 724, 105, 41}, "Anisotropy", "", true},
        {"RadioButton2_ua", {864, 740, 41, 17}, "UA", "", true},
        {"RadioButton2_q", {912, 740, 41, 17}, "QU", "", true},
        {"GroupBox1", {8, 400, 121, 129}, "Simulation variables", "", true},
        {"GroupBox3_1aa", {856, 0, 0, 0}, "1st anisotropy axis", "", true},
        {"GroupBox3_4aa", {856, 0, 0, 0}, "4th anisotropy axis", "", true},
        {"RadioButton_1aplan", {0, 0, 0, 0}, "plan", "", false},
        {"RadioButton_4aperp", {0, 0, 0, 0}, "perp", "", false},
        {"LabelMinX", {152, 808, 0, 0}, "MinX", "", true},
        {"LabelMaxX", {0, 808, 0, 0}, "MaxX", "", true},
        {"LabelMaxY", {0, 40, 0, 0}, "MaxY", "", true},
        {"LabelMinY", {0, 784, 0, 0}, "MinY", "", true},
        {"LabelXH", {8, 760, 0, 0}, "XHilight", "", true},
        {"LabelYH", {8, 776, 0, 0}, "YHilight", "", true},
        {"Label1", {16, 420, 0, 0}, "theta1", "", true},
        {"Label2", {16, 436, 0, 0}, "theta2", "", true},
        {"Label3", {16, 452, 0, 0}, "theta3", "", true},
        {"Label7", {16, 468, 0, 0}, "theta3", "", true},
        {"Label4", {16, 482, 0, 0}, "energy", "", true},
        {"Label5", {16, 496, 0, 0}, "iterations", "", true},
        {"Label6", {16, 510, 0, 0}, "step", "", true},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.name);
        const auto* widget = Form->findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(widget, nullptr);
        const QRect place = PlaceInWindow(widget, Form.get());
        if (c.place.x() != 0) {
            EXPECT_EQ(place.x(), c.place.x());
        }
        if (c.place.y() != 0) {
            EXPECT_EQ(place.y(), c.place.y());
        }
        if (c.place.width() != 0) {
            EXPECT_EQ(place.size(), c.place.size());
        }
        EXPECT_EQ(Caption(widget), c.text);
        EXPECT_EQ(widget->toolTip().toStdString(), c.hint);
        EXPECT_EQ(widget->isEnabled(), c.enabled);
    }
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Dravo2"));
    EXPECT_EQ(Form->size(), QSize(973, 835));
    EXPECT_EQ(Form->pos(), QPoint(194, 53));
    EXPECT_EQ(Form->Controls().Label_endF->text(), QStringLiteral("fin. field: 0.25 kA/m"));
    EXPECT_FALSE(Form->Controls().Timer1->isActive());
    EXPECT_EQ(Form->Controls().Timer1->interval(), 20);
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(FormTest, FieldsShowTheirLayerByColourAndStyle) {
    EXPECT_EQ(Form->Controls().Edit1M->palette().color(QPalette::Text), QColor(255, 0, 255));
    EXPECT_EQ(Form->Controls().Edit2t->palette().color(QPalette::Text), QColor(0, 0, 255));
    EXPECT_EQ(Form->Controls().Edit3K->palette().color(QPalette::Text), QColor(0, 128, 0));
    EXPECT_EQ(Form->Controls().Edit4M->palette().color(QPalette::Text), QColor(128, 128, 0));
    EXPECT_TRUE(Form->Controls().Edit1J->font().bold());
    EXPECT_TRUE(Form->Controls().Edit_Nstep->font().bold());
    EXPECT_TRUE(Form->Controls().Edit_Nstep->font().italic());
    EXPECT_TRUE(Form->Controls().Edit_sp_maxiter->font().italic());
    EXPECT_FALSE(Form->Controls().Edit_sp_maxiter->font().bold());
    EXPECT_TRUE(Form->Controls().Edit_startF->font().bold());
}

TEST_F(FormTest, InitialChoicesAndExclusiveGroups) {
    EXPECT_TRUE(Form->Controls().RadioButton4_MvH->isChecked());
    EXPECT_TRUE(Form->Controls().RadioButton2_ua->isChecked());
    EXPECT_EQ(Form->Controls().RadioGroup_p.ItemIndex(), 3);
    EXPECT_EQ(Form->Controls().RadioGroup_px.ItemIndex(), 0);
    EXPECT_EQ(Form->Controls().RadioGroup_py.ItemIndex(), 1);
    for (const QRadioButton* plan : Form->Controls().PlanButtons) {
        EXPECT_TRUE(plan->isChecked());
        EXPECT_FALSE(plan->isEnabled());
    }
    Form->Controls().RadioButton4_tt->click();
    for (QRadioButton* other :
         {Form->Controls().RadioButton4_MvH, Form->Controls().RadioButton4_MvHy, Form->Controls().RadioButton4_MvHz,
          Form->Controls().RadioButton4_GMR, Form->Controls().RadioButton5FMR}) {
        EXPECT_FALSE(other->isChecked());
    }
    EXPECT_TRUE(Form->Controls().RadioButton2_ua->isChecked()); // another group
    Form->Controls().RadioButton2_q->click();
    EXPECT_FALSE(Form->Controls().RadioButton2_ua->isChecked());
    EXPECT_TRUE(Form->Controls().RadioButton4_tt->isChecked());
}

TEST_F(FormTest, CreationSetsTheDefaultsAndDrawsTheEmptyDial) {
    EXPECT_EQ(Form->Model().Loop().Session.StartKiloAmperesPerMetre, -250);
    EXPECT_EQ(Form->Model().Loop().Session.Steps, 500);
    EXPECT_EQ(Form->Model().Loop().Session.StepKiloAmperesPerMetre, 1);
    EXPECT_EQ(Form->Model().Loop().Session.EndKiloAmperesPerMetre, 0);
    EXPECT_EQ(Form->Model().Loop().Session.Solver.IterationBudget, 66599);
    EXPECT_EQ(Form->Model().Loop().Session.Solver.ConvergenceThreshold, 2e-10L);
    EXPECT_EQ(Form->Model().Loop().PlotState->HighlightRow, -1);
    EXPECT_EQ(Form->Dial().PixelAt(30, 30), kSilver);
    EXPECT_EQ(Form->Dial().PixelAt(30, 60), kBlack);
    EXPECT_EQ(Form->Model().Loop().PlotState->Image.PixelAt(352, 380), kWhite); // the plot is not drawn
}

TEST_F(FormTest, AnAngleBarSetsItsHintAngleAndDial) {
    Form->Controls().ScrollBar4a->setValue(30);
    EXPECT_EQ(Form->Controls().ScrollBar4a->toolTip(), QStringLiteral("4rd layer anisotropy angle: 30"));
    EXPECT_EQ(Form->Model().Loop().Session.Model.Stack.Alpha[3], 30 * kPi / 180);
    Form->Controls().ScrollBarHA->setValue(90);
    EXPECT_EQ(Form->Controls().ScrollBarHA->toolTip(), QStringLiteral("Field angle: 90"));
    EXPECT_EQ(Form->Model().Loop().Session.Model.FieldAngle, static_cast<double>(90 * kPi / 180));
    // The field radius of the initial field -250 kA/m now points down to (59, 120).
    EXPECT_EQ(Form->Dial().PixelAt(59, 110), kBlack);
    Form->Controls().ScrollBar1a->setValue(90);
    EXPECT_EQ(Form->Controls().ScrollBar1a->toolTip(), QStringLiteral("1st layer anisotropy angle: 90"));
}

} // namespace
} // namespace dravo2::testing
