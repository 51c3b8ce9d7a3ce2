#include "data/experiment_reader.h"

#include "data/errors.h"
#include "data/number_text.h"

#include <utility>

namespace dravo2 {
inline namespace data {
namespace {

constexpr char kCtrlZ = 26;
constexpr std::size_t kMaxNumberLength = 64;

bool IsTokenSeparator(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == ',' || c == ';';
}

bool IsTokenCharacter(char c) {
    return c == '*' || c == '-' || c == '.' || (c >= '0' && c <= ':') || c == '=' || c == '?' || c == '@' ||
           (c >= 'A' && c <= 'Z') || c == '\\' || c == '_' || (c >= 'a' && c <= 'z');
}

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// A token taken as a number; false where it does not convert or does not fit a double. A token
// beyond the extended range leaves the overflow flag raised by the conversion; it is cleared so
// that the next number read is not taken to have overflowed.
bool TryConvert(const std::string& token, char separator, double& value) {
    try {
        value = TextToDouble(token, separator);
        return true;
    } catch (const ProgramError&) {
        ClearFloatingPointFlags();
        return false;
    }
}

class Load {
public:
    Load(TextReader& file, ExperimentData& experiment, char separator,
         const std::function<void(const std::string&)>& showStatus)
        : File(file), Experiment(experiment), Separator(separator), ShowStatus(showStatus) {}

    // Whether data rows followed the last one the table could hold.
    bool RowsCut() const { return Cut; }

    void Da2() {
        Token = File.ReadToken();
        if (!TryConvert(Token, Separator, Value)) {
            return;
        }
        Experiment.ExpRows = 1;
        Experiment.ExpCols = 1;
        Experiment.ExpTable.At(1, 1) = Value;
        Token = File.ReadToken();
        if (!Token.empty() && !File.Eof()) {
            if (!TryConvert(Token, Separator, Value)) {
                return;
            }
            Experiment.ExpCols = 2;
            Experiment.ExpTable.At(2, 1) = Value;
        }
        DataRows();
    }

    void Dat() {
        bool success = true;
        Token = File.ReadToken();
        Status(Token);
        if (!TryConvert(Token, Separator, Value)) {
            Value = NoValue;
        }
        if (Value == NoValue) {
            while (Token != "@" && !File.Eof()) {
                while (Token != "@" && !Token.empty()) {
                    Token = File.ReadToken();
                }
                if (Token != "@" && File.Eof()) {
                    success = false;
                } else if (Token != "@") {
                    if (File.Eoln()) {
                        File.SkipLine();
                    }
                    Token = File.ReadToken();
                }
            }
            if (Token == "@") {
                File.SkipLine();
                Token = File.ReadToken();
                Status(Token);
                Value = TextToDouble(Token, Separator);
                success = true;
            }
        }
        if (success && Value != NoValue) {
            Experiment.ExpRows = 1;
            Experiment.ExpCols = 1;
            Experiment.ExpTable.At(1, 1) = Value;
            while (ReadNextColumn(Experiment.ExpCols)) {
            }
            DataRows();
        }
        Status(Token);
    }

private:
    void Status(const std::string& text) {
        if (ShowStatus) {
            ShowStatus(text);
        }
    }

    // The next value of the first data row, as column n + 1.
    bool ReadNextColumn(std::int32_t n) {
        if (n >= MaxCols) {
            return false; // the rest of the row is left to the next skip line
        }
        Token = File.ReadToken();
        Value = NoValue;
        if (Token.empty() || File.Eof()) {
            return false;
        }
        if (!TryConvert(Token, Separator, Value)) {
            return false;
        }
        Experiment.ExpCols = n + 1;
        Experiment.ExpTable.At(Experiment.ExpCols, Experiment.ExpRows) = Value;
        return true;
    }

    void DataRows() {
        while (!File.Eof() && Experiment.ExpRows < MaxRows) {
            File.SkipLine();
            if (File.Eof()) {
                break;
            }
            ++Experiment.ExpRows;
            for (std::int32_t column = 1; column <= Experiment.ExpCols; ++column) {
                Experiment.ExpTable.At(column, Experiment.ExpRows) = File.ReadNumber();
            }
        }
        if (Experiment.ExpRows >= MaxRows) {
            File.SkipLine();
            Cut = File.SkipBlanks();
        }
    }

    TextReader& File;
    ExperimentData& Experiment;
    char Separator;
    const std::function<void(const std::string&)>& ShowStatus;
    std::string Token;
    double Value = NoValue;
    bool Cut = false;
};

} // namespace

TextReader::TextReader(std::string_view bytes, bool lfEndsLine)
    : Bytes(bytes.substr(0, bytes.find(kCtrlZ))), End(Bytes.size()), LfEndsLine(lfEndsLine), Ended(true) {}

TextReader::TextReader(TextSource source, bool lfEndsLine, std::size_t maxBytes)
    : LfEndsLine(lfEndsLine), Source(std::move(source)), Limit(maxBytes), Left(maxBytes) {}

bool TextReader::Refill() {
    while (!Ended) {
        // One byte more than may be read tells a file at the limit from one beyond it.
        Piece.resize(Left < 65536 ? Left + 1 : 65536);
        const std::size_t count = Source(Piece.data(), Piece.size());
        if (count == 0) {
            Ended = true;
            break;
        }
        if (count > Left) {
            Ended = true;
            throw InputOutputError(MeasuredFileTooLargeMessage(Limit));
        }
        Left -= count;
        Bytes = std::string_view(Piece.data(), count);
        const std::size_t stop = Bytes.find(kCtrlZ);
        if (stop != std::string_view::npos) {
            Bytes = Bytes.substr(0, stop);
            Ended = true;
        }
        Pos = 0;
        End = Bytes.size();
        if (End > 0) {
            return true;
        }
    }
    return false;
}

void TextReader::SkipLine() {
    while (!Eof()) {
        if (Bytes[Pos++] == '\n') {
            break;
        }
    }
}

bool TextReader::SkipBlanks() {
    while (!Eof() && IsBlank(Bytes[Pos])) {
        ++Pos;
    }
    return !Eof();
}

double TextReader::ReadNumber() {
    if (!SkipBlanks()) {
        return 0.0;
    }
    char number[kMaxNumberLength];
    std::size_t length = 0;
    while (!Eof() && !IsBlank(Bytes[Pos]) && length < kMaxNumberLength) {
        number[length++] = Bytes[Pos++];
    }
    Real value = 0;
    if (!ParseDataNumber(std::string_view(number, length), value)) {
        throw InputOutputError("Invalid numeric input");
    }
    return StoreDouble(value);
}

std::string TextReader::ReadToken() {
    std::string token;
    bool finished = false;
    while (!Eoln() && !finished) {
        const char c = Bytes[Pos++];
        if (IsTokenSeparator(c)) {
            finished = !token.empty();
        } else if (IsTokenCharacter(c) && token.size() < kMaxTokenLength) {
            token += c;
        }
    }
    return token;
}

bool ReadExperiment(TextReader& text, ExperimentFormat format, ExperimentData& experiment, char separator,
                    const std::function<void(const std::string&)>& showStatus) {
    experiment.SigmaColumn = 0;
    experiment.MomentUnit = 0;
    Load load(text, experiment, separator, showStatus);
    if (format == ExperimentFormat::Da2) {
        load.Da2();
    } else {
        load.Dat();
    }
    return load.RowsCut();
}

bool ReadExperiment(std::string_view bytes, ExperimentFormat format, ExperimentData& experiment, char separator,
                    const std::function<void(const std::string&)>& showStatus, bool lfEndsLine) {
    TextReader text(bytes, lfEndsLine);
    return ReadExperiment(text, format, experiment, separator, showStatus);
}

} // namespace data
} // namespace dravo2
