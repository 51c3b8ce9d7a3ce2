#pragma once

#include "data/data_table.h"

#include <functional>
#include <string>
#include <string_view>

namespace dravo2 {

// The two layouts of a measured curve, chosen by the open dialog's filter (1 and 2).
enum class ExperimentFormat { Da2 = 1, Dat = 2 };

// What stands for a token that is not a number in the header test.
inline constexpr double NoValue = -666.0;

// Single-byte text with the runtime's line rules: a line ends at CR (and, with `lfEndsLine`,
// at a lone LF too, so files written on Unix read like their CR LF twins); Ctrl-Z ends the file.
class TextReader {
public:
    TextReader(std::string_view bytes, bool lfEndsLine);

    bool Eof() const { return Pos >= End; }
    bool Eoln() const { return Eof() || Bytes[Pos] == '\r' || (LfEndsLine && Bytes[Pos] == '\n'); }
    // Consumes up to and including the next LF, or to the end.
    void SkipLine();
    // Skips control characters and spaces across lines, then reads one number in the fixed
    // syntax with a full stop (0.0 at the end of the file). Throws "Invalid numeric input".
    double ReadNumber();
    // The next token of the current line: separators (TAB LF CR space , ;) end a begun token,
    // accepted characters (* - . 0-9 : = ? @ A-Z \ _ a-z) are kept, everything else vanishes.
    // The line end itself is never consumed; an empty token means the line holds no more.
    std::string ReadToken();

private:
    std::string_view Bytes;
    std::size_t Pos = 0;
    std::size_t End = 0;
    bool LfEndsLine;
};

// Loads a measured curve from `bytes` into `experiment`, which the caller has cleared. Token
// numbers use the regional `separator`. `showStatus` receives the tokens the ".dat" layout shows
// in the status line. Errors (conversion, "Invalid numeric input", overflow) propagate with the
// rows stored so far kept.
void ReadExperiment(std::string_view bytes, ExperimentFormat format, ExperimentData& experiment, char separator,
                    const std::function<void(const std::string&)>& showStatus, bool lfEndsLine = true);

} // namespace dravo2
