#include "ui/app_window.h"
#include "ui/platform.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The classic style draws group captions on their frames, as the panel's layout expects.
    QApplication::setStyle(QStringLiteral("Windows"));
    dravo2::MessageBoxReporter reporter(nullptr);
    dravo2::QtFileDialogs dialogs(nullptr);
    dravo2::AppWindow window(reporter, dialogs);
    window.show();
    return QApplication::exec();
}
