#pragma once

#include "data/curve_import.h"
#include "data/input_limits.h"

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

// The pieces the measured-file parsers share: lines, fields, numbers and column names.
namespace dravo2 {
inline namespace data {
namespace curve_text {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A line of a file: its number, from 1, and its text without the line end.
struct Line {
    std::int32_t Number = 0;
    std::string_view Text;
};

// Throws InputOutputError "Line N: <problem>".
[[noreturn]] void FailAt(std::int32_t line, const std::string& problem);

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

// A space or a TAB.
bool IsBlank(char c);

// The text without leading and trailing spaces and TABs.
std::string_view Trim(std::string_view text);

// The text with A to Z in lower case.
std::string Lower(std::string_view text);

enum class FieldKind { Empty, Number, Text };

// A field as a number: optional sign, digits with an optional decimal separator (the comma too
// where `decimalComma`), optional exponent. "NaN" and "Inf" in any case count as empty, because
// neither can be drawn or compared.
FieldKind ReadField(std::string_view text, bool decimalComma, double& value);

// Fields of a line separated by `separator`, each trimmed; a field in double quotes may hold the
// separator (a doubled quote stands for one). A space separator splits at runs of spaces and TABs.
std::vector<std::string> SplitFields(std::string_view line, char separator);

// The last group in round or square brackets of a column name ("Mag (Data) (kA/m)" -> "kA/m").
std::string BracketedUnit(std::string_view name);

// A name without its bracketed unit, lower case ("Magnetic Field (Oe)" -> "magnetic field").
std::string BareName(const CurveColumn& column);

// A units-row cell without its brackets ("(kA/m)" -> "kA/m").
std::string UnitCell(std::string_view text);

// A comment line: its first character that is not blank is '#', '%' or '!'.
bool IsComment(std::string_view text);

// A line that starts like a number: a digit, a sign or a point.
bool LooksLikeData(std::string_view text);

// Space-separated names that carry their unit after a space ("H (Oe) M (emu)"): a bracketed
// token joins the name before it.
std::vector<std::string> JoinBracketedTokens(const std::vector<std::string>& tokens);

} // namespace curve_text
} // namespace data
} // namespace dravo2
