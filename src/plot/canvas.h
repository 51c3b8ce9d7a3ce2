#pragma once

#include <cstdint>
#include <vector>

namespace dravo2 {
inline namespace plot {

// A colour as 0xRRGGBB.
using Colour = std::uint32_t;

constexpr Colour Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return (r << 16) | (g << 8) | b;
}

inline constexpr Colour kWhite = Rgb(255, 255, 255);
inline constexpr Colour kBlack = Rgb(0, 0, 0);
inline constexpr Colour kGrey = Rgb(128, 128, 128);
inline constexpr Colour kSilver = Rgb(192, 192, 192);
inline constexpr Colour kRed = Rgb(255, 0, 0);
inline constexpr Colour kBlue = Rgb(0, 0, 255);

enum class PenStyle { Solid, Dotted };

// A raster image with a one-pixel pen and a solid brush. Lines run from the pen position up to,
// not including, their end point, which becomes the pen position; a dotted pen paints three
// pixels in its colour and three in the brush colour, in turn. Coordinates may lie anywhere in
// the 32-bit range: what falls outside the image is dropped. A new canvas is white.
class Canvas {
public:
    Canvas(std::int32_t width, std::int32_t height);

    std::int32_t Width() const { return W; }
    std::int32_t Height() const { return H; }
    const std::vector<Colour>& Pixels() const { return Buffer; }
    Colour PixelAt(std::int32_t x, std::int32_t y) const { return Buffer[Index(x, y)]; }

    Colour PenColour = kBlack;
    PenStyle Pen = PenStyle::Solid;
    Colour BrushColour = kWhite;

    std::int32_t PenX() const { return X; }
    std::int32_t PenY() const { return Y; }

    // Fills columns left..right-1 of rows top..bottom-1 with the brush.
    void FillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    void MoveTo(std::int32_t x, std::int32_t y);
    void LineTo(std::int32_t x, std::int32_t y);
    // Sets one pixel; the pen stays where it is.
    void SetPixel(std::int32_t x, std::int32_t y, Colour colour);
    // The ellipse inscribed in columns left..right-1 and rows top..bottom-1: filled with the
    // brush, outlined with the pen.
    void Ellipse(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);

private:
    std::size_t Index(std::int32_t x, std::int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(W) + static_cast<std::size_t>(x);
    }
    bool Inside(std::int64_t x, std::int64_t y) const { return x >= 0 && y >= 0 && x < W && y < H; }

    std::int32_t W;
    std::int32_t H;
    std::vector<Colour> Buffer;
    std::int32_t X = 0;
    std::int32_t Y = 0;
};

} // namespace plot
} // namespace dravo2
