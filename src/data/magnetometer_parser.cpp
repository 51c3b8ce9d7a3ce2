#include "data/curve_parsers.h"
#include "data/curve_rows.h"
#include "data/errors.h"

namespace dravo2 {
inline namespace data {
namespace curve_text {

ParsedCurveFile ParseMagnetometer(LineCursor cursor, std::int32_t dataLine, const MeasuredLimits& limits) {
    ParsedCurveFile file;
    file.Kind = CurveFileKind::Magnetometer;
    file.Separator = ',';
    Line line;
    bool named = false;
    while (!named && cursor.Next(line)) {
        named = !Trim(line.Text).empty();
    }
    if (!named) {
        FailAt(dataLine, "the [Data] section has no row of column names");
    }
    for (const std::string& name : SplitFields(line.Text, ',')) {
        file.Columns.push_back({name, BracketedUnit(name), false});
    }
    RowGatherer rows(limits.Values);
    std::vector<double> row;
    while (cursor.Next(line)) {
        const std::vector<std::string> fields = SplitFields(line.Text, ',');
        row.assign(fields.size(), kNaN);
        bool any = false;
        for (std::size_t c = 0; c < fields.size(); ++c) {
            double value = 0;
            if (ReadField(fields[c], false, value) == FieldKind::Number) {
                row[c] = value;
                any = true;
            }
        }
        if (!any) {
            continue; // a blank line or a note of the instrument
        }
        if (row.size() > file.Columns.size()) {
            const std::size_t known = file.Columns.size();
            file.Columns.resize(row.size());
            GenericNames(file.Columns, known);
        }
        rows.Add(row, line.Number);
    }
    if (rows.Empty()) {
        throw InputOutputError("The [Data] section holds no rows of numbers");
    }
    rows.Finish(file, file.Columns.size());
    MarkValues(file);
    return file;
}

} // namespace curve_text
} // namespace data
} // namespace dravo2
