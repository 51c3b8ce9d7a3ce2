#pragma once

#include "analysis/loop_features.h"
#include "data/errors.h"
#include "scan/scan_grid.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dravo2 {
inline namespace scan {

// The result of one grid point. A point whose loop stopped on an error has no features.
struct ScanRow {
    std::vector<double> Parameters;
    std::optional<LoopFeatures> Features;
    std::optional<double> Misfit;
    std::int64_t Iterations = 0;
    std::string Problem; // why the loop stopped early (told on standard error, not written)
};

// The feature columns after the parameter columns, in order.
const std::vector<std::string>& FeatureColumns();

// The header line: the parameter keys, then the feature columns; comma separated, "\n" ended.
std::string ScanHeaderLine(const ScanGrid& grid);

// One row line: numbers in their shortest text, empty cells where a value does not exist.
std::string ScanRowLine(const ScanRow& row);

// The first line of a shard's file: which part of which scan it holds, so that a merge can tell
// the shards of one scan apart from any other file.
std::string ShardLine(const Shard& shard, std::size_t gridSize, const std::string& scanIdentity);

// Refusal of a merge: a shard missing, repeated, truncated or of another scan.
class ScanMergeError : public ProgramError {
public:
    using ProgramError::ProgramError;
};

// Joins the shard files (name, bytes) of one scan into the bytes the unsharded run writes.
std::string MergeShards(const std::vector<std::pair<std::string, std::string>>& files);

// Throws ProgramError "'FEATURE' is not a feature of the scan (...)" unless FEATURE is a feature
// column's title, with or without its unit: what --value may name.
void CheckScanFeature(const std::string& feature);

// The values of one feature over the first one or two parameters of a scan's table, for a map.
struct ScanMap {
    std::vector<std::string> AxisNames;          // one or two parameter keys
    std::vector<std::vector<double>> AxisValues; // the distinct values of each, in table order
    std::string FeatureTitle;                    // the feature's column title
    std::vector<std::optional<double>> Values;   // Values[ix * AxisValues[1].size() + iy]
};

// Reads a scan's table (shard lines skipped) and picks FEATURE (a column title, with or without
// its unit). With more than two parameters the later ones are taken at their first value.
// Throws ProgramError for an unknown feature or a table that does not read.
ScanMap BuildScanMap(const std::string& table, const std::string& feature);

// The largest magnitude of a parameter column of a scan's table, or none when the table has no
// such column (or no value in it).
std::optional<double> LargestOfParameter(const std::string& table, const std::string& name);

} // namespace scan
} // namespace dravo2
