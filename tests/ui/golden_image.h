#pragma once

#include "plot/canvas.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace dravo2::testing {

// Compares a canvas pixel by pixel with tests/golden/NAME.png. On a difference the actual image
// and a difference image (red where the pixels differ) are written into a temporary folder, whose
// path the failure names. With DRAVO2_RECORD_GOLDEN=1 in the environment the golden image is
// rewritten from the canvas instead: the one way to change a golden image.
inline void ExpectMatchesGolden(const Canvas& canvas, const std::string& name) {
    const QImage actual = QImage(reinterpret_cast<const uchar*>(canvas.Pixels().data()), canvas.Width(),
                                 canvas.Height(), static_cast<qsizetype>(canvas.Width()) * 4, QImage::Format_RGB32)
                              .copy();
    const QString golden = QStringLiteral(DRAVO2_GOLDEN_DIR "/") + QString::fromStdString(name) + ".png";
    const char* record = std::getenv("DRAVO2_RECORD_GOLDEN");
    if (record != nullptr && std::string(record) == "1") {
        ASSERT_TRUE(actual.save(golden, "PNG")) << golden.toStdString();
        return;
    }
    QImage expected;
    ASSERT_TRUE(expected.load(golden)) << "no golden image " << golden.toStdString()
                                       << " (record it with DRAVO2_RECORD_GOLDEN=1)";
    expected = expected.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(expected.size(), actual.size());
    QImage difference(actual.size(), QImage::Format_RGB32);
    difference.fill(Qt::white);
    int differing = 0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            if ((actual.pixel(x, y) & 0xFFFFFFu) != (expected.pixel(x, y) & 0xFFFFFFu)) {
                difference.setPixel(x, y, qRgb(255, 0, 0));
                ++differing;
            }
        }
    }
    if (differing > 0) {
        const QString folder = QDir::temp().filePath(QStringLiteral("dravo2-golden-XXXXXX"));
        QByteArray pattern = folder.toLocal8Bit();
        const char* made = ::mkdtemp(pattern.data());
        ASSERT_NE(made, nullptr);
        const QString out = QString::fromLocal8Bit(made);
        actual.save(out + "/" + QString::fromStdString(name) + "-actual.png", "PNG");
        difference.save(out + "/" + QString::fromStdString(name) + "-difference.png", "PNG");
        ADD_FAILURE() << differing << " pixels differ from " << golden.toStdString() << "; see " << out.toStdString();
    }
}

} // namespace dravo2::testing
