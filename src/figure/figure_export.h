#pragma once

#include "plot/figure.h"
#include "plot/map_figure.h"

#include <memory>
#include <optional>
#include <string>

class QGuiApplication;
class QImage;
class QPainter;
class QRectF;

namespace dravo2 {
inline namespace figure {

enum class FigureFormat { Png, Svg, Pdf };

inline constexpr int kDefaultFigureDpi = 300;

// The most pixels a PNG figure may have (about 400 MB while it is drawn).
inline constexpr long long kMostFigurePixels = 100'000'000;

// Refuses (ProgramError) a PNG figure of `widthCm` by `heightCm` at `dpi` with more pixels than
// kMostFigurePixels, naming its size in pixels and the limit.
void CheckFigurePixels(double widthCm, double heightCm, int dpi);

// The format named by a file's extension (.png, .svg, .pdf in any case), or none.
std::optional<FigureFormat> FigureFormatForPath(const std::string& path);

// Draws the figure into `area` of a painter whose device has `pointsToDevice` device units per
// typographic point (1/72 inch); fonts are sized in points through the device's resolution.
void PaintFigure(QPainter& painter, const FigureDescription& figure, const QRectF& area, double pointsToDevice);

// Draws a map (a heat map with its colour bar, or a line over one parameter) into `area`, as
// PaintFigure draws a figure: the same frames, ticks, fonts and titles.
void PaintMapFigure(QPainter& painter, const MapFigure& figure, const QRectF& area, double pointsToDevice);

// The figure as a white picture of its size at `dpi` dots per inch, with the resolution recorded.
QImage RenderFigureImage(const FigureDescription& figure, int dpi);

// The bytes of a figure file: PNG at `dpi`, SVG (in points, with its size in millimetres) or a
// one-page PDF of the figure's size (in whole points). Needs a QGuiApplication (for the fonts); throws
// ProgramError without one, for a PNG of too many pixels (CheckFigurePixels) and for a drawing
// or an encoding that fails, so that no empty or partial figure is ever written.
std::string FigureFileBytes(const FigureDescription& figure, FigureFormat format, int dpi = kDefaultFigureDpi);

// The bytes of a map's file, as FigureFileBytes gives a figure's.
std::string FigureFileBytes(const MapFigure& figure, FigureFormat format, int dpi = kDefaultFigureDpi);

// Makes sure a QGuiApplication exists for drawing: when there is none, one is created on Qt's
// offscreen platform for the lifetime of this object; an existing one is used as it is.
class OffscreenGui {
public:
    OffscreenGui();
    ~OffscreenGui();
    OffscreenGui(const OffscreenGui&) = delete;
    OffscreenGui& operator=(const OffscreenGui&) = delete;

private:
    // The arguments the application keeps a reference to; declared first so they outlive it.
    int Argc = 0;
    char* Argv[4] = {};
    std::unique_ptr<QGuiApplication> Owned;
};

} // namespace figure
} // namespace dravo2
