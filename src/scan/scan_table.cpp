#include "scan/scan_table.h"

#include "data/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>

namespace dravo2 {
inline namespace scan {
namespace {

constexpr const char* kShardPrefix = "# dravo2-scan shard ";

std::string Cell(const std::optional<double>& value) {
    return value ? RoundTripText(*value) : std::string();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> SplitCells(const std::string& line) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        cells.push_back(line.substr(start, comma - start));
        if (comma == std::string::npos) {
            return cells;
        }
        start = comma + 1;
    }
}

// A shard file as views into its bytes: the rows are read one after another while merging, so
// that a merge holds nothing but the files and the merged table.
struct ShardFile {
    std::string Name;
    Shard Part;
    std::size_t GridSize = 0;
    std::string_view Identity;
    std::string_view Header;
    std::string_view Rows; // every row with its "\n"
    std::size_t RowCount = 0;
};

ShardFile ReadShardFile(const std::string& name, std::string_view bytes) {
    ShardFile file;
    file.Name = name;
    const std::string notShard = name + " is not a shard file of dravo2-scan --shard";
    const std::string_view prefix = kShardPrefix;
    const std::size_t firstEnd = bytes.find('\n');
    const std::size_t headerEnd = firstEnd == std::string_view::npos ? firstEnd : bytes.find('\n', firstEnd + 1);
    if (!bytes.starts_with(prefix) || bytes.back() != '\n' || headerEnd == std::string_view::npos) {
        throw ScanMergeError(notShard);
    }
    const std::string_view first = bytes.substr(prefix.size(), firstEnd - prefix.size());
    const std::size_t comma = first.find(", ");
    const std::size_t points = first.find(" points: ");
    if (comma == std::string_view::npos || points == std::string_view::npos || points < comma) {
        throw ScanMergeError(notShard);
    }
    try {
        file.Part = ParseShard(std::string(first.substr(0, comma)));
    } catch (const ProgramError&) {
        throw ScanMergeError(notShard);
    }
    const std::string_view size = first.substr(comma + 2, points - comma - 2);
    const auto [ptr, ec] = std::from_chars(size.data(), size.data() + size.size(), file.GridSize);
    if (ec != std::errc() || ptr != size.data() + size.size()) {
        throw ScanMergeError(notShard);
    }
    if (file.GridSize > kMaxScanPoints) {
        throw ScanMergeError(name + " claims a scan of " + std::string(size) + " points, more than the " +
                             std::to_string(kMaxScanPoints) + " a scan computes");
    }
    file.Identity = first.substr(points + 9);
    file.Header = bytes.substr(firstEnd + 1, headerEnd - firstEnd - 1);
    file.Rows = bytes.substr(headerEnd + 1);
    file.RowCount = static_cast<std::size_t>(std::count(file.Rows.begin(), file.Rows.end(), '\n'));
    return file;
}

std::string PartText(const Shard& shard) {
    return std::to_string(shard.Index) + "/" + std::to_string(shard.Count);
}

std::optional<double> ReadCell(const std::string& cell) {
    double value = 0;
    const auto [ptr, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
    if (cell.empty() || ec != std::errc() || ptr != cell.data() + cell.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

const std::vector<std::string>& FeatureColumns() {
    static const std::vector<std::string> columns{"Hc_down (A/m)", "Hc_up (A/m)", "H_eb (A/m)",  "Hc (A/m)",
                                                  "Mr_down",       "Mr_up",       "H_sat (A/m)", "jumps",
                                                  "misfit",        "iterations"};
    return columns;
}

std::string ScanHeaderLine(const ScanGrid& grid) {
    std::string line;
    for (const ScanAxis& axis : grid.Axes) {
        line += axis.Name + ",";
    }
    for (const std::string& column : FeatureColumns()) {
        line += column + (&column == &FeatureColumns().back() ? "\n" : ",");
    }
    return line;
}

std::string ScanRowLine(const ScanRow& row) {
    std::string line;
    for (const double value : row.Parameters) {
        line += RoundTripText(value) + ",";
    }
    if (row.Features) {
        const LoopFeatures& f = *row.Features;
        for (const auto& value : {f.CoerciveDown, f.CoerciveUp, f.ExchangeBias, f.Coercivity, f.RemanenceDown,
                                  f.RemanenceUp, f.SaturationField}) {
            line += Cell(value) + ",";
        }
        line += std::to_string(f.Jumps) + "," + Cell(row.Misfit) + "," + std::to_string(row.Iterations) + "\n";
    } else {
        line += std::string(FeatureColumns().size() - 1, ',') + "\n";
    }
    return line;
}

std::string ShardLine(const Shard& shard, std::size_t gridSize, const std::string& scanIdentity) {
    return kShardPrefix + PartText(shard) + ", " + std::to_string(gridSize) + " points: " + scanIdentity + "\n";
}

std::string MergeShards(const std::vector<std::pair<std::string, std::string>>& files) {
    if (files.empty()) {
        throw ScanMergeError("No shard files to merge");
    }
    std::vector<ShardFile> shards;
    shards.reserve(files.size());
    for (const auto& [name, bytes] : files) {
        shards.push_back(ReadShardFile(name, bytes));
    }
    const ShardFile& first = shards.front();
    std::map<std::size_t, ShardFile*> byIndex;
    std::size_t rowBytes = 0;
    for (ShardFile& shard : shards) {
        if (shard.Identity != first.Identity || shard.GridSize != first.GridSize ||
            shard.Part.Count != first.Part.Count || shard.Header != first.Header) {
            throw ScanMergeError(shard.Name + " is a shard of another scan than " + first.Name + ":\n  " +
                                 std::string(shard.Identity) + " (" + PartText(shard.Part) + ")\n  " +
                                 std::string(first.Identity) + " (" + PartText(first.Part) + ")");
        }
        if (const auto [it, inserted] = byIndex.emplace(shard.Part.Index, &shard); !inserted) {
            throw ScanMergeError(shard.Name + " repeats shard " + PartText(shard.Part) + " of " + it->second->Name);
        }
        const std::size_t expected = shard.Part.PointCount(shard.GridSize);
        if (shard.RowCount != expected) {
            throw ScanMergeError(shard.Name + " holds " + std::to_string(shard.RowCount) + " rows where shard " +
                                 PartText(shard.Part) + " of " + std::to_string(shard.GridSize) + " points holds " +
                                 std::to_string(expected));
        }
        rowBytes += shard.Rows.size();
    }
    for (std::size_t k = 0; k < first.Part.Count; ++k) {
        if (byIndex.find(k) == byIndex.end()) {
            throw ScanMergeError("Shard " + std::to_string(k) + "/" + std::to_string(first.Part.Count) +
                                 " of the scan is missing: " + std::string(first.Identity));
        }
    }
    std::string merged;
    merged.reserve(first.Header.size() + 1 + rowBytes);
    merged.append(first.Header);
    merged += '\n';
    // Point i is the next unread row of shard i mod N.
    for (std::size_t i = 0; i < first.GridSize; ++i) {
        std::string_view& rows = byIndex[i % first.Part.Count]->Rows;
        const std::size_t end = rows.find('\n') + 1;
        merged.append(rows.substr(0, end));
        rows.remove_prefix(end);
    }
    return merged;
}

void CheckScanFeature(const std::string& feature) {
    for (const std::string& title : FeatureColumns()) {
        if (title == feature || title.rfind(feature + " (", 0) == 0) {
            return;
        }
    }
    std::string names;
    for (const std::string& title : FeatureColumns()) {
        names += (names.empty() ? "" : ", ") + title.substr(0, title.find(" ("));
    }
    throw ProgramError("'" + feature + "' is not a feature of the scan (" + names + ")");
}

ScanMap BuildScanMap(const std::string& table, const std::string& feature) {
    std::vector<std::string> lines;
    for (std::string& line : SplitLines(table)) {
        if (line.rfind('#', 0) != 0) {
            lines.push_back(std::move(line));
        }
    }
    if (lines.empty()) {
        throw ProgramError("The scan's table is empty");
    }
    const std::vector<std::string> header = SplitCells(lines[0]);
    const auto featuresBegin = std::find(header.begin(), header.end(), FeatureColumns().front());
    const std::size_t parameters = static_cast<std::size_t>(featuresBegin - header.begin());
    if (featuresBegin == header.end() || parameters == 0) {
        throw ProgramError("The table is not a table of dravo2-scan");
    }
    std::size_t column = header.size();
    for (std::size_t c = parameters; c < header.size(); ++c) {
        if (header[c] == feature || header[c].rfind(feature + " (", 0) == 0) {
            column = c;
        }
    }
    if (column == header.size()) {
        CheckScanFeature(feature);
        throw ProgramError("The table has no column '" + feature + "'");
    }
    ScanMap map;
    map.FeatureTitle = header[column];
    const std::size_t axes = std::min<std::size_t>(parameters, 2);
    map.AxisNames.assign(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(axes));
    map.AxisValues.resize(axes);
    std::vector<std::optional<double>> firstLater;
    std::map<std::pair<std::size_t, std::size_t>, std::optional<double>> cells;
    for (std::size_t r = 1; r < lines.size(); ++r) {
        const std::vector<std::string> rowCells = SplitCells(lines[r]);
        if (rowCells.size() != header.size()) {
            throw ProgramError("Row " + std::to_string(r) + " of the scan's table has " +
                               std::to_string(rowCells.size()) + " cells, not " + std::to_string(header.size()));
        }
        std::vector<std::optional<double>> later;
        for (std::size_t c = axes; c < parameters; ++c) {
            later.push_back(ReadCell(rowCells[c]));
        }
        if (r == 1) {
            firstLater = later;
        } else if (later != firstLater) {
            continue;
        }
        std::size_t position[2]{0, 0};
        for (std::size_t a = 0; a < axes; ++a) {
            const std::optional<double> value = ReadCell(rowCells[a]);
            if (!value) {
                throw ProgramError("Row " + std::to_string(r) + " of the scan's table has no value of " + header[a]);
            }
            std::vector<double>& values = map.AxisValues[a];
            const auto found = std::find(values.begin(), values.end(), *value);
            position[a] = static_cast<std::size_t>(found - values.begin());
            if (found == values.end()) {
                values.push_back(*value);
            }
        }
        cells[{position[0], position[1]}] = ReadCell(rowCells[column]);
    }
    const std::size_t ny = axes == 2 ? map.AxisValues[1].size() : 1;
    map.Values.assign(map.AxisValues[0].size() * ny, std::nullopt);
    for (const auto& [where, value] : cells) {
        map.Values[where.first * ny + where.second] = value;
    }
    return map;
}

std::optional<double> LargestOfParameter(const std::string& table, const std::string& name) {
    std::optional<std::size_t> column;
    std::optional<double> largest;
    for (const std::string& line : SplitLines(table)) {
        if (line.rfind('#', 0) == 0) {
            continue;
        }
        const std::vector<std::string> cells = SplitCells(line);
        if (!column) {
            const auto features = std::find(cells.begin(), cells.end(), FeatureColumns().front());
            const auto found = std::find(cells.begin(), features, name);
            if (found == features) {
                return std::nullopt;
            }
            column = static_cast<std::size_t>(found - cells.begin());
        } else if (*column < cells.size()) {
            if (const std::optional<double> value = ReadCell(cells[*column])) {
                largest = std::max(largest.value_or(0.0), std::abs(*value));
            }
        }
    }
    return largest;
}

} // namespace scan
} // namespace dravo2
