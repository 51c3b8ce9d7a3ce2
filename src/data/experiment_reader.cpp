#include "data/experiment_reader.h"

#include "data/errors.h"
#include "data/number_text.h"

namespace dravo2 {
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

// A token taken as a number; false where it does not convert or does not fit a double.
bool TryConvert(const std::string& token, char separator, double& value) {
    try {
        value = TextToDouble(token, separator);
        return true;
    } catch (const ProgramError&) {
        return false;
    }
}

class Load {
public:
    Load(std::string_view bytes, bool lfEndsLine, ExperimentData& experiment, char separator,
         const std::function<void(const std::string&)>& showStatus)
        : File(bytes, lfEndsLine), Experiment(experiment), Separator(separator), ShowStatus(showStatus) {}

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
    }

    TextReader File;
    ExperimentData& Experiment;
    char Separator;
    const std::function<void(const std::string&)>& ShowStatus;
    std::string Token;
    double Value = NoValue;
};

} // namespace

TextReader::TextReader(std::string_view bytes, bool lfEndsLine) : Bytes(bytes), LfEndsLine(lfEndsLine) {
    const std::size_t stop = bytes.find(kCtrlZ);
    End = stop == std::string_view::npos ? bytes.size() : stop;
}

void TextReader::SkipLine() {
    while (!Eof()) {
        if (Bytes[Pos++] == '\n') {
            break;
        }
    }
}

double TextReader::ReadNumber() {
    while (!Eof() && IsBlank(Bytes[Pos])) {
        ++Pos;
    }
    if (Eof()) {
        return 0.0;
    }
    const std::size_t start = Pos;
    while (!Eof() && !IsBlank(Bytes[Pos]) && Pos - start < kMaxNumberLength) {
        ++Pos;
    }
    Real value = 0;
    if (!ParseDataNumber(Bytes.substr(start, Pos - start), value)) {
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
        } else if (IsTokenCharacter(c)) {
            token += c;
        }
    }
    return token;
}

void ReadExperiment(std::string_view bytes, ExperimentFormat format, ExperimentData& experiment, char separator,
                    const std::function<void(const std::string&)>& showStatus, bool lfEndsLine) {
    Load load(bytes, lfEndsLine, experiment, separator, showStatus);
    if (format == ExperimentFormat::Da2) {
        load.Da2();
    } else {
        load.Dat();
    }
}

} // namespace dravo2
