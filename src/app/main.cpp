#include "ui/app_window.h"
#include "ui/import_actions.h"
#include "ui/platform.h"
#include "version/version.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <string_view>

namespace {

constexpr const char* kHelp = "Usage: dravo2 [FILE]\n"
                              "Opens the window of the thin magnetic multilayer simulator. A FILE given (or\n"
                              "dropped on the window) opens in the import of measured curves.\n\n"
                              "  -h, --help     show this help and exit\n"
                              "      --version  show the version and exit\n\n"
                              "The options of every Qt program (-platform, -style...) are accepted too.\n"
                              "dravo2-sweep runs the same sweeps without the window.\n";

} // namespace

int main(int argc, char** argv) {
    // Answered before the application exists, so that they need no display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::fputs(dravo2::VersionText("dravo2").c_str(), stdout);
            return 0;
        }
    }
    QApplication application(argc, argv);
    QApplication::setApplicationVersion(QString::fromUtf8(dravo2::kVersion.data(), dravo2::kVersion.size()));
    // Ties the window to the installed desktop entry and its icon (Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.dravo2.Dravo2"));
    // The classic style draws group captions on their frames, as the panel's layout expects.
    QApplication::setStyle(QStringLiteral("Windows"));
    dravo2::MessageBoxReporter reporter(nullptr);
    dravo2::QtFileDialogs dialogs(nullptr);
    dravo2::AppWindow window(reporter, dialogs);
    window.show();
    // QApplication took its own options out of argv; what is left first is the file to import,
    // once the window is up.
    if (argc > 1) {
        const QString file = QString::fromLocal8Bit(argv[1]);
        QTimer::singleShot(0, &window, [&window, file] { window.MeasuredCurve->ImportFile(file); });
    }
    return QApplication::exec();
}
