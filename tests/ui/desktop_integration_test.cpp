#include "ui/app_window.h"
#include "ui/desktop_integration.h"
#include "ui/form_fixture.h"
#include "version/version.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTextBrowser>

namespace dravo2::testing {
namespace {

class DesktopTest : public ::testing::Test {
protected:
    RecordingReporter Reporter;
    ScriptedDialogs Scripted;
    AppWindow Window{Reporter, Scripted};
};

TEST_F(DesktopTest, IconAndAboutBoxWithVersionLicenceAndLibraries) {
    // The icon comes from the library's resources, which the linker drops unless they are named.
    const QList<QSize> sizes = Window.windowIcon().availableSizes();
    for (int size : {48, 128, 256}) {
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    }

    Window.show();
    EXPECT_TRUE(Window.HelpMenu->menuAction()->isVisible());
    auto* about = Window.HelpMenu->findChild<QAction*>(QStringLiteral("AboutAction"));
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QStringLiteral("&About Dravo2"));
    about->trigger();
    auto* box = Window.findChild<QMessageBox*>(QStringLiteral("AboutBox"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible()); // shown without blocking the window
    const QString text = box->text();
    EXPECT_TRUE(text.contains(QStringLiteral("Dravo2 ") + QString::fromUtf8(kVersion.data(), kVersion.size())));
    EXPECT_TRUE(text.contains(QStringLiteral("MIT licence")));
    EXPECT_TRUE(text.contains(QStringLiteral("Qt ") + QString::fromLatin1(qVersion()) + QStringLiteral(" (GNU LGPL")));
    EXPECT_TRUE(text.contains(QStringLiteral("Eigen 3 (Mozilla Public License 2.0)")));
    box->close();
}

TEST_F(DesktopTest, TheModelIsExplainedUnderHelpWithoutBlockingTheWindow) {
    Window.show();
    auto* action = Window.HelpMenu->findChild<QAction*>(QStringLiteral("ModelHelpAction"));
    ASSERT_NE(action, nullptr);
    action->trigger();
    auto* text = Window.findChild<QTextBrowser*>(QStringLiteral("ModelHelpText"));
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->window()->isVisible());
    EXPECT_FALSE(text->window()->isModal());
    const QString plain = text->toPlainText();
    for (const char* part : {"J > 0 couples parallel", "J < 0 antiparallel", "Noise kick", "J/m3", "Normalize",
                             "UA / QU", "plan / perp", "Result file", "@"}) {
        SCOPED_TRACE(part);
        EXPECT_TRUE(plain.contains(QString::fromUtf8(part)));
    }
}

} // namespace
} // namespace dravo2::testing
