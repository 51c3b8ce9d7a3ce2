#include "ui/desktop_integration.h"

#include "ui/app_window.h"
#include "version/version.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>

// The resources of a static library are linked only when something names them.
static void InitIconResource() {
    Q_INIT_RESOURCE(dravo2_icons);
}

namespace dravo2 {
inline namespace ui {

QString AboutText() {
    return QStringLiteral("<h3>Dravo2 %1</h3>"
                          "<p>Simulation of the magnetisation curves of thin magnetic multilayers.</p>"
                          "<p>Copyright &copy; The Dravo2 developers.<br>Released under the MIT licence.</p>"
                          "<p>Libraries used:</p><ul>"
                          "<li>Qt %2 (GNU LGPL version 3)</li>"
                          "<li>Eigen 3 (Mozilla Public License 2.0)</li>"
                          "<li>NLopt (GNU LGPL version 2.1 or later; parts under the MIT licence)</li>"
                          "<li>JSON for Modern C++ by Niels Lohmann (MIT licence)</li>"
                          "<li>GNU C++ standard library (GNU GPL version 3 with the GCC Runtime Library "
                          "Exception)</li>"
                          "</ul>")
        .arg(QString::fromUtf8(kVersion.data(), static_cast<qsizetype>(kVersion.size())),
             QString::fromLatin1(qVersion()));
}

void InstallAboutActions(AppWindow& window) {
    InitIconResource();
    QIcon icon;
    for (int size : {48, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/org.dravo2.Dravo2-%1.png").arg(size), QSize(size, size));
    }
    window.setWindowIcon(icon);

    QAction* about = window.HelpMenu->addAction(QObject::tr("&About Dravo2"));
    about->setObjectName(QStringLiteral("AboutAction"));
    about->setMenuRole(QAction::AboutRole);
    QObject::connect(about, &QAction::triggered, &window, [&window] {
        // Window-modal and not waited for, so that the window's work goes on behind it.
        auto* box =
            new QMessageBox(QMessageBox::NoIcon, QObject::tr("About Dravo2"), AboutText(), QMessageBox::Ok, &window);
        box->setObjectName(QStringLiteral("AboutBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setIconPixmap(window.windowIcon().pixmap(64, 64));
        box->open();
    });
}

} // namespace ui
} // namespace dravo2
