// The instrument panel: every control at its fixed place with its text, hint, default and
// initial state. Behaviour is bound separately (main_window.cpp).
#include "ui/canvas_view.h"
#include "ui/main_window.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace dravo2 {
inline namespace ui {
namespace {

const QColor kFuchsia(255, 0, 255);
const QColor kLayerBlue(0, 0, 255);
const QColor kLayerGreen(0, 128, 0);
const QColor kOlive(128, 128, 0);

// Panel1's place in the window: the controls on it are placed relative to it.
constexpr int kPanelX = 848;
constexpr int kPanelY = 44;

enum class Style { Plain, Bold, Italic, BoldItalic };

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect place, const char* hint, const char* text,
                    Style style = Style::Plain, const QColor* colour = nullptr) {
    auto* edit = new QLineEdit(QString::fromLatin1(text), parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(place);
    edit->setToolTip(QString::fromLatin1(hint));
    QFont font = edit->font();
    font.setBold(style == Style::Bold || style == Style::BoldItalic);
    font.setItalic(style == Style::Italic || style == Style::BoldItalic);
    edit->setFont(font);
    if (colour != nullptr) {
        QPalette palette = edit->palette();
        palette.setColor(QPalette::Text, *colour);
        edit->setPalette(palette);
    }
    return edit;
}

QLineEdit* LayerEdit(QWidget* parent, const char* name, int left, int top, const char* hint, const char* text,
                     const QColor& colour) {
    return MakeEdit(parent, name, QRect(left, top, 105, 21), hint, text, Style::Bold, &colour);
}

QScrollBar* MakeAngleBar(QWidget* parent, const char* name, QRect place, const char* hint) {
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setGeometry(place);
    bar->setRange(0, 90);
    bar->setValue(0);
    bar->setToolTip(QString::fromLatin1(hint));
    return bar;
}

// A label at (left, top); a right-aligned one keeps the right edge of its design caption.
QLabel* MakeLabel(QWidget* parent, const char* name, int left, int top, const char* caption, bool rightAligned = false,
                  int width = 112) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    const int designWidth = label->fontMetrics().horizontalAdvance(label->text());
    if (rightAligned) {
        label->setGeometry(left + designWidth - width, top, width, 14);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    } else {
        label->setGeometry(left, top, width, 14);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, QRect place, const char* caption) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    return button;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, QRect place, const char* caption) {
    auto* group = new QGroupBox(QString::fromLatin1(caption), parent);
    group->setObjectName(QString::fromLatin1(name));
    group->setGeometry(place);
    return group;
}

RadioGroup MakeRadioGroup(QWidget* parent, const char* name, QRect place, const char* caption, const QStringList& items,
                          int columns, int itemIndex) {
    RadioGroup group;
    group.Box = MakeGroup(parent, name, place, caption);
    group.Items = new QButtonGroup(group.Box);
    const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
    const int innerWidth = place.width() - 8;
    const int innerHeight = place.height() - 18;
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], group.Box);
        const int column = i / rows;
        const int row = i % rows;
        button->setGeometry(4 + column * innerWidth / columns, 14 + row * innerHeight / rows, innerWidth / columns,
                            std::min(17, innerHeight / rows + 2));
        group.Items->addButton(button, i);
    }
    group.SetItemIndex(itemIndex);
    return group;
}

QRadioButton* MakeRadio(QWidget* parent, QButtonGroup* group, const char* name, QRect place, const char* caption) {
    auto* button = new QRadioButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    group->addButton(button);
    return button;
}

// A slightly condensed font for the two captions that fill their whole place.
void Narrow(QWidget* widget) {
    QFont font = widget->font();
    font.setStretch(88);
    widget->setFont(font);
}

// Pictures of the sweep buttons, drawn at the size each button shows them.
QIcon StartPicture() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(8, 5);
    triangle.lineTo(27, 16);
    triangle.lineTo(8, 27);
    triangle.closeSubpath();
    p.fillPath(triangle, QColor(0, 150, 0));
    p.setPen(QPen(QColor(0, 80, 0), 1.5));
    p.drawPath(triangle);
    return QIcon(pixmap);
}

QIcon StopPicture() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(200, 0, 0));
    p.setPen(QPen(QColor(110, 0, 0), 1.5));
    p.drawRoundedRect(QRectF(6, 6, 20, 20), 3, 3);
    return QIcon(pixmap);
}

QIcon ReversePicture() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 160), 1.6));
    p.drawLine(QPointF(3, 5), QPointF(13, 5));
    p.drawLine(QPointF(3, 5), QPointF(6, 2));
    p.drawLine(QPointF(3, 5), QPointF(6, 8));
    p.drawLine(QPointF(3, 11), QPointF(13, 11));
    p.drawLine(QPointF(13, 11), QPointF(10, 8));
    p.drawLine(QPointF(13, 11), QPointF(10, 14));
    return QIcon(pixmap);
}

} // namespace

int RadioGroup::ItemIndex() const {
    return Items->checkedId();
}

void RadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = Items->button(index)) {
        button->setChecked(true);
    }
}

void TForm1::BuildControls() {
    setWindowTitle(QStringLiteral("Dravo2"));
    // The panel is laid out for an 8-point dialog font 11 pixels high with narrow sans-serif
    // metrics; Liberation Sans has them, any sans serif stands in.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    move(194, 53);
    resize(kDefaultWidth, kDefaultHeight);

    // The parameter column right of the plot: Panel1 carries layers 3 and 4; layers 1 and 2
    // belong to the window and lie over the same column.
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setGeometry(kPanelX, kPanelY, 121, 757);

    Image1 = new CanvasView(State.Loop().PlotState->Image, this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(136, 40, kPlotWidth, kPlotHeight);
    Image2 = new CanvasView(DialImage, this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(8, 531, kDialSize, kDialSize);

    // The groups in the order they stack, which is also the order Tab visits them.
    BuildParameterFields();
    BuildSweepFields();
    BuildAngleBars();
    BuildAxisGroups();
    BuildButtons();
    BuildDisplayChoices();
    BuildLabels();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(20);
    Timer1->setSingleShot(false);

    AnchorToEdges();
    setMinimumSize(kDefaultWidth, kDefaultHeight);
}

// The layers' magnetisation, thickness and anisotropy, the couplings between them, the amplitude
// and the bias, coloured by layer.
void TForm1::BuildParameterFields() {
    Edit1M = LayerEdit(this, "Edit1M", 856, 48, "1st layer Magnetisation [T]", "1.5", kFuchsia);
    Edit1t = LayerEdit(this, "Edit1t", 856, 72, "1st layer thickness [m]", "2e-9", kFuchsia);
    Edit1K = LayerEdit(this, "Edit1K", 856, 96, "1st layer anisotropy [J/m^3]", "100", kFuchsia);
    const QColor text = palette().color(QPalette::WindowText);
    Edit1J = LayerEdit(this, "Edit1J", 856, 184, "1st to 2nd layer coupling [J/m^2]", "-0.002e-3", text);
    Edit1J2 = LayerEdit(this, "Edit1J2", 856, 208, "1st to 2nd layer biquadratic [J/m^2]", "-0e-3", text);
    Edit2M = LayerEdit(this, "Edit2M", 856, 240, "2nd layer magnetisation [T]", "1.5", kLayerBlue);
    Edit2t = LayerEdit(this, "Edit2t", 856, 264, "2nd layer thickness [m]", "2e-9", kLayerBlue);
    Edit2K = LayerEdit(this, "Edit2K", 856, 288, "2nd layer anisotropy [J/m^3]", "100", kLayerBlue);
    Edit2J = LayerEdit(this, "Edit2J", 856, 376, "2nd to 3rd layer coupling [J/m^2]", "0e-3", text);
    Edit2J2 = LayerEdit(Panel1, "Edit2J2", 856 - kPanelX, 404 - kPanelY, "2nd to 3rd layer biquadratic [J/m^2]",
                        "-0e-3", text);
    Edit3M =
        LayerEdit(Panel1, "Edit3M", 856 - kPanelX, 432 - kPanelY, "3rd layer magnetisation [T]", "0.7", kLayerGreen);
    Edit3t = LayerEdit(Panel1, "Edit3t", 856 - kPanelX, 456 - kPanelY, "3rd layer thickness [m]", "2e-9", kLayerGreen);
    Edit3K =
        LayerEdit(Panel1, "Edit3K", 856 - kPanelX, 480 - kPanelY, "3rd layer anisotropy [J/m^3]", "60", kLayerGreen);
    Edit3J =
        LayerEdit(Panel1, "Edit3J", 856 - kPanelX, 564 - kPanelY, "3rd to 4th layer coupling [J/m^2]", "0.2e-3", text);
    Edit4M = LayerEdit(Panel1, "Edit4M", 856 - kPanelX, 596 - kPanelY, "4th layer magnetisation [T]", "1.0", kOlive);
    Edit4t = LayerEdit(Panel1, "Edit4t", 856 - kPanelX, 620 - kPanelY, "4th layer thickness [m]", "20e-9", kOlive);
    Edit4K = LayerEdit(Panel1, "Edit4K", 856 - kPanelX, 644 - kPanelY, "4th layer anisotropy [J/m^3]", "1000", kOlive);
    EditDR = MakeEdit(Panel1, "EditDR", QRect(856 - kPanelX, 772 - kPanelY, 105, 21), "DeltaR (GMR %)", "100.0");
    Editbias = MakeEdit(this, "Editbias", QRect(848, 808, 121, 21), "4th layer unidirectional anisotropy [J/m^2]",
                        "1e-3", Style::Bold, &kOlive);
}

// The sweep's initial field, steps and step above the plot, and the relaxation's settings.
void TForm1::BuildSweepFields() {
    Edit_startF = MakeEdit(this, "Edit_startF", QRect(470, 8, 50, 21), "ini. field [kA/m]", "-250.0", Style::Bold);
    Edit_Nstep = MakeEdit(this, "Edit_Nstep", QRect(526, 8, 44, 21), "steps No", "500", Style::BoldItalic);
    Edit_stepF = MakeEdit(this, "Edit_stepF", QRect(576, 8, 40, 21), "step [kA/m]", "1.0", Style::Bold);

    GroupBox2 = MakeGroup(this, "GroupBox2", QRect(8, 654, 121, 105), "Simulation parameters");
    Edit_sp_Ramp = MakeEdit(GroupBox2, "Edit_sp_Ramp", QRect(8, 16, 105, 21), "random thermal noise [a.u.]", "0.0005");
    Edit_sp_conv = MakeEdit(GroupBox2, "Edit_sp_conv", QRect(8, 48, 105, 21), "convergency [au]", "0.0000000002");
    Edit_sp_maxiter =
        MakeEdit(GroupBox2, "Edit_sp_maxiter", QRect(8, 80, 105, 21), "max iterations", "6660", Style::Italic);
}

// The layers' anisotropy angles and the field's angle, in whole degrees.
void TForm1::BuildAngleBars() {
    ScrollBar1a = MakeAngleBar(this, "ScrollBar1a", QRect(856, 124, 105, 16), "1st layer anisotropy angle: 0");
    ScrollBar2a = MakeAngleBar(this, "ScrollBar2a", QRect(856, 312, 105, 16), "2nd layer anisotropy angle: 0");
    ScrollBar3a = MakeAngleBar(Panel1, "ScrollBar3a", QRect(856 - kPanelX, 508 - kPanelY, 105, 16),
                               "3rd layer anisotropy angle: 0");
    ScrollBar4a = MakeAngleBar(Panel1, "ScrollBar4a", QRect(856 - kPanelX, 668 - kPanelY, 105, 16),
                               "4th layer anisotropy angle: 0");
    ScrollBarHA = MakeAngleBar(this, "ScrollBarHA", QRect(712, 12, 129, 16), "Field angle: 0");
}

void TForm1::BuildAxisGroups() {
    // Every anisotropy axis lies in the film plane: the plan/perp choice is shown, not offered.
    const char* axisCaptions[] = {"1st anisotropy axis", "2nd anisotropy axis", "3rd anisotropy axis",
                                  "4th anisotropy axis"};
    const char* axisNames[] = {"GroupBox3_1aa", "GroupBox3_2aa", "GroupBox3_3aa", "GroupBox3_4aa"};
    const int axisTops[] = {141, 329, 525, 685};
    const QColor axisColours[] = {kFuchsia, kLayerBlue, kLayerGreen, kOlive};
    for (std::size_t i = 0; i < 4; ++i) {
        QWidget* owner = i < 2 ? static_cast<QWidget*>(this) : Panel1;
        const QPoint origin = i < 2 ? QPoint(0, 0) : QPoint(kPanelX, kPanelY);
        QGroupBox* group =
            MakeGroup(owner, axisNames[i], QRect(856 - origin.x(), axisTops[i] - origin.y(), 105, 37), axisCaptions[i]);
        QPalette palette = group->palette();
        palette.setColor(QPalette::WindowText, axisColours[i]);
        group->setPalette(palette);
        auto* exclusive = new QButtonGroup(group);
        const std::string layer = std::to_string(i + 1);
        PlanButtons[i] =
            MakeRadio(group, exclusive, ("RadioButton_" + layer + "aplan").c_str(), QRect(8, 16, 45, 17), "plan");
        PerpButtons[i] =
            MakeRadio(group, exclusive, ("RadioButton_" + layer + "aperp").c_str(), QRect(56, 16, 45, 17), "perp");
        PlanButtons[i]->setChecked(true);
        PlanButtons[i]->setEnabled(false);
        PerpButtons[i]->setEnabled(false);
        AxisGroups[i] = group;
    }
}

// The measured curve's point tracker, the file and plot buttons, and the sweep's Reverse, Start
// and Stop.
void TForm1::BuildButtons() {
    ScrollBarHP = new QScrollBar(Qt::Horizontal, this);
    ScrollBarHP->setObjectName(QStringLiteral("ScrollBarHP"));
    ScrollBarHP->setGeometry(288, 811, 377, 16);
    ScrollBarHP->setRange(0, 100);
    ScrollBarHP->setToolTip(QStringLiteral("point tracker"));
    ScrollBarHP->setEnabled(false);

    BOtworzDAT = MakeButton(this, "BOtworzDAT", QRect(8, 8, 75, 25), "Read .DA2");
    BZapiszDAT = MakeButton(this, "BZapiszDAT", QRect(96, 8, 75, 25), "Save .DA2");
    BZapiszDAT->setEnabled(false);
    BReplot1 = MakeButton(this, "BReplot1", QRect(192, 8, 75, 25), "Replot Exp");
    BReplot2 = MakeButton(this, "BReplot2", QRect(272, 8, 75, 25), "Replot Sim");
    BNormalizeSim = MakeButton(this, "BNormalizeSim", QRect(352, 8, 75, 25), "Normalize");

    SB2_Reverse = new QToolButton(this);
    SB2_Reverse->setObjectName(QStringLiteral("SB2_Reverse"));
    SB2_Reverse->setGeometry(440, 8, 23, 22);
    SB2_Reverse->setAutoRaise(true);
    SB2_Reverse->setToolTip(QStringLiteral("REVERSE"));
    SB2_Reverse->setIcon(ReversePicture());
    SB2_Reverse->setIconSize(QSize(16, 16));

    BitBtn1_Start = MakeButton(this, "BitBtn1_Start", QRect(848, 2, 75, 40), "Start");
    BitBtn1_Start->setIcon(StartPicture());
    BitBtn1_Start->setIconSize(QSize(32, 32));

    SB1_Stop = new QToolButton(this);
    SB1_Stop->setObjectName(QStringLiteral("SB1_Stop"));
    SB1_Stop->setGeometry(928, 2, 40, 40);
    SB1_Stop->setAutoRaise(true);
    SB1_Stop->setToolTip(QStringLiteral("STOP"));
    SB1_Stop->setIcon(StopPicture());
    SB1_Stop->setIconSize(QSize(32, 32));
    SB1_Stop->setEnabled(false);
}

// How the measured curve and the simulation are shown, and the anisotropy's form.
void TForm1::BuildDisplayChoices() {
    RadioGroup_p = MakeRadioGroup(this, "RadioGroup_p", QRect(8, 56, 121, 113), "Exp Point Type",
                                  {"No point", "Dot point", "Solid Line", "Xross Point"}, 1, 3);
    RadioGroup_px =
        MakeRadioGroup(this, "RadioGroup_px", QRect(8, 168, 121, 33), "X column display", {"1", "2", "3", "4"}, 4, 0);
    RadioGroup_py =
        MakeRadioGroup(this, "RadioGroup_py", QRect(8, 200, 121, 33), "Y column display", {"1", "2", "3", "4"}, 4, 1);

    RadioGroup_simdisp = MakeGroup(this, "RadioGroup_simdisp", QRect(8, 240, 121, 161), "Simulation display form");
    Narrow(RadioGroup_simdisp);
    DisplayModeGroup = new QButtonGroup(this);
    RadioButton4_MvH = MakeRadio(this, DisplayModeGroup, "RadioButton4_MvH", QRect(16, 256, 89, 17), "M vs Hx");
    RadioButton4_MvHy = MakeRadio(this, DisplayModeGroup, "RadioButton4_MvHy", QRect(16, 280, 89, 17), "M vs Hy");
    RadioButton4_MvHz = MakeRadio(this, DisplayModeGroup, "RadioButton4_MvHz", QRect(16, 304, 89, 17), "M vs Hz");
    RadioButton4_tt = MakeRadio(this, DisplayModeGroup, "RadioButton4_tt", QRect(16, 328, 89, 17), "theta-theta");
    RadioButton4_GMR = MakeRadio(this, DisplayModeGroup, "RadioButton4_GMR", QRect(16, 352, 89, 17), "DeltaR");
    RadioButton5FMR = MakeRadio(this, DisplayModeGroup, "RadioButton5FMR", QRect(16, 376, 89, 17), "FMR");
    RadioButton4_MvH->setChecked(true);
    RadioButton4_MvHz->setEnabled(false);

    RadioGroup_a = MakeGroup(Panel1, "RadioGroup_a", QRect(856 - kPanelX, 724 - kPanelY, 105, 41), "Anisotropy");
    AnisotropyGroup = new QButtonGroup(this);
    RadioButton2_ua =
        MakeRadio(Panel1, AnisotropyGroup, "RadioButton2_ua", QRect(864 - kPanelX, 740 - kPanelY, 41, 17), "UA");
    RadioButton2_q =
        MakeRadio(Panel1, AnisotropyGroup, "RadioButton2_q", QRect(912 - kPanelX, 740 - kPanelY, 41, 17), "QU");
    RadioButton2_ua->setChecked(true);
    // EditDR sits below the anisotropy frame on the panel; keep the panel's stacking in order.
    EditDR->raise();
}

// The plot's range, the highlighted point, the final field and the simulation's variables.
void TForm1::BuildLabels() {
    LabelMinX = MakeLabel(this, "LabelMinX", 152, 808, "MinX");
    LabelMaxX = MakeLabel(this, "LabelMaxX", 797, 808, "MaxX", true);
    LabelMaxY = MakeLabel(this, "LabelMaxY", 104, 40, "MaxY", true, 100);
    LabelMinY = MakeLabel(this, "LabelMinY", 104, 784, "MinY", true, 100);
    LabelXH = MakeLabel(this, "LabelXH", 8, 760, "XHilight", false, 120);
    LabelYH = MakeLabel(this, "LabelYH", 8, 776, "YHilight", false, 120);
    Label_endF = MakeLabel(this, "Label_endF", 617, 14, "fin. field: 0.25 kA/m", false, 94);
    Narrow(Label_endF);

    GroupBox1 = MakeGroup(this, "GroupBox1", QRect(8, 400, 121, 129), "Simulation variables");
    Label1 = MakeLabel(GroupBox1, "Label1", 8, 20, "theta1", false, 108);
    Label2 = MakeLabel(GroupBox1, "Label2", 8, 36, "theta2", false, 108);
    Label3 = MakeLabel(GroupBox1, "Label3", 8, 52, "theta3", false, 108);
    Label7 = MakeLabel(GroupBox1, "Label7", 8, 68, "theta3", false, 108);
    Label4 = MakeLabel(GroupBox1, "Label4", 8, 82, "energy", false, 108);
    Label5 = MakeLabel(GroupBox1, "Label5", 8, 96, "iterations", false, 108);
    Label6 = MakeLabel(GroupBox1, "Label6", 8, 110, "step", false, 108);
}

void TForm1::AnchorToEdges() {
    // What lies right of the plot (and the field-angle bar and the x maximum, which end at its
    // right edge) follows the right edge; what lies below it follows the bottom edge.
    const QRect plot = Image1->geometry();
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child == Image1) {
            continue;
        }
        const QRect place = child->geometry();
        const bool right = place.left() > plot.right() || child == ScrollBarHA || child == LabelMaxX;
        const bool down = place.top() > plot.bottom() || child == LabelMinY;
        if (right || down) {
            DefaultPlaces.push_back({child, place, right, down});
        }
    }
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOutForSize();
}

void TForm1::LayOutForSize() {
    const int dx = std::max(0, width() - kDefaultWidth);
    const int dy = std::max(0, height() - kDefaultHeight);
    for (const Anchored& anchored : DefaultPlaces) {
        anchored.Widget->move(anchored.Place.topLeft() +
                              QPoint(anchored.MovesRight ? dx : 0, anchored.MovesDown ? dy : 0));
    }
    Image1->setGeometry(136, 40, kPlotWidth + dx, kPlotHeight + dy);
    ResizePlot(kPlotWidth + dx, kPlotHeight + dy);
}

} // namespace ui
} // namespace dravo2
