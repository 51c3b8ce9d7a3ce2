#include "data/floating_point.h"
#include "plot/dial.h"
#include "plot/world_range.h"

#include <gtest/gtest.h>

namespace dravo2 {
namespace {

using Angles = std::array<long double, 4>;

Canvas FreshDial() {
    return Canvas(kDialSize, kDialSize);
}

TEST(Dial, EmptyDialOfAFreshProgram) {
    Canvas dial = FreshDial();
    ClearVectorScreen(dial, Angles{}, 0, -250);
    // Silver disc with a black rim; the corners stay white.
    EXPECT_EQ(dial.PixelAt(0, 0), kWhite);
    EXPECT_EQ(dial.PixelAt(60, 0), kBlack);
    EXPECT_EQ(dial.PixelAt(30, 30), kSilver);
    // Four dotted horizontal diameters from (0, 60) towards (120, 60): yellow, drawn last, shows,
    // its gaps silver; the field radius from the centre to (0, 60) is drawn over it in black.
    EXPECT_EQ(dial.PixelAt(63, 60), kSilver);
    EXPECT_EQ(dial.PixelAt(66, 60), LayerColour(4));
    EXPECT_EQ(dial.PixelAt(119, 60), kSilver);
    for (std::int32_t x = 1; x <= 60; ++x) {
        EXPECT_EQ(dial.PixelAt(x, 60), kBlack) << x;
    }
    EXPECT_EQ(dial.PenX(), 0);
    EXPECT_EQ(dial.PenY(), 60);
}

TEST(Dial, AxesAndFieldAtNinetyDegrees) {
    Canvas dial = FreshDial();
    const long double right = 90 * kPi / 180;
    ClearVectorScreen(dial, Angles{right, right, right, right}, static_cast<double>(right), -250);
    // The axis runs from (60, 120) towards (60, 0); the field radius points down to (59, 120).
    EXPECT_EQ(dial.PixelAt(60, 119), LayerColour(4));
    EXPECT_EQ(dial.PixelAt(60, 116), kSilver);
    EXPECT_EQ(dial.PixelAt(60, 5), LayerColour(4));
    EXPECT_EQ(dial.PixelAt(60, 0), kBlack); // the rim: the axis stops short of its end
    EXPECT_EQ(dial.PenX(), 59);
    EXPECT_EQ(dial.PenY(), 120);
}

TEST(Dial, NoFieldRadiusForAZeroInitialField) {
    Canvas dial = FreshDial();
    ClearVectorScreen(dial, Angles{}, 0, 0);
    EXPECT_EQ(dial.PenX(), 60);
    EXPECT_EQ(dial.PenY(), 60);
    EXPECT_EQ(dial.PixelAt(59, 60), kSilver);
    EXPECT_EQ(Sign(-0.0), 0);
    EXPECT_EQ(Sign(-3), -1);
    EXPECT_EQ(Sign(2), 1);
}

TEST(Dial, MagnetisationRadii) {
    struct Case {
        long double angle;
        std::int32_t x, y;
    };
    for (const Case c : {Case{0, 120, 60}, Case{kPi / 4, 102, 17}, Case{kPi, 0, 60}}) {
        SCOPED_TRACE(c.x);
        Canvas dial = FreshDial();
        ReplotVectorScreen(dial, Angles{}, 0, 250, Angles{c.angle, c.angle, c.angle, c.angle});
        EXPECT_EQ(dial.PenColour, kBlack);
        // The last radius drawn is layer 4's, from the centre towards the rim point.
        Canvas probe = FreshDial();
        probe.MoveTo(60, 60);
        probe.LineTo(c.x, c.y);
        std::int32_t yellow = 0;
        for (std::int32_t y = 0; y < kDialSize; ++y) {
            for (std::int32_t x = 0; x < kDialSize; ++x) {
                if (probe.PixelAt(x, y) == kBlack) {
                    EXPECT_EQ(dial.PixelAt(x, y), LayerColour(4)) << x << "," << y;
                    ++yellow;
                }
            }
        }
        EXPECT_GE(yellow, 43);
    }
}

} // namespace
} // namespace dravo2
