#include "analysis/loop_features.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace dravo2 {
inline namespace analysis {
namespace {

double Interpolate(double x0, double y0, double x1, double y1, double x) {
    return y0 + (y1 - y0) * (x - x0) / (x1 - x0);
}

bool Falling(const LoopBranch& branch) {
    return branch.Field.size() >= 2 && branch.Field.back() < branch.Field.front();
}

bool Rising(const LoopBranch& branch) {
    return branch.Field.size() >= 2 && branch.Field.back() > branch.Field.front();
}

std::vector<double> Normalised(const LoopBranch& branch, double saturation) {
    std::vector<double> values(branch.Value.size());
    std::transform(branch.Value.begin(), branch.Value.end(), values.begin(),
                   [saturation](double v) { return v / saturation; });
    return values;
}

int CountJumps(const std::vector<double>& values) {
    int jumps = 0;
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (std::fabs(values[i] - values[i - 1]) > kJumpSize) {
            ++jumps;
        }
    }
    return jumps;
}

// Samples are taken as they are (no interpolation of the 0.99 level): the smallest sampled |H|
// from which on every sample of larger or equal |H| is saturated; none when the outermost sample
// is not.
std::optional<double> SaturationField(const LoopBranch& down, const std::vector<double>& downValues,
                                      const LoopBranch& up, const std::vector<double>& upValues) {
    double unsaturatedUpTo = -1;
    bool any = false;
    auto scan = [&](const LoopBranch& branch, const std::vector<double>& values) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            any = true;
            if (!(std::fabs(values[i]) >= kSaturatedValue)) {
                unsaturatedUpTo = std::max(unsaturatedUpTo, std::fabs(branch.Field[i]));
            }
        }
    };
    scan(down, downValues);
    scan(up, upValues);
    std::optional<double> field;
    auto pick = [&](const LoopBranch& branch) {
        for (const double h : branch.Field) {
            const double magnitude = std::fabs(h);
            if (any && magnitude > unsaturatedUpTo && (!field || magnitude < *field)) {
                field = magnitude;
            }
        }
    };
    pick(down);
    pick(up);
    return field;
}

} // namespace

std::optional<double> FirstZeroCrossing(std::span<const double> x, std::span<const double> y) {
    const std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (y[i] == 0) {
            return x[i];
        }
        if (i + 1 < n && ((y[i] < 0 && y[i + 1] > 0) || (y[i] > 0 && y[i + 1] < 0))) {
            return x[i] + (x[i + 1] - x[i]) * (0 - y[i]) / (y[i + 1] - y[i]);
        }
    }
    return std::nullopt;
}

std::optional<double> ValueAtZero(std::span<const double> x, std::span<const double> y) {
    const std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] == 0) {
            return y[i];
        }
        if (i + 1 < n && ((x[i] < 0 && x[i + 1] > 0) || (x[i] > 0 && x[i + 1] < 0))) {
            return Interpolate(x[i], y[i], x[i + 1], y[i + 1], 0);
        }
    }
    return std::nullopt;
}

LoopFeatures ComputeLoopFeatures(const LoopBranch& first, const LoopBranch& second, double saturation) {
    LoopFeatures features;
    if (!(saturation > 0) || !std::isfinite(saturation)) {
        return features;
    }
    const bool firstIsDown = Falling(first) && !Falling(second);
    const bool secondIsUp = Rising(second) && !Rising(first);
    const bool swap = firstIsDown || secondIsUp;
    const LoopBranch& down = swap ? first : second;
    const LoopBranch& up = swap ? second : first;
    const std::vector<double> downValues = Normalised(down, saturation);
    const std::vector<double> upValues = Normalised(up, saturation);

    features.CoerciveDown = FirstZeroCrossing(down.Field, downValues);
    features.CoerciveUp = FirstZeroCrossing(up.Field, upValues);
    if (features.CoerciveDown && features.CoerciveUp) {
        features.ExchangeBias = (*features.CoerciveDown + *features.CoerciveUp) / 2;
        features.Coercivity = (*features.CoerciveUp - *features.CoerciveDown) / 2;
    }
    features.RemanenceDown = ValueAtZero(down.Field, downValues);
    features.RemanenceUp = ValueAtZero(up.Field, upValues);
    features.SaturationField = SaturationField(down, downValues, up, upValues);
    features.Jumps = CountJumps(downValues) + CountJumps(upValues);
    return features;
}

} // namespace analysis
} // namespace dravo2
