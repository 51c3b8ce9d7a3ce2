#pragma once

#include "scan/scan_table.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <vector>

namespace dravo2 {
inline namespace scan {

// Computes the row of one grid point. Called from several threads at once: it must own all the
// state it changes (each call runs its own sweep).
using PointFunction = std::function<ScanRow(std::size_t point)>;

// Called on the calling thread, from time to time and once at the end, with the count of points done.
using ProgressFunction = std::function<void(std::size_t done)>;

// Runs `compute` on every point of `points` on `threads` worker threads. Row i of the result
// belongs to points[i], whatever the thread count. When `cancel` becomes true the workers stop
// taking new points and the rows so far are returned (the others left empty). An exception of
// a point stops the run and is rethrown here.
std::vector<ScanRow> RunScanPoints(const std::vector<std::size_t>& points, unsigned threads,
                                   const PointFunction& compute, const std::atomic<bool>& cancel,
                                   const ProgressFunction& progress = nullptr);

} // namespace scan
} // namespace dravo2
