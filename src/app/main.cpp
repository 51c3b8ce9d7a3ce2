#include "ui/app_window.h"
#include "ui/import_actions.h"
#include "ui/platform.h"
#include "ui/session_actions.h"
#include "version/version.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <string_view>

namespace {

constexpr const char* kHelp = "Usage: dravo2 [--parameters SET] [FILE]\n"
                              "Opens the window of the thin magnetic multilayer simulator. A FILE given (or\n"
                              "dropped on the window) opens in the import of measured curves.\n\n"
                              "  --parameters SET  open the parameter set SET: KEY=VALUE lines as dravo2-fit\n"
                              "                    prints them and dravo2-sweep takes them\n"
                              "  -h, --help        show this help and exit\n"
                              "      --version     show the version and exit\n\n"
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
    // QApplication took its own options out of argv; what is left is the parameter set and the
    // file to import.
    QString parameters;
    QString file;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--parameters" || arg.starts_with("--parameters=")) {
            if (arg == "--parameters" && i + 1 >= argc) {
                std::fputs("dravo2: --parameters needs a file (see --help)\n", stderr);
                return 2;
            }
            parameters = QString::fromLocal8Bit(arg == "--parameters" ? argv[++i] : argv[i] + 13);
        } else if (file.isEmpty()) {
            file = QString::fromLocal8Bit(argv[i]);
        }
    }
    dravo2::AppWindow window(reporter, dialogs);
    // The session and the recent parameter files are kept in the user's settings.
    window.Session->SetSettingsFile(
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("dravo2"), QStringLiteral("dravo2"))
            .fileName());
    window.show();
    // Once the window is up.
    if (!parameters.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, parameters] { window.Session->OpenFile(parameters); });
    }
    if (!file.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, file] { window.MeasuredCurve->ImportFile(file); });
    }
    return QApplication::exec();
}
