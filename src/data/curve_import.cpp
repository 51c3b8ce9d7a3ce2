#include "data/curve_import.h"

#include "data/curve_fields.h"
#include "data/curve_parsers.h"
#include "data/errors.h"
#include "data/file_io.h"
#include "data/input_limits.h"

namespace dravo2 {
inline namespace data {
namespace {

using curve_text::FieldKind;
using curve_text::Line;
using curve_text::LineCursor;
using curve_text::Lower;
using curve_text::ParseDelimited;
using curve_text::ParseMagnetometer;
using curve_text::ReadField;
using curve_text::Trim;

// The result file's line: eight values of 23 characters, each followed by four spaces.
bool IsResultLine(std::string_view text) {
    if (text.size() != static_cast<std::size_t>(MaxCols) * 27) {
        return false;
    }
    for (std::size_t c = 0; c < static_cast<std::size_t>(MaxCols); ++c) {
        double value = 0;
        if (text.substr(c * 27 + 23, 4) != "    " ||
            ReadField(text.substr(c * 27, 23), false, value) == FieldKind::Text) {
            return false;
        }
    }
    return true;
}

} // namespace

ParsedCurveFile ParseCurveFile(std::string_view bytes, const MeasuredLimits& limits) {
    if (bytes.size() > limits.FileBytes) {
        throw InputOutputError(MeasuredFileTooLargeMessage(limits.FileBytes));
    }
    bool header = false;
    std::optional<Line> first; // the first line that is not blank
    Line line;
    for (LineCursor cursor(bytes, limits.LineBytes); cursor.Next(line);) {
        const std::string_view trimmed = Trim(line.Text);
        if (!first && !trimmed.empty()) {
            first = line;
        }
        if (trimmed.size() == 6 && Lower(trimmed) == "[data]") {
            return ParseMagnetometer(cursor, line.Number, limits);
        }
        header = header || (trimmed.size() == 8 && Lower(trimmed) == "[header]");
    }
    if (header) {
        throw InputOutputError("The file has a [Header] section but no [Data] section");
    }
    ParsedCurveFile file = ParseDelimited(bytes, limits);
    if (first && IsResultLine(first->Text) && file.Columns.size() == static_cast<std::size_t>(MaxCols)) {
        file.Kind = CurveFileKind::ResultFile;
        const char* names[] = {"Field", "Projection", "Angle 1", "Angle 2", "Angle 3", "Angle 4", "GMR", "FMR"};
        const char* units[] = {"A/m", "T", "rad", "rad", "rad", "rad", "%", "Hz"};
        for (std::size_t c = 0; c < file.Columns.size(); ++c) {
            file.Columns[c].Name = names[c];
            file.Columns[c].Unit = units[c];
        }
    }
    return file;
}

std::string ReadCurveFileBytes(const std::string& path) {
    InputFile file(path);
    std::string bytes;
    char buffer[65536];
    while (const std::size_t count = file.Read(buffer, sizeof buffer)) {
        if (count > kMaxMeasuredFileBytes - bytes.size()) {
            throw InputOutputError(MeasuredFileTooLargeMessage());
        }
        bytes.append(buffer, count);
    }
    return bytes;
}

std::string DescribeCurveFile(const ParsedCurveFile& file) {
    switch (file.Kind) {
    case CurveFileKind::Magnetometer:
        return "Magnetometer export ([Header] and [Data])";
    case CurveFileKind::ResultFile:
        return "Result file of this program";
    case CurveFileKind::Delimited:
        break;
    }
    std::string text = "Delimited text (";
    switch (file.Separator) {
    case ',':
        text += "commas";
        break;
    case ';':
        text += "semicolons";
        break;
    case '\t':
        text += "TABs";
        break;
    default:
        text += "spaces";
        break;
    }
    return text + (file.DecimalComma ? ", decimal commas)" : ")");
}

} // namespace data
} // namespace dravo2
