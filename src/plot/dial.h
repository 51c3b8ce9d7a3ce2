#pragma once

#include "plot/canvas.h"

#include <array>
#include <cstdint>

namespace dravo2 {
inline namespace plot {

inline constexpr std::int32_t kDialSize = 120;

// The pen colour of layer 1..4 on the dial: purple, blue, green, yellow.
Colour LayerColour(int layer);

// The dial background: a silver disc with a black outline, each layer's anisotropy axis
// (radians) as a dotted diameter in the layer's colour, and the field direction as a black
// radius that points along the field for a positive initial field, against it for a negative
// one, and has no length for 0.
void ClearVectorScreen(Canvas& dial, const std::array<long double, 4>& alpha, double fieldAngle, double startF);

// The background, then each layer's magnetisation direction (radians) as a solid radius in its
// colour, layers 1 to 4 in order.
void ReplotVectorScreen(Canvas& dial, const std::array<long double, 4>& alpha, double fieldAngle, double startF,
                        const std::array<long double, 4>& theta);

} // namespace plot
} // namespace dravo2
