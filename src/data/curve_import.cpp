#include "data/curve_import.h"

#include "data/errors.h"
#include "data/file_io.h"
#include "data/input_limits.h"
#include "data/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>

namespace dravo2 {
inline namespace data {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMu0 = 4e-7 * std::numbers::pi;

struct Line {
    std::int32_t Number = 0;
    std::string_view Text;
};

[[noreturn]] void FailAt(std::int32_t line, const std::string& problem) {
    throw InputOutputError("Line " + std::to_string(line) + ": " + problem);
}

// The lines of a text one after another, ending at CR LF, LF or a lone CR, without their ends.
// Lines are views into the text, so that going through them again costs no memory.
class LineCursor {
public:
    LineCursor(std::string_view bytes, std::size_t maxLineBytes) : Bytes(bytes), MaxLineBytes(maxLineBytes) {}

    // The next line; false at the end. Throws for a line longer than the import reads.
    bool Next(Line& line) {
        if (Pos >= Bytes.size()) {
            return false;
        }
        std::size_t end = Bytes.find_first_of("\r\n", Pos);
        if (end == std::string_view::npos) {
            end = Bytes.size();
        }
        if (end - Pos > MaxLineBytes) {
            FailAt(Number, "longer than " + ByteCountText(MaxLineBytes) + ", the longest line the import reads");
        }
        line = {Number++, Bytes.substr(Pos, end - Pos)};
        Pos = end;
        if (Pos < Bytes.size()) {
            if (Bytes[Pos] == '\r' && Pos + 1 < Bytes.size() && Bytes[Pos + 1] == '\n') {
                ++Pos;
            }
            ++Pos;
        }
        return true;
    }

private:
    std::string_view Bytes;
    std::size_t MaxLineBytes;
    std::size_t Pos = 0;
    std::int32_t Number = 1;
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

enum class FieldKind { Empty, Number, Text };

// A field as a number: optional sign, digits with an optional decimal separator (the comma too
// where `decimalComma`), optional exponent. "NaN" and "Inf" in any case count as empty, because
// neither can be drawn or compared.
FieldKind ReadField(std::string_view text, bool decimalComma, double& value) {
    text = Trim(text);
    if (text.empty()) {
        return FieldKind::Empty;
    }
    const std::string lower = Lower(text);
    if (lower == "nan" || lower == "inf" || lower == "+inf" || lower == "-inf") {
        return FieldKind::Empty;
    }
    std::string buffer(text.front() == '+' ? text.substr(1) : text);
    if (buffer.empty() || !(std::isdigit(static_cast<unsigned char>(buffer.front())) || buffer.front() == '.' ||
                            buffer.front() == '-' || (decimalComma && buffer.front() == ','))) {
        return FieldKind::Text;
    }
    if (decimalComma) {
        std::replace(buffer.begin(), buffer.end(), ',', '.');
    }
    const char* first = buffer.data();
    const char* last = first + buffer.size();
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (error != std::errc() || end != last || !std::isfinite(value)) {
        return FieldKind::Text;
    }
    return FieldKind::Number;
}

// Fields of a line separated by `separator`, each trimmed; a field in double quotes may hold the
// separator (a doubled quote stands for one). A space separator splits at runs of spaces and TABs.
std::vector<std::string> SplitFields(std::string_view line, char separator) {
    std::vector<std::string> fields;
    if (separator == ' ') {
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && IsBlank(line[i])) {
                ++i;
            }
            const std::size_t begin = i;
            while (i < line.size() && !IsBlank(line[i])) {
                ++i;
            }
            if (i > begin) {
                fields.emplace_back(line.substr(begin, i - begin));
            }
        }
        return fields;
    }
    std::string field;
    bool quoted = false;
    bool wasQuoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && Trim(field).empty()) {
            quoted = true;
            wasQuoted = true;
            field.clear();
        } else if (c == separator) {
            fields.push_back(wasQuoted ? field : std::string(Trim(field)));
            field.clear();
            wasQuoted = false;
        } else if (!(wasQuoted && IsBlank(c))) {
            field += c;
        }
    }
    fields.push_back(wasQuoted ? field : std::string(Trim(field)));
    return fields;
}

// The last group in round or square brackets of a column name ("Mag (Data) (kA/m)" -> "kA/m").
std::string BracketedUnit(std::string_view name) {
    name = Trim(name);
    if (name.empty() || (name.back() != ')' && name.back() != ']')) {
        return {};
    }
    const char open = name.back() == ')' ? '(' : '[';
    const std::size_t at = name.rfind(open);
    if (at == std::string_view::npos) {
        return {};
    }
    return std::string(Trim(name.substr(at + 1, name.size() - at - 2)));
}

// A name without its bracketed unit, lower case ("Magnetic Field (Oe)" -> "magnetic field").
std::string BareName(const CurveColumn& column) {
    std::string_view name = Trim(column.Name);
    if (!BracketedUnit(name).empty() || (name.size() >= 2 && (name.substr(name.size() - 2) == "()"))) {
        const char open = name.back() == ')' ? '(' : '[';
        name = Trim(name.substr(0, name.rfind(open)));
    }
    return Lower(name);
}

std::string UnitCell(std::string_view text) {
    text = Trim(text);
    if (text.size() >= 2 &&
        ((text.front() == '(' && text.back() == ')') || (text.front() == '[' && text.back() == ']'))) {
        text = Trim(text.substr(1, text.size() - 2));
    }
    return std::string(text);
}

void GenericNames(std::vector<CurveColumn>& columns, std::size_t from) {
    for (std::size_t i = from; i < columns.size(); ++i) {
        columns[i].Name = "Column " + std::to_string(i + 1);
    }
}

void MarkValues(ParsedCurveFile& file) {
    for (std::size_t r = 0; r < file.RowCount(); ++r) {
        const std::span<const double> row = file.Row(r);
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (!std::isnan(row[c])) {
                file.Columns[c].HasValues = true;
            }
        }
    }
}

// Rows of numbers of differing lengths, gathered one after another as they are read and laid out
// as a table of equal rows at the end, so that the file's widest row costs no memory on the others
// until the table's width is known. Refuses more values than the import keeps.
class RowGatherer {
public:
    explicit RowGatherer(std::size_t maxValues) : MaxValues(maxValues) {}

    void Add(const std::vector<double>& row, std::int32_t line) {
        WidestRow = std::max(WidestRow, row.size());
        if (WidestRow > MaxValues / (Widths.size() + 1)) {
            FailAt(line, TooManyValues());
        }
        Values.insert(Values.end(), row.begin(), row.end());
        Widths.push_back(static_cast<std::uint32_t>(row.size()));
        Lines.push_back(line);
    }

    bool Empty() const { return Widths.empty(); }
    std::size_t Widest() const { return WidestRow; }

    // Moves the rows into `file`, each padded with NaN to `columns` values.
    void Finish(ParsedCurveFile& file, std::size_t columns) {
        const std::size_t rows = Widths.size();
        if (columns > 0 && rows > MaxValues / columns) {
            throw InputOutputError("The file's " + std::to_string(rows) + " rows of " + std::to_string(columns) +
                                   " columns are " + TooManyValues());
        }
        std::size_t source = Values.size();
        Values.resize(rows * columns, kNaN);
        // From the last row back, each row moves to a place at or after its own.
        for (std::size_t r = rows; r-- > 0;) {
            const std::size_t width = Widths[r];
            source -= width;
            const std::size_t target = r * columns;
            const auto begin = Values.begin() + static_cast<std::ptrdiff_t>(source);
            if (target != source) {
                std::move_backward(begin, begin + static_cast<std::ptrdiff_t>(width),
                                   Values.begin() + static_cast<std::ptrdiff_t>(target + width));
            }
            std::fill(Values.begin() + static_cast<std::ptrdiff_t>(target + width),
                      Values.begin() + static_cast<std::ptrdiff_t>(target + columns), kNaN);
        }
        file.Values = std::move(Values);
        file.RowLines = std::move(Lines);
        Widths.clear();
        Widths.shrink_to_fit();
    }

private:
    std::string TooManyValues() const {
        return "more than " + std::to_string(MaxValues) + " values (rows times columns), the most the import keeps";
    }

    std::size_t MaxValues;
    std::vector<double> Values;
    std::vector<std::uint32_t> Widths;
    std::vector<std::int32_t> Lines;
    std::size_t WidestRow = 0;
};

bool IsComment(std::string_view text) {
    text = Trim(text);
    return !text.empty() && (text.front() == '#' || text.front() == '%' || text.front() == '!');
}

bool LooksLikeData(std::string_view text) {
    text = Trim(text);
    return !text.empty() && (std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '-' ||
                             text.front() == '+' || text.front() == '.');
}

// Space-separated names that carry their unit after a space ("H (Oe) M (emu)"): a bracketed
// token joins the name before it.
std::vector<std::string> JoinBracketedTokens(const std::vector<std::string>& tokens) {
    std::vector<std::string> names;
    for (const std::string& token : tokens) {
        if (!names.empty() && (token.front() == '(' || token.front() == '[')) {
            names.back() += " " + token;
        } else {
            names.push_back(token);
        }
    }
    return names;
}

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

// The rows after the line `[Data]`, which `cursor` has just passed.
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

ParsedCurveFile ParseDelimited(std::string_view bytes, const MeasuredLimits& limits) {
    ParsedCurveFile file;
    // A first pass finds the separator among the lines that start like a number (the names row
    // may differ), or among all content lines where none does.
    struct Seen {
        bool Tab = false;
        bool Semicolon = false;
        bool Comma = false;
        void Add(std::string_view text) {
            Tab = Tab || text.find('\t') != std::string_view::npos;
            Semicolon = Semicolon || text.find(';') != std::string_view::npos;
            Comma = Comma || text.find(',') != std::string_view::npos;
        }
    };
    Seen inData;
    Seen inContent;
    bool anyContent = false;
    bool anyComment = false;
    bool anyData = false;
    Line line;
    for (LineCursor cursor(bytes, limits.LineBytes); cursor.Next(line);) {
        if (Trim(line.Text).empty()) {
            continue;
        }
        if (IsComment(line.Text)) {
            anyComment = true;
            continue;
        }
        anyContent = true;
        inContent.Add(line.Text);
        if (LooksLikeData(line.Text)) {
            anyData = true;
            inData.Add(line.Text);
        }
    }
    if (!anyContent) {
        throw InputOutputError(anyComment ? "The file holds only comments" : "The file is empty");
    }
    const Seen& judged = anyData ? inData : inContent;
    file.Separator = judged.Tab ? '\t' : judged.Semicolon ? ';' : judged.Comma ? ',' : ' ';
    if (file.Separator == ';' || file.Separator == '\t') {
        for (LineCursor cursor(bytes, limits.LineBytes); !file.DecimalComma && cursor.Next(line);) {
            if (Trim(line.Text).empty() || IsComment(line.Text) || (anyData && !LooksLikeData(line.Text))) {
                continue;
            }
            for (const std::string& field : SplitFields(line.Text, file.Separator)) {
                double value = 0;
                if (field.find(',') != std::string::npos && field.find('.') == std::string::npos &&
                    ReadField(field, true, value) == FieldKind::Number) {
                    file.DecimalComma = true;
                }
            }
        }
    }

    std::vector<std::vector<std::string>> header;
    RowGatherer rows(limits.Values);
    std::optional<Line> lastComment;
    std::optional<Line> commentBeforeData; // the comment line met last before the first row of numbers
    std::vector<double> row;
    for (LineCursor cursor(bytes, limits.LineBytes); cursor.Next(line);) {
        if (Trim(line.Text).empty()) {
            continue;
        }
        if (IsComment(line.Text)) {
            lastComment = line;
            continue;
        }
        const std::vector<std::string> fields = SplitFields(line.Text, file.Separator);
        row.assign(fields.size(), kNaN);
        std::size_t numbers = 0;
        std::size_t firstText = fields.size();
        for (std::size_t c = 0; c < fields.size(); ++c) {
            const FieldKind kind = ReadField(fields[c], file.DecimalComma, row[c]);
            if (kind == FieldKind::Number) {
                ++numbers;
            } else {
                row[c] = kNaN;
                if (kind == FieldKind::Text && firstText == fields.size()) {
                    firstText = c;
                }
            }
        }
        if (numbers == 0 && firstText == fields.size()) {
            continue; // only separators
        }
        if (firstText < fields.size()) {
            if (!rows.Empty()) {
                FailAt(line.Number,
                       "'" + fields[firstText] + "' in column " + std::to_string(firstText + 1) + " is not a number");
            }
            if (header.size() == 2) {
                FailAt(line.Number, "a third row of text before the numbers: only a row of names and a row of "
                                    "units may precede them");
            }
            header.push_back(fields);
            continue;
        }
        if (rows.Empty()) {
            commentBeforeData = lastComment;
        }
        rows.Add(row, line.Number);
    }
    if (rows.Empty()) {
        throw InputOutputError("The file holds no rows of numbers, only " + std::to_string(header.size()) +
                               (header.size() == 1 ? " row of text" : " rows of text"));
    }
    std::size_t columns = rows.Widest();

    std::vector<std::string> names;
    if (!header.empty()) {
        names = header[0];
        if (file.Separator == ' ' && names.size() > columns) {
            names = JoinBracketedTokens(names);
        }
    } else if (commentBeforeData) {
        // A names row written as the last comment before the numbers ("# Field (T),Moment (emu)").
        std::string_view text = Trim(commentBeforeData->Text);
        text.remove_prefix(1);
        std::vector<std::string> fields = SplitFields(text, file.Separator);
        if (file.Separator == ' ') {
            fields = JoinBracketedTokens(fields);
        }
        double value = 0;
        if (fields.size() == columns && std::any_of(fields.begin(), fields.end(), [&](const std::string& f) {
                return ReadField(f, file.DecimalComma, value) == FieldKind::Text;
            })) {
            names = fields;
        }
    }
    if (file.Separator != ' ' || names.size() <= columns) {
        columns = std::max(columns, names.size());
    } else {
        names.clear(); // space-separated names with spaces in them cannot be told apart
    }
    rows.Finish(file, columns);
    file.Columns.resize(columns);
    GenericNames(file.Columns, 0);
    for (std::size_t c = 0; c < names.size() && c < columns; ++c) {
        if (!names[c].empty()) {
            file.Columns[c].Name = names[c];
        }
        file.Columns[c].Unit = BracketedUnit(names[c]);
    }
    if (header.size() == 2) {
        for (std::size_t c = 0; c < header[1].size() && c < columns; ++c) {
            if (!UnitCell(header[1][c]).empty()) {
                file.Columns[c].Unit = UnitCell(header[1][c]);
            }
        }
    }
    MarkValues(file);
    return file;
}

bool NameIn(const std::string& bare, std::initializer_list<std::string_view> list) {
    return std::any_of(list.begin(), list.end(), [&bare](std::string_view name) { return bare == name; });
}

bool NameHas(const std::string& bare, std::initializer_list<std::string_view> list) {
    return std::any_of(list.begin(), list.end(),
                       [&bare](std::string_view part) { return bare.find(part) != std::string::npos; });
}

} // namespace

std::string FieldUnitName(FieldUnit unit) {
    switch (unit) {
    case FieldUnit::AmperePerMetre:
        return "A/m";
    case FieldUnit::KiloAmperePerMetre:
        return "kA/m";
    case FieldUnit::Oersted:
        return "Oe";
    case FieldUnit::MilliTesla:
        return "mT";
    case FieldUnit::Tesla:
        return "T";
    }
    return "A/m";
}

double FieldUnitToAmperePerMetre(FieldUnit unit) {
    switch (unit) {
    case FieldUnit::AmperePerMetre:
        return 1.0;
    case FieldUnit::KiloAmperePerMetre:
        return 1e3;
    case FieldUnit::Oersted:
        return 1e3 / (4 * std::numbers::pi);
    case FieldUnit::MilliTesla:
        return 1e-3 / kMu0;
    case FieldUnit::Tesla:
        return 1.0 / kMu0;
    }
    return 1.0;
}

std::optional<FieldUnit> FieldUnitFromText(std::string_view text) {
    std::string unit = Lower(UnitCell(text));
    std::erase(unit, ' ');
    if (unit == "a/m" || unit == "am^-1" || unit == "am-1") {
        return FieldUnit::AmperePerMetre;
    }
    if (unit == "ka/m" || unit == "kam^-1" || unit == "kam-1") {
        return FieldUnit::KiloAmperePerMetre;
    }
    if (unit == "oe" || unit == "oersted") {
        return FieldUnit::Oersted;
    }
    if (unit == "mt" || unit == "millitesla") {
        return FieldUnit::MilliTesla;
    }
    if (unit == "t" || unit == "tesla") {
        return FieldUnit::Tesla;
    }
    return std::nullopt;
}

std::optional<double> MomentUnitFromText(std::string_view text) {
    std::string unit = Lower(UnitCell(text));
    std::erase(unit, ' ');
    if (unit == "emu") {
        return 1e-3;
    }
    if (unit == "am2" || unit == "am^2" || unit == "a*m2" || unit == "a*m^2" || unit == "a.m2" || unit == "a.m^2" ||
        unit == "a\u00b7m\u00b2" || unit == "a\u00b7m2" || unit == "am\u00b2") {
        return 1.0;
    }
    return std::nullopt;
}

std::optional<double> FrequencyUnitFromText(std::string_view text) {
    std::string unit = Lower(UnitCell(text));
    std::erase(unit, ' ');
    if (unit == "hz") {
        return 1.0;
    }
    if (unit == "khz") {
        return 1e3;
    }
    if (unit == "mhz") {
        return 1e6;
    }
    if (unit == "ghz") {
        return 1e9;
    }
    return std::nullopt;
}

std::optional<double> SampleAreaFromText(std::string_view text) {
    struct AreaUnit {
        std::string_view Name;
        double SquareMetres;
    };
    static constexpr AreaUnit kUnits[] = {{"cm^2", 1e-4}, {"mm^2", 1e-6}, {"m^2", 1.0},
                                          {"cm2", 1e-4},  {"mm2", 1e-6},  {"m2", 1.0}};
    const std::string_view trimmed = Trim(text);
    for (const AreaUnit& unit : kUnits) {
        if (trimmed.size() > unit.Name.size() && trimmed.ends_with(unit.Name)) {
            const std::string_view number = Trim(trimmed.substr(0, trimmed.size() - unit.Name.size()));
            double value = 0;
            const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
            const double area = value * unit.SquareMetres;
            if (error != std::errc() || end != number.data() + number.size() || !(area > 0) || !std::isfinite(area)) {
                return std::nullopt;
            }
            return area;
        }
    }
    return std::nullopt;
}

std::string MomentUnitName(double unit) {
    if (unit == 1e-3) {
        return "emu";
    }
    if (unit == 1.0) {
        return "A m2";
    }
    return GeneralNumberText(unit, 6, '.') + " A m2";
}

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

ImportSuggestion SuggestImport(const ParsedCurveFile& file) {
    ImportSuggestion suggestion;
    const auto count = static_cast<std::int32_t>(file.Columns.size());
    auto pick = [&](auto matches, std::int32_t other) {
        for (std::int32_t c = 0; c < count; ++c) {
            const CurveColumn& column = file.Columns[static_cast<std::size_t>(c)];
            if (c != other && column.HasValues && matches(BareName(column))) {
                return c;
            }
        }
        return -1;
    };
    const auto fieldExact = [](const std::string& n) {
        return NameIn(n, {"magnetic field", "field", "h", "applied field", "mu0h", "mu0 h", "mu_0h", "µ0h"});
    };
    const auto fieldPart = [](const std::string& n) { return NameHas(n, {"field"}); };
    const auto momentExact = [](const std::string& n) {
        return NameIn(n, {"moment", "m. long", "m", "dc moment free ctr", "magnetization", "magnetisation", "mag"});
    };
    const auto momentPart = [](const std::string& n) {
        return NameHas(n, {"moment", "m. long", "magnetiz", "magnetis", "mag"}) && !NameHas(n, {"err", "std"});
    };
    const auto any = [](const std::string&) { return true; };

    suggestion.FieldColumn = pick(fieldExact, -1);
    if (suggestion.FieldColumn < 0) {
        suggestion.FieldColumn = pick(fieldPart, -1);
    }
    suggestion.MomentColumn = pick(momentExact, suggestion.FieldColumn);
    if (suggestion.MomentColumn < 0) {
        suggestion.MomentColumn = pick(momentPart, suggestion.FieldColumn);
    }
    if (suggestion.FieldColumn < 0) {
        suggestion.FieldColumn = pick(any, suggestion.MomentColumn);
    }
    if (suggestion.MomentColumn < 0) {
        // the first column with values after the field, else before it
        for (std::int32_t c = suggestion.FieldColumn + 1; c < count && suggestion.MomentColumn < 0; ++c) {
            if (file.Columns[static_cast<std::size_t>(c)].HasValues) {
                suggestion.MomentColumn = c;
            }
        }
        if (suggestion.MomentColumn < 0) {
            suggestion.MomentColumn = pick(any, suggestion.FieldColumn);
        }
    }
    if (suggestion.FieldColumn >= 0) {
        suggestion.StatedUnit = FieldUnitFromText(file.Columns[static_cast<std::size_t>(suggestion.FieldColumn)].Unit);
    }
    const auto uncertainty = [](const std::string& n) {
        return NameIn(n, {"dm", "sigma", "error", "err", "std. err.", "std err", "std. error", "standard error",
                          "uncertainty", "m. std. err.", "moment std. err.", "moment error", "dmoment"}) ||
               NameHas(n, {"std. err", "std err", "stderr", "uncertainty"});
    };
    suggestion.SigmaColumn = pick(uncertainty, suggestion.FieldColumn);
    if (suggestion.SigmaColumn == suggestion.MomentColumn) {
        suggestion.SigmaColumn = -1;
    }
    return suggestion;
}

std::int32_t FindColumn(const ParsedCurveFile& file, std::string_view text) {
    const std::string_view wanted = Trim(text);
    const auto count = static_cast<std::int32_t>(file.Columns.size());
    if (!wanted.empty() && std::all_of(wanted.begin(), wanted.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::int32_t number = 0;
        const auto [end, error] = std::from_chars(wanted.data(), wanted.data() + wanted.size(), number);
        if (error == std::errc() && number >= 1 && number <= count) {
            return number - 1;
        }
        throw ProgramError("There is no column " + std::string(wanted) + ": the file has " + std::to_string(count) +
                           " columns");
    }
    const std::string lower = Lower(wanted);
    for (std::int32_t c = 0; c < count; ++c) {
        const CurveColumn& column = file.Columns[static_cast<std::size_t>(c)];
        if (Lower(Trim(column.Name)) == lower || BareName(column) == lower) {
            return c;
        }
    }
    throw ProgramError("There is no column named '" + std::string(wanted) + "'");
}

std::int32_t UsableRowCount(const ParsedCurveFile& file, std::int32_t fieldColumn, std::int32_t momentColumn) {
    const auto f = static_cast<std::size_t>(fieldColumn);
    const auto m = static_cast<std::size_t>(momentColumn);
    std::int32_t count = 0;
    for (std::size_t r = 0; r < file.RowCount(); ++r) {
        const std::span<const double> row = file.Row(r);
        count += f < row.size() && m < row.size() && !std::isnan(row[f]) && !std::isnan(row[m]) ? 1 : 0;
    }
    return count;
}

ImportSummary FillExperiment(const ParsedCurveFile& file, const ImportChoice& choice, ExperimentData& experiment) {
    const auto count = static_cast<std::int32_t>(file.Columns.size());
    if (choice.FieldColumn < 0 || choice.FieldColumn >= count || choice.MomentColumn < 0 ||
        choice.MomentColumn >= count) {
        throw ProgramError("The file has no such column");
    }
    const auto f = static_cast<std::size_t>(choice.FieldColumn);
    const auto m = static_cast<std::size_t>(choice.MomentColumn);
    const bool sigma = choice.SigmaColumn >= 0;
    if (sigma && (choice.SigmaColumn >= count || choice.SigmaColumn == choice.FieldColumn ||
                  choice.SigmaColumn == choice.MomentColumn)) {
        throw ProgramError("The uncertainty must be a column of its own");
    }
    const auto u = static_cast<std::size_t>(std::max(choice.SigmaColumn, 0));
    const bool modes = choice.ModeColumn >= 0;
    if (modes && (choice.ModeColumn >= count || choice.ModeColumn == choice.FieldColumn ||
                  choice.ModeColumn == choice.MomentColumn || choice.ModeColumn == choice.SigmaColumn)) {
        throw ProgramError("The mode must be a column of its own");
    }
    const auto k = static_cast<std::size_t>(std::max(choice.ModeColumn, 0));
    const auto isUsable = [&](std::span<const double> row) {
        return !std::isnan(row[f]) && !std::isnan(row[m]) && (!sigma || !std::isnan(row[u])) &&
               (!modes || !std::isnan(row[k]));
    };
    std::size_t usable = 0;
    for (std::size_t r = 0; r < file.RowCount(); ++r) {
        usable += isUsable(file.Row(r)) ? 1U : 0U;
    }
    if (usable == 0) {
        throw ProgramError("No row holds both a value of '" + file.Columns[f].Name + "' and of '" +
                           file.Columns[m].Name + "'");
    }
    ImportSummary summary;
    summary.UsableRows = static_cast<std::int32_t>(usable);
    summary.SkippedRows = static_cast<std::int32_t>(file.RowCount() - usable);
    std::size_t stride = 1;
    if (usable > static_cast<std::size_t>(MaxRows) && choice.Long == LongCurve::Thin) {
        stride = (usable + MaxRows - 1) / MaxRows;
        summary.Stride = static_cast<std::int32_t>(stride);
    }
    // Usable rows 0, stride, 2 stride, ... up to the table's rows.
    std::vector<std::size_t> kept;
    for (std::size_t r = 0, seen = 0; r < file.RowCount() && kept.size() < static_cast<std::size_t>(MaxRows); ++r) {
        const std::span<const double> row = file.Row(r);
        if (isUsable(row) && seen++ % stride == 0) {
            kept.push_back(r);
        }
    }
    summary.KeptRows = static_cast<std::int32_t>(kept.size());
    if (sigma) {
        for (const std::size_t r : kept) {
            if (!(file.Row(r)[u] > 0) || !std::isfinite(file.Row(r)[u])) {
                FailAt(file.RowLines[r], "the uncertainty '" + file.Columns[u].Name + "' is not a positive number");
            }
        }
        summary.ExtraColumns.push_back(choice.SigmaColumn);
    }
    if (modes) {
        for (const std::size_t r : kept) {
            const double mode = file.Row(r)[k];
            // Four layers have at most four modes.
            if (!(mode >= 1 && mode <= 4) || mode != std::floor(mode)) {
                FailAt(file.RowLines[r], "the mode '" + file.Columns[k].Name + "' is not a whole number from 1 to 4");
            }
            summary.Modes.push_back(static_cast<std::int32_t>(mode));
        }
    }
    for (std::size_t c = 0; c < file.Columns.size() && summary.ExtraColumns.size() < MaxCols - 2; ++c) {
        if (c != f && c != m && (!sigma || c != u) &&
            std::none_of(kept.begin(), kept.end(), [&](std::size_t r) { return std::isnan(file.Row(r)[c]); })) {
            summary.ExtraColumns.push_back(static_cast<std::int32_t>(c));
        }
    }

    const double factor = FieldUnitToAmperePerMetre(choice.Unit);
    for (const std::size_t r : kept) {
        if (!std::isfinite(file.Row(r)[f] * factor)) {
            FailAt(file.RowLines[r], "the field in " + FieldUnitName(choice.Unit) + " is beyond the range of A/m");
        }
    }
    experiment.ClearExpTable();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const std::span<const double> row = file.Row(kept[i]);
        const auto tableRow = static_cast<std::int32_t>(i + 1);
        experiment.ExpTable.At(1, tableRow) = row[f] * factor;
        experiment.ExpTable.At(2, tableRow) = row[m];
        for (std::size_t e = 0; e < summary.ExtraColumns.size(); ++e) {
            experiment.ExpTable.At(static_cast<std::int32_t>(e + 3), tableRow) =
                row[static_cast<std::size_t>(summary.ExtraColumns[e])];
        }
    }
    experiment.ExpRows = summary.KeptRows;
    experiment.ExpCols = 2 + static_cast<std::int32_t>(summary.ExtraColumns.size());
    experiment.SigmaColumn = sigma ? 3 : 0;
    experiment.MomentUnit =
        choice.MomentUnit > 0 ? choice.MomentUnit : MomentUnitFromText(file.Columns[m].Unit).value_or(0.0);
    return summary;
}

} // namespace data
} // namespace dravo2
