#include "ui/model_help.h"

#include "ui/app_window.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMenu>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace dravo2 {
inline namespace ui {

QString ModelHelpText() {
    return QStringLiteral(
        "<h3>The model</h3>"
        "<p>Up to four ferromagnetic layers, numbered from the top, each magnetised in the film plane at the "
        "angle &theta;<sub>i</sub> from +x (radians). A layer is present when its thickness is above 0. At every "
        "field step the angles settle in the nearest minimum of the energy per unit area (J/m<sup>2</sup>)</p>"
        "<p><b>E</b> = &Sigma;<sub>i</sub> [ &minus;M<sub>i</sub> t<sub>i</sub> H cos(&theta;<sub>i</sub> &minus; "
        "&phi;<sub>H</sub>) + E<sub>K,i</sub> ] &minus; &Sigma;<sub>i=1..3</sub> [ J<sub>i</sub> "
        "cos(&theta;<sub>i</sub> &minus; &theta;<sub>i+1</sub>) + B<sub>i</sub> cos<sup>2</sup>(&theta;<sub>i</sub> "
        "&minus; &theta;<sub>i+1</sub>) ] &minus; J<sub>eb</sub> cos &theta;<sub>4</sub></p>"
        "<ul>"
        "<li><b>Zeeman</b>: &minus;M<sub>i</sub> t<sub>i</sub> H cos(&theta;<sub>i</sub> &minus; &phi;<sub>H</sub>), "
        "M in tesla (&mu;<sub>0</sub>M<sub>s</sub>), t in m, H in A/m, &phi;<sub>H</sub> the field angle: a layer "
        "prefers the field's direction.</li>"
        "<li><b>Anisotropy</b>, E<sub>K,i</sub> with x = &theta;<sub>i</sub> &minus; &alpha;<sub>i</sub>: UA "
        "(uniaxial) &minus;K<sub>i</sub> t<sub>i</sub> cos<sup>2</sup>x, an easy axis along &alpha;<sub>i</sub> for "
        "K &gt; 0 (a hard axis for K &lt; 0); QU (quartic) &minus;K<sub>i</sub> t<sub>i</sub> cos<sup>2</sup>x "
        "sin<sup>2</sup>x, easy axes at &alpha;<sub>i</sub> &plusmn; 45&deg; for K &gt; 0 and along "
        "&alpha;<sub>i</sub> "
        "and &alpha;<sub>i</sub> + 90&deg; for K &lt; 0. K in J/m<sup>3</sup>.</li>"
        "<li><b>Bilinear coupling</b> of present neighbours, &minus;J<sub>i</sub> cos(&theta;<sub>i</sub> &minus; "
        "&theta;<sub>i+1</sub>), J in J/m<sup>2</sup>: <b>J &gt; 0 couples parallel</b> (ferromagnetic), "
        "<b>J &lt; 0 antiparallel</b> (antiferromagnetic).</li>"
        "<li><b>Biquadratic coupling</b> of layers 1-2 and 2-3, &minus;B<sub>i</sub> "
        "cos<sup>2</sup>(&theta;<sub>i</sub> "
        "&minus; &theta;<sub>i+1</sub>), J/m<sup>2</sup>: B &gt; 0 favours collinear, B &lt; 0 perpendicular "
        "(90&deg;) alignment.</li>"
        "<li><b>Exchange bias</b> of layer 4, &minus;J<sub>eb</sub> cos &theta;<sub>4</sub>, J/m<sup>2</sup>: "
        "J<sub>eb</sub> &gt; 0 pins layer 4 along +x and shifts the loop to negative fields.</li>"
        "</ul>"
        "<p><b>Noise kick.</b> Before each step relaxes, every angle is moved by R &minus; rR/5 radians, r a "
        "pseudo-random whole number 0..9 (so from &minus;0.8R to +R), R the random thermal noise field. It moves "
        "the layers off unstable balances, where the force vanishes. The generator starts afresh with the "
        "program, so the same actions give the same curves.</p>"
        "<p><b>Relaxation.</b> Gradient descent until the gradient's norm, divided by the step's energy scale, "
        "is no longer above the convergence threshold, or the iteration budget is spent; \"Sweep\" &gt; "
        "\"Solver\" &gt; \"Newton (fast)\" relaxes to the same minimum in a few iterations.</p>"
        "<h4>Fields and units</h4>"
        "<table cellspacing=\"2\">"
        "<tr><td>M (layers 1-4)</td><td>magnetisation &mu;<sub>0</sub>M<sub>s</sub>, T</td></tr>"
        "<tr><td>t</td><td>thickness, m (0 removes the layer)</td></tr>"
        "<tr><td>K</td><td>anisotropy constant, J/m<sup>3</sup></td></tr>"
        "<tr><td>1-2, 2-3, 3-4 coupling</td><td>J, J/m<sup>2</sup></td></tr>"
        "<tr><td>1-2, 2-3 biquadratic</td><td>B, J/m<sup>2</sup></td></tr>"
        "<tr><td>bias</td><td>J<sub>eb</sub> of layer 4, J/m<sup>2</sup></td></tr>"
        "<tr><td>angle bars</td><td>anisotropy axis &alpha;<sub>i</sub> of each layer and the field angle "
        "&phi;<sub>H</sub>, whole degrees 0..90</td></tr>"
        "<tr><td>ini. field, step</td><td>kA/m; steps No: the number of steps; fin. field = ini. field + "
        "steps &times; step</td></tr>"
        "<tr><td>DeltaR</td><td>magnetoresistance amplitude &Delta;R, %</td></tr>"
        "<tr><td>random thermal noise</td><td>R, radians</td></tr>"
        "<tr><td>convergency, max iterations</td><td>the descent's stopping threshold (scaled gradient, per "
        "radian) and its iteration budget</td></tr>"
        "</table>"
        "<h4>Buttons and options</h4>"
        "<ul>"
        "<li><b>Start</b> reads every field, empties the table, presets the plot and the angles for the display "
        "form and steps the field from ini. field, one step every 20 ms. <b>Stop</b> ends a sweep; the table "
        "stays. <b>Reverse</b> (the arrows) negates ini. field and step and sweeps back from the present "
        "angles, appending rows: the return branch of the loop.</li>"
        "<li><b>Read .DA2</b> loads a measured curve; <b>Save .DA2</b> writes the simulated table.</li>"
        "<li><b>Replot Exp</b> fits the plot's range to the measured curve (or to the simulation when none is "
        "loaded) and draws it; the point tracker below the plot then highlights a measured row. "
        "<b>Replot Sim</b> draws the measured and the simulated curve in the present range.</li>"
        "<li><b>Normalize</b> divides the simulated projection by the size of its first value, so that the "
        "sweep starts at &plusmn;1 like a measured loop normalised to saturation, and redraws.</li>"
        "<li><b>Exp Point Type</b> and <b>X / Y column display</b>: how the measured curve is drawn and which "
        "of its columns are x and y.</li>"
        "<li><b>Simulation display form</b>: M vs Hx (the thickness-weighted mean of M<sub>i</sub> cos "
        "&theta;<sub>i</sub>, T, against the field in A/m), M vs Hy (the same with sin &theta;<sub>i</sub>), "
        "M vs Hz (not offered: the model is in-plane), theta-theta (&theta;<sub>1</sub> against the projection), "
        "DeltaR ((1 &minus; cos(&theta;<sub>1</sub> &minus; &theta;<sub>2</sub>)) &Delta;R/2) and FMR (the "
        "resonance frequency of layer 1, Hz).</li>"
        "<li><b>plan / perp</b>: each anisotropy axis lies in the film plane (plan); perpendicular axes are "
        "shown but not offered.</li>"
        "<li><b>UA / QU</b>: uniaxial or quartic (fourfold) anisotropy, for every layer.</li>"
        "<li><b>Sweep &gt; Live update</b> (with the Newton solver): every change of a parameter recomputes the "
        "whole loop, Start and one Reverse, and shows it at once. <b>Up</b> and <b>Down</b> in a field, or the "
        "mouse wheel over it, step its last significant digit (Shift: ten of them).</li>"
        "</ul>"
        "<h4>Files</h4>"
        "<p><b>Result file</b> (Save .DA2): one line a step, CR LF, eight values of 23 characters each "
        "followed by four spaces: field H (A/m), projection M (T), &theta;<sub>1</sub> .. &theta;<sub>4</sub> "
        "(rad), &Delta;R and the resonance frequency f (Hz, &minus;1 where there is none); each value is a sign "
        "or a space, 15 significant digits and a four-digit exponent, as in "
        "<tt>-2.50000000000000E+0005</tt>.</p>"
        "<p><b>Measured curves</b> (Read .DA2; the dialog's filter decides the layout): <i>da2</i> has one or "
        "two numbers on its first line and as many on each following line; <i>dat</i> may begin with header "
        "lines ended by a line holding <tt>@</tt>, then rows of up to eight columns. Column 1 is the field in "
        "A/m, column 2 the moment; at most 4096 rows. A result file reads back as either. \"File\" &gt; "
        "\"Import measured curve...\" reads instrument exports with units and column names.</p>"
        "<p><b>Parameter sets</b> (File &gt; Open / Save parameters): one <tt>KEY=VALUE</tt> a line, as "
        "<tt>dravo2-fit</tt> prints them and <tt>dravo2-sweep</tt> takes them (M1, t1, K1, axis1 .. 4, "
        "field_angle, J1 .. J3, Jbq1, Jbq2, bias, DR, start, steps, step, noise, conv, maxiter, aniso, solver); "
        "blank lines and lines starting with # are skipped.</p>");
}

void InstallModelHelp(AppWindow& window) {
    QAction* action = window.HelpMenu->addAction(QObject::tr("The &model"));
    action->setObjectName(QStringLiteral("ModelHelpAction"));
    action->setShortcut(QKeySequence(QStringLiteral("F1")));
    QObject::connect(action, &QAction::triggered, &window, [&window] {
        auto* dialog = window.findChild<QDialog*>(QStringLiteral("ModelHelp"));
        if (dialog == nullptr) {
            dialog = new QDialog(&window);
            dialog->setObjectName(QStringLiteral("ModelHelp"));
            dialog->setWindowTitle(QObject::tr("The model"));
            auto* text = new QTextBrowser(dialog);
            text->setObjectName(QStringLiteral("ModelHelpText"));
            text->setHtml(ModelHelpText());
            auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
            QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
            auto* layout = new QVBoxLayout(dialog);
            layout->addWidget(text);
            layout->addWidget(buttons);
            dialog->resize(640, 600);
        }
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    });
}

} // namespace ui
} // namespace dravo2
