#include "data/curve_fields.h"

#include "data/errors.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace dravo2 {
inline namespace data {
namespace curve_text {

[[noreturn]] void FailAt(std::int32_t line, const std::string& problem) {
    throw InputOutputError("Line " + std::to_string(line) + ": " + problem);
}

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

bool IsComment(std::string_view text) {
    text = Trim(text);
    return !text.empty() && (text.front() == '#' || text.front() == '%' || text.front() == '!');
}

bool LooksLikeData(std::string_view text) {
    text = Trim(text);
    return !text.empty() && (std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '-' ||
                             text.front() == '+' || text.front() == '.');
}

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

} // namespace curve_text
} // namespace data
} // namespace dravo2
