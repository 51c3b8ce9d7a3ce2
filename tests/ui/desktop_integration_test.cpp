#include "ui/app_window.h"
#include "ui/desktop_integration.h"
#include "ui/form_fixture.h"
#include "version/version.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace dravo2::testing {
namespace {

namespace fs = std::filesystem;

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::path(::testing::TempDir()) / ("dravo2_desktop_" + std::to_string(::getpid()));
        fs::remove_all(Dir);
        fs::create_directories(Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }

    QString Write(const std::string& name, const std::string& bytes) {
        const fs::path path = Dir / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return QString::fromStdString(path.string());
    }

    fs::path Dir;
    RecordingReporter Reporter;
    ScriptedDialogs Scripted;
    GivenFileDialogs Dialogs{Scripted};
    AppWindow Window{Reporter, Dialogs};
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
    box->close();
}

TEST_F(DesktopTest, AGivenFileLoadsThroughReadDa2WithTheDatFilter) {
    Window.Form().OpenFilterIndex = 1;
    OpenGivenFile(Window, Dialogs, Write("curve.txt", "sample\r\n@\r\n1 2\r\n3 4\r\n5 6\r\n"));
    EXPECT_EQ(Scripted.OfferedFilter, 0); // no dialog was shown
    EXPECT_EQ(Window.Form().OpenFilterIndex, 2);
    EXPECT_EQ(Window.Form().Experiment->ExpRows, 3);
    EXPECT_EQ(Window.Form().Experiment->ExpCols, 2);

    // The given file is used once; "Read .DA2" asks again afterwards.
    Window.Form().BOtworzDAT->click();
    EXPECT_EQ(Scripted.OfferedFilter, 2);
    EXPECT_EQ(Window.Form().Experiment->ExpRows, 3);
    EXPECT_TRUE(Reporter.Messages.empty());
}

TEST_F(DesktopTest, OneDroppedLocalFileLoadsAndOtherDragsAreRefused) {
    AcceptDroppedFiles(Window, Dialogs);
    EXPECT_TRUE(Window.acceptDrops());
    const QPointF at(100, 100);

    QMimeData two;
    two.setUrls({QUrl::fromLocalFile(Write("a.dat", "1 2\r\n")), QUrl::fromLocalFile(Write("b.dat", "1 2\r\n"))});
    QDragEnterEvent refused(at.toPoint(), Qt::CopyAction, &two, Qt::LeftButton, Qt::NoModifier);
    refused.setAccepted(false);
    QApplication::sendEvent(&Window, &refused);
    EXPECT_FALSE(refused.isAccepted());

    QMimeData one;
    one.setUrls({QUrl::fromLocalFile(Write("c.dat", "1 2\r\n3 4\r\n"))});
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &one, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QApplication::sendEvent(&Window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &one, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&Window, &drop);
    EXPECT_EQ(Window.Form().Experiment->ExpRows, 2);
    EXPECT_EQ(Window.Form().Experiment->ExpTable.At(2, 2), 4);
    EXPECT_EQ(Scripted.OfferedFilter, 0);
}

} // namespace
} // namespace dravo2::testing
