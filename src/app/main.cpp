#include "ui/app_window.h"
#include "ui/platform.h"
#include "version/version.h"

#include <QApplication>

#include <cstdio>
#include <string_view>

namespace {

constexpr const char* kHelp = "Usage: dravo2 [FILE]\n"
                              "Opens the window of the thin magnetic multilayer simulator. A FILE given is\n"
                              "loaded as a measured curve, as \"Read .DA2\" loads it with the \"dat\" filter.\n\n"
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
    // The classic style draws group captions on their frames, as the panel's layout expects.
    QApplication::setStyle(QStringLiteral("Windows"));
    dravo2::MessageBoxReporter reporter(nullptr);
    dravo2::QtFileDialogs dialogs(nullptr);
    dravo2::AppWindow window(reporter, dialogs);
    window.show();
    return QApplication::exec();
}
