// Widget tests run on the offscreen platform with a fixed font resolution.
#include "support/offscreen.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    dravo2::testing::UseOffscreenPlatform();
    // A test may re-run itself under another locale (see RegionalSeparatorTest).
    if (const char* locale = std::getenv("DRAVO2_TEST_LOCALE")) {
        ::setenv("LC_ALL", locale, 1);
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
