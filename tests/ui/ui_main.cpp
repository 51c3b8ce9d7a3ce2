// Widget tests run on the offscreen platform with a fixed font resolution.
#include "support/offscreen.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    dravo2::testing::UseOffscreenPlatform();
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
