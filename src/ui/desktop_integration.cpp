#include "ui/desktop_integration.h"

#include "ui/app_window.h"
#include "version/version.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

// The resources of a static library are linked only when something names them.
static void InitIconResource() {
    Q_INIT_RESOURCE(dravo2_icons);
}

namespace dravo2 {
namespace {

constexpr int kDatFilter = 2;

// The one local file of a drag, or an empty name when the drag holds anything else.
QString DraggedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 || !data->urls().constFirst().isLocalFile()) {
        return {};
    }
    return data->urls().constFirst().toLocalFile();
}

class DropFilter : public QObject {
public:
    DropFilter(AppWindow& window, GivenFileDialogs& dialogs) : QObject(&window), Window(window), Dialogs(dialogs) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::DragEnter) {
            auto* drag = static_cast<QDragEnterEvent*>(event);
            if (!DraggedFile(drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const QString name = DraggedFile(drop->mimeData());
            if (!name.isEmpty()) {
                drop->acceptProposedAction();
                OpenGivenFile(Window, Dialogs, name);
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    AppWindow& Window;
    GivenFileDialogs& Dialogs;
};

} // namespace

QString AboutText() {
    return QStringLiteral("<h3>Dravo2 %1</h3>"
                          "<p>Simulation of the magnetisation curves of thin magnetic multilayers.</p>"
                          "<p>Copyright &copy; The Dravo2 developers.<br>Released under the MIT licence.</p>"
                          "<p>Libraries used:</p><ul>"
                          "<li>Qt %2 (GNU LGPL version 3)</li>"
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

QString GivenFileDialogs::OpenExperiment(int& filterIndex) {
    if (Given.isEmpty()) {
        return Dialogs.OpenExperiment(filterIndex);
    }
    filterIndex = kDatFilter;
    QString name;
    name.swap(Given);
    return name;
}

void OpenGivenFile(AppWindow& window, GivenFileDialogs& dialogs, const QString& name) {
    dialogs.Give(name);
    window.Form().BOtworzDAT->click();
    dialogs.Give(QString());
}

void AcceptDroppedFiles(AppWindow& window, GivenFileDialogs& dialogs) {
    window.setAcceptDrops(true);
    window.installEventFilter(new DropFilter(window, dialogs));
}

} // namespace dravo2
