#pragma once

#include "plot/figure.h"

#include <optional>
#include <string>
#include <vector>

namespace dravo2 {
inline namespace plot {

// A map of one quantity over one or two evenly spaced parameters, for print, free of any drawing
// library. With two parameters it is a heat map: cell (ix, iy) centred on (X[ix], Y[iy]) in the
// colour of its value on a scale from ColourTicks.Low to ColourTicks.High. With one (Y empty) it
// is a line of markers through the values, on the value axis YTicks. A missing value leaves its
// cell grey, or a gap in the line.
struct MapFigure {
    std::string XTitle;                        // the first parameter, with its unit
    std::string YTitle;                        // the second parameter, or the quantity of a line
    std::string ValueTitle;                    // the quantity with its unit: the figure's title
    std::string Caption;                       // a note under the title, or empty
    std::vector<double> X;                     // the first parameter's values, in order
    std::vector<double> Y;                     // the second parameter's values; empty for a line
    std::vector<std::optional<double>> Values; // Values[ix * Y.size() + iy], or Values[ix] for a line
    AxisTicks XTicks;                          // Low and High bound the frame; ticks at round values
    AxisTicks YTicks;
    AxisTicks ColourTicks; // heat map only
    double WidthCm = 16;
    double HeightCm = 12;
    double FontPt = 10;
};

// How finely a quantity is known: values closer than Step cannot be told apart (the field step for
// a field read off a loop; 0 when there is no such limit). Name says what the step is, for the
// caption ("the field step").
struct Resolution {
    double Step = 0;
    std::string Name;
    std::string Unit;
};

// The map of `values` over the parameters `x` (and `y`, empty for a line) with their titles. The
// value scale covers every finite value but is never narrower than the resolution: when the values
// differ by less, it is centred on them with the resolution's width and the caption says so. The
// scale and the parameter axes end and are labelled at round numbers.
MapFigure BuildMapFigure(const std::string& xTitle, const std::vector<double>& x, const std::string& yTitle,
                         const std::vector<double>& y, const std::string& valueTitle,
                         const std::vector<std::optional<double>>& values, const Resolution& resolution);

} // namespace plot
} // namespace dravo2
