#pragma once

#include "data/data_table.h"
#include "data/input_limits.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace dravo2 {
inline namespace data {

// The two layouts of a measured curve, chosen by the open dialog's filter (1 and 2).
enum class ExperimentFormat { Da2 = 1, Dat = 2 };

// What stands for a token that is not a number in the header test.
inline constexpr double NoValue = -666.0;

// Where a TextReader takes its bytes from, piece by piece: fills `buffer` with up to `size`
// bytes and returns their count, 0 at the end.
using TextSource = std::function<std::size_t(char* buffer, std::size_t size)>;

// Single-byte text with the runtime's line rules: a line ends at CR (and, with `lfEndsLine`,
// at a lone LF too, so files written on Unix read like their CR LF twins); Ctrl-Z ends the file.
// Text from a source is held one 64 KiB piece at a time, so a file of any length needs no more;
// reading on beyond `maxBytes` of it throws InputOutputError naming the limit, so that a file
// that grows while it is read is not read for ever.
class TextReader {
public:
    TextReader(std::string_view bytes, bool lfEndsLine);
    TextReader(TextSource source, bool lfEndsLine, std::size_t maxBytes = kMaxMeasuredFileBytes);

    bool Eof() { return Pos >= End && !Refill(); }
    bool Eoln() { return Eof() || Bytes[Pos] == '\r' || (LfEndsLine && Bytes[Pos] == '\n'); }
    // Consumes up to and including the next LF, or to the end.
    void SkipLine();
    // Skips control characters and spaces across lines; false when nothing else is left.
    bool SkipBlanks();
    // Skips control characters and spaces across lines, then reads one number in the fixed
    // syntax with a full stop (0.0 at the end of the file). Throws "Invalid numeric input".
    double ReadNumber();
    // The next token of the current line: separators (TAB LF CR space , ;) end a begun token,
    // accepted characters (* - . 0-9 : = ? @ A-Z \ _ a-z) are kept, everything else vanishes.
    // The line end itself is never consumed; an empty token means the line holds no more. A
    // token keeps at most its first kMaxTokenLength characters (no number is that long).
    std::string ReadToken();

    static constexpr std::size_t kMaxTokenLength = 4096;

private:
    // Fetches the next piece from the source; false at the end of the text.
    bool Refill();

    std::string_view Bytes; // the piece being read
    std::size_t Pos = 0;
    std::size_t End = 0;
    bool LfEndsLine;
    bool Ended = false; // no piece follows (the source is exhausted or Ctrl-Z was met)
    TextSource Source;
    std::string Piece;
    std::size_t Limit = 0;
    std::size_t Left = 0; // bytes the source may still give
};

inline constexpr const char* kRowsCutMessage =
    "The file holds more than 4096 data rows: only the first 4096 are loaded.";

// Loads a measured curve from `text` into `experiment`, which the caller has cleared. Token
// numbers use the regional `separator`. `showStatus` receives the tokens the ".dat" layout shows
// in the status line. Errors (conversion, "Invalid numeric input", overflow) propagate with the
// rows stored so far kept. Returns true when data rows beyond the table's 4096 were left out
// (kRowsCutMessage tells the user).
bool ReadExperiment(TextReader& text, ExperimentFormat format, ExperimentData& experiment, char separator,
                    const std::function<void(const std::string&)>& showStatus);

// The same for text held in memory.
bool ReadExperiment(std::string_view bytes, ExperimentFormat format, ExperimentData& experiment, char separator,
                    const std::function<void(const std::string&)>& showStatus, bool lfEndsLine = true);

} // namespace data
} // namespace dravo2
