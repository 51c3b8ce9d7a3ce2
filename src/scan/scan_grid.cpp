#include "scan/scan_grid.h"

#include "data/errors.h"
#include "data/number_text.h"

#include <charconv>
#include <cmath>

namespace dravo2 {
inline namespace scan {
namespace {

template <typename Number> bool ReadWhole(const std::string& text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

} // namespace

double ScanAxis::Value(std::size_t i) const {
    if (Count <= 1 || i == 0) {
        return Lo;
    }
    if (i + 1 == Count) {
        return Hi;
    }
    return Lo + (Hi - Lo) * static_cast<double>(i) / static_cast<double>(Count - 1);
}

std::string ScanAxis::Text() const {
    return Name + "=" + RoundTripText(Lo) + ":" + RoundTripText(Hi) + ":" + std::to_string(Count);
}

bool LooksLikeAxis(const std::string& text) {
    const std::size_t equals = text.find('=');
    return equals != std::string::npos && text.find(':', equals) != std::string::npos;
}

ScanAxis ParseAxis(const std::string& text) {
    const std::size_t equals = text.find('=');
    const std::size_t first = text.find(':', equals == std::string::npos ? 0 : equals);
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    const std::string usage = "'" + text + "' is not a scanned parameter NAME=LO:HI:N";
    if (equals == std::string::npos || equals == 0 || second == std::string::npos ||
        text.find(':', second + 1) != std::string::npos) {
        throw ProgramError(usage);
    }
    ScanAxis axis;
    axis.Name = text.substr(0, equals);
    if (!ReadWhole(text.substr(equals + 1, first - equals - 1), axis.Lo) ||
        !ReadWhole(text.substr(first + 1, second - first - 1), axis.Hi) || !std::isfinite(axis.Lo) ||
        !std::isfinite(axis.Hi)) {
        throw ProgramError(usage + " (LO and HI are numbers)");
    }
    if (!std::isfinite(axis.Hi - axis.Lo)) {
        throw ProgramError(usage + " (the values between LO and HI overflow)");
    }
    if (!ReadWhole(text.substr(second + 1), axis.Count) || axis.Count < 1 || axis.Count > kMaxScanPoints) {
        throw ProgramError(usage + " (N is a count from 1 to " + std::to_string(kMaxScanPoints) + ")");
    }
    return axis;
}

std::size_t ScanGrid::Size() const {
    std::size_t size = 1;
    for (const ScanAxis& axis : Axes) {
        if (axis.Count > kMaxScanPoints / size) {
            throw ProgramError("The grid has more than " + std::to_string(kMaxScanPoints) +
                               " points, the most a scan computes");
        }
        size *= axis.Count;
    }
    return size;
}

std::vector<std::size_t> ScanGrid::Indices(std::size_t index) const {
    std::vector<std::size_t> indices(Axes.size());
    for (std::size_t a = Axes.size(); a-- > 0;) {
        indices[a] = index % Axes[a].Count;
        index /= Axes[a].Count;
    }
    return indices;
}

std::vector<double> ScanGrid::Point(std::size_t index) const {
    const std::vector<std::size_t> indices = Indices(index);
    std::vector<double> values(Axes.size());
    for (std::size_t a = 0; a < Axes.size(); ++a) {
        values[a] = Axes[a].Value(indices[a]);
    }
    return values;
}

std::vector<std::size_t> Shard::Points(std::size_t gridSize) const {
    std::vector<std::size_t> points;
    for (std::size_t i = Index; i < gridSize; i += Count) {
        points.push_back(i);
    }
    return points;
}

Shard ParseShard(const std::string& text) {
    const std::size_t slash = text.find('/');
    Shard shard;
    if (slash == std::string::npos || !ReadWhole(text.substr(0, slash), shard.Index) ||
        !ReadWhole(text.substr(slash + 1), shard.Count) || shard.Count < 1 || shard.Index >= shard.Count) {
        throw ProgramError("'" + text + "' is not a shard K/N with 0 <= K < N");
    }
    return shard;
}

} // namespace scan
} // namespace dravo2
