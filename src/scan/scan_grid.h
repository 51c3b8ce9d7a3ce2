#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace dravo2 {
inline namespace scan {

// The most points a scan computes: beyond it the table of rows alone would fill the memory, so
// grids and shard files claiming more are refused before anything is allocated.
inline constexpr std::size_t kMaxScanPoints = 10'000'000;

// One scanned parameter: Count evenly spaced values from Lo to Hi (Count = 1 gives Lo).
struct ScanAxis {
    std::string Name;
    double Lo = 0;
    double Hi = 0;
    std::size_t Count = 1;

    double Value(std::size_t i) const;
    std::string Text() const; // NAME=LO:HI:N with the numbers in their shortest text
};

// Reads NAME=LO:HI:N with 1 <= N <= kMaxScanPoints; throws ProgramError with the reason when it
// does not read.
ScanAxis ParseAxis(const std::string& text);

// Whether an argument is meant as a scanned parameter (a value with a colon) rather than KEY=VALUE.
bool LooksLikeAxis(const std::string& text);

// The grid of every combination of the axes' values, in grid order: the last axis varies fastest.
struct ScanGrid {
    std::vector<ScanAxis> Axes;

    // The count of points; throws ProgramError beyond kMaxScanPoints.
    std::size_t Size() const;
    std::vector<double> Point(std::size_t index) const;
    std::vector<std::size_t> Indices(std::size_t index) const; // each axis' value index at a point
};

// Part K of N of a grid: the points whose index modulo N is K.
struct Shard {
    std::size_t Index = 0;
    std::size_t Count = 1;

    bool Contains(std::size_t point) const { return point % Count == Index; }
    // How many of the grid's points the shard holds.
    std::size_t PointCount(std::size_t gridSize) const {
        return gridSize > Index ? (gridSize - Index - 1) / Count + 1 : 0;
    }
    std::vector<std::size_t> Points(std::size_t gridSize) const;
};

// Reads K/N with 0 <= K < N; throws ProgramError otherwise.
Shard ParseShard(const std::string& text);

} // namespace scan
} // namespace dravo2
