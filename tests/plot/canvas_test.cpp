#include "plot/canvas.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dravo2 {
namespace {

// The canvas as rows of characters: '.' white, '#' black, 's' silver, 'r' red, 'b' blue, '?' other.
std::vector<std::string> Ascii(const Canvas& canvas) {
    std::vector<std::string> rows;
    for (std::int32_t y = 0; y < canvas.Height(); ++y) {
        std::string row;
        for (std::int32_t x = 0; x < canvas.Width(); ++x) {
            switch (canvas.PixelAt(x, y)) {
            case kWhite:
                row += '.';
                break;
            case kBlack:
                row += '#';
                break;
            case kSilver:
                row += 's';
                break;
            case kRed:
                row += 'r';
                break;
            case kBlue:
                row += 'b';
                break;
            default:
                row += '?';
            }
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(Canvas, LinesExcludeTheirEndPixelAndMoveThePen) {
    Canvas c(6, 4);
    c.MoveTo(0, 0);
    c.LineTo(4, 0);
    c.LineTo(4, 3);
    c.LineTo(0, 3);
    EXPECT_EQ(c.PenX(), 0);
    EXPECT_EQ(c.PenY(), 3);
    const std::vector<std::string> expected = {
        "#####.",
        "....#.",
        "....#.",
        ".####.",
    };
    EXPECT_EQ(Ascii(c), expected);
}

TEST(Canvas, DiagonalsAndFarEndPointsAreClipped) {
    Canvas c(5, 5);
    c.MoveTo(0, 0);
    c.LineTo(5, 5);
    c.MoveTo(-2147483647, 2);
    c.LineTo(2147483647, 2);
    c.MoveTo(2, 2147483647);
    c.LineTo(2, -2147483647);
    const std::vector<std::string> expected = {
        "#.#..", ".##..", "#####", "..##.", "..#.#",
    };
    EXPECT_EQ(Ascii(c), expected);
}

TEST(Canvas, DottedPenPaintsItsGapsInTheBrushColour) {
    Canvas c(14, 2);
    c.BrushColour = kSilver;
    c.Pen = PenStyle::Dotted;
    c.MoveTo(0, 0);
    c.LineTo(13, 0);
    c.PenColour = kRed;
    c.MoveTo(13, 1);
    c.LineTo(0, 1);
    const std::vector<std::string> expected = {
        "###sss###sss#.",
        ".rsssrrrsssrrr",
    };
    EXPECT_EQ(Ascii(c), expected);
}

TEST(Canvas, FillSetPixelAndEllipse) {
    Canvas c(8, 6);
    c.BrushColour = kSilver;
    c.FillRect(1, 1, 3, 3);
    c.SetPixel(7, 5, kBlue);
    c.SetPixel(8, 5, kBlue);
    c.SetPixel(-1, 0, kBlue);
    EXPECT_EQ(Ascii(c)[1], ".ss.....");
    EXPECT_EQ(Ascii(c)[3], "........");
    EXPECT_EQ(Ascii(c)[5], ".......b");

    Canvas dial(8, 8);
    dial.BrushColour = kSilver;
    dial.Ellipse(0, 0, 8, 8);
    const std::vector<std::string> disc = {
        "..####..", ".#ssss#.", "#ssssss#", "#ssssss#", "#ssssss#", "#ssssss#", ".#ssss#.", "..####..",
    };
    EXPECT_EQ(Ascii(dial), disc);
}

} // namespace
} // namespace dravo2
