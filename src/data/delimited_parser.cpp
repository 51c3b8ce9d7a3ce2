#include "data/curve_parsers.h"
#include "data/curve_rows.h"
#include "data/errors.h"

#include <algorithm>
#include <optional>

namespace dravo2 {
inline namespace data {
namespace curve_text {
namespace {

// The separators met in some lines.
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

// How the lines of a delimited file split into fields.
struct Splitting {
    char Separator = ',';
    bool DecimalComma = false;
    bool AnyData = false; // some content line starts like a number
};

// The separator, found among the lines that start like a number (the names row may differ), or
// among all content lines where none does: a TAB before a semicolon before a comma, else spaces.
// Throws for a file without content.
Splitting FindSeparator(std::string_view bytes, const MeasuredLimits& limits) {
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
    return {judged.Tab ? '\t' : judged.Semicolon ? ';' : judged.Comma ? ',' : ' ', false, anyData};
}

// With semicolons or TABs between the fields, whether a field of a data line (of any content line
// where none starts like a number) is a number with a decimal comma and no point.
bool UsesDecimalComma(std::string_view bytes, const MeasuredLimits& limits, const Splitting& splitting) {
    if (splitting.Separator != ';' && splitting.Separator != '\t') {
        return false;
    }
    Line line;
    for (LineCursor cursor(bytes, limits.LineBytes); cursor.Next(line);) {
        if (Trim(line.Text).empty() || IsComment(line.Text) || (splitting.AnyData && !LooksLikeData(line.Text))) {
            continue;
        }
        for (const std::string& field : SplitFields(line.Text, splitting.Separator)) {
            double value = 0;
            if (field.find(',') != std::string::npos && field.find('.') == std::string::npos &&
                ReadField(field, true, value) == FieldKind::Number) {
                return true;
            }
        }
    }
    return false;
}

// The lines of a delimited file read: the rows of text before the numbers and the rows of numbers.
struct DelimitedLines {
    explicit DelimitedLines(std::size_t maxValues) : Rows(maxValues) {}

    std::vector<std::vector<std::string>> Header; // a row of names, then a row of units
    RowGatherer Rows;
    std::optional<Line> CommentBeforeData; // the comment line met last before the first row of numbers
};

// Reads every row: a row of text is a header row before the numbers (at most two) and an error
// after them; a row with only separators is skipped. Throws where no row holds numbers.
DelimitedLines ReadLines(std::string_view bytes, const MeasuredLimits& limits, const Splitting& splitting) {
    DelimitedLines read(limits.Values);
    std::optional<Line> lastComment;
    std::vector<double> row;
    Line line;
    for (LineCursor cursor(bytes, limits.LineBytes); cursor.Next(line);) {
        if (Trim(line.Text).empty()) {
            continue;
        }
        if (IsComment(line.Text)) {
            lastComment = line;
            continue;
        }
        const std::vector<std::string> fields = SplitFields(line.Text, splitting.Separator);
        row.assign(fields.size(), kNaN);
        std::size_t numbers = 0;
        std::size_t firstText = fields.size();
        for (std::size_t c = 0; c < fields.size(); ++c) {
            const FieldKind kind = ReadField(fields[c], splitting.DecimalComma, row[c]);
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
            if (!read.Rows.Empty()) {
                FailAt(line.Number,
                       "'" + fields[firstText] + "' in column " + std::to_string(firstText + 1) + " is not a number");
            }
            if (read.Header.size() == 2) {
                FailAt(line.Number, "a third row of text before the numbers: only a row of names and a row of "
                                    "units may precede them");
            }
            read.Header.push_back(fields);
            continue;
        }
        if (read.Rows.Empty()) {
            read.CommentBeforeData = lastComment;
        }
        read.Rows.Add(row, line.Number);
    }
    if (read.Rows.Empty()) {
        throw InputOutputError("The file holds no rows of numbers, only " + std::to_string(read.Header.size()) +
                               (read.Header.size() == 1 ? " row of text" : " rows of text"));
    }
    return read;
}

// The column names: the first header row, else the last comment before the numbers where it
// holds one name per column of the widest row and some of them are not numbers
// ("# Field (T),Moment (emu)").
std::vector<std::string> ColumnNames(const DelimitedLines& read, const Splitting& splitting) {
    std::vector<std::string> names;
    if (!read.Header.empty()) {
        names = read.Header[0];
        if (splitting.Separator == ' ' && names.size() > read.Rows.Widest()) {
            names = JoinBracketedTokens(names);
        }
    } else if (read.CommentBeforeData) {
        std::string_view text = Trim(read.CommentBeforeData->Text);
        text.remove_prefix(1);
        std::vector<std::string> fields = SplitFields(text, splitting.Separator);
        if (splitting.Separator == ' ') {
            fields = JoinBracketedTokens(fields);
        }
        double value = 0;
        if (fields.size() == read.Rows.Widest() && std::any_of(fields.begin(), fields.end(), [&](const std::string& f) {
                return ReadField(f, splitting.DecimalComma, value) == FieldKind::Text;
            })) {
            names = fields;
        }
    }
    return names;
}

// Names and units of the columns: a name from `names` where it is not empty, else "Column N";
// the unit from the units row where it has one, else the name's bracketed unit.
void NameColumns(ParsedCurveFile& file, const std::vector<std::string>& names,
                 const std::vector<std::vector<std::string>>& header, std::size_t columns) {
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
}

} // namespace

ParsedCurveFile ParseDelimited(std::string_view bytes, const MeasuredLimits& limits) {
    Splitting splitting = FindSeparator(bytes, limits);
    splitting.DecimalComma = UsesDecimalComma(bytes, limits, splitting);
    DelimitedLines read = ReadLines(bytes, limits, splitting);

    ParsedCurveFile file;
    file.Separator = splitting.Separator;
    file.DecimalComma = splitting.DecimalComma;
    std::vector<std::string> names = ColumnNames(read, splitting);
    std::size_t columns = read.Rows.Widest();
    if (file.Separator != ' ' || names.size() <= columns) {
        columns = std::max(columns, names.size());
    } else {
        names.clear(); // space-separated names with spaces in them cannot be told apart
    }
    read.Rows.Finish(file, columns);
    NameColumns(file, names, read.Header, columns);
    MarkValues(file);
    return file;
}

} // namespace curve_text
} // namespace data
} // namespace dravo2
