#include "sweep/parameter_file.h"

#include "data/errors.h"

#include <algorithm>
#include <array>

namespace dravo2 {
inline namespace sweep {
namespace {

constexpr std::array<std::string_view, 5> kModeNames{"MvHx", "MvHy", "theta-theta", "DeltaR", "FMR"};

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string WithSeparator(std::string_view text, char from, char to) {
    std::string result(text);
    std::replace(result.begin(), result.end(), from, to);
    return result;
}

// One value into the file's set; throws the conversion's message.
void TakeValue(ParameterFile& file, const std::string& key, const std::string& value) {
    if (key == "mode") {
        if (std::find(kModeNames.begin(), kModeNames.end(), value) == kModeNames.end()) {
            throw ProgramError("'" + value + "' is not a display mode (MvHx, MvHy, theta-theta, DeltaR or FMR)");
        }
        file.Mode = value;
        return;
    }
    const ParameterEntry* entry = FindParameter(key);
    if (entry == nullptr) {
        throw ProgramError("unknown key '" + key + "'");
    }
    const Real number = ParseParameter(*entry, value);
    if (std::string* text = FieldText(file.Texts, key)) {
        *text = value;
    } else if (int* degrees = FieldDegrees(file.Texts, key)) {
        *degrees = static_cast<int>(number);
    } else if (key == "aniso") {
        file.Texts.UniaxialChecked = value == "UA";
        file.Texts.QuarticChecked = value == "QU";
    } else if (key == "solver") {
        file.Solver = value == "newton" ? SolverMethod::Newton : SolverMethod::Descent;
    } else if (key == "DR") {
        file.DeltaR = value;
    } else if (key == "gamma") {
        if (!(number > 0)) {
            throw ProgramError("'" + value + "' is not a gyromagnetic ratio above 0");
        }
        file.Gamma = value;
    }
}

} // namespace

ParameterFile ReadParameterFile(std::string_view text, const ParameterTexts& base, int dataSet) {
    ParameterFile file;
    file.Texts = base;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::string where = "Line " + std::to_string(number) + ": ";
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            throw ProgramError(where + "'" + std::string(line) + "' is not KEY=VALUE");
        }
        std::string key(Trimmed(line.substr(0, equals)));
        const std::string value(Trimmed(line.substr(equals + 1)));
        try {
            const std::size_t at = key.find('@');
            if (at != std::string::npos) {
                // One data set's own value: checked against a scratch set unless it is the one asked for.
                const std::string index = key.substr(at + 1);
                const bool digits =
                    !index.empty() && index.size() < 6 &&
                    std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; });
                const int set = digits ? std::stoi(index) : 0;
                key.resize(at);
                if (set < 1 || key == "mode") {
                    throw ProgramError("'" + std::string(Trimmed(line.substr(0, equals))) +
                                       "' is not KEY@N with a data set number N from 1");
                }
                file.DataSets = std::max(file.DataSets, set);
                if (set != dataSet) {
                    ParameterFile scratch;
                    TakeValue(scratch, key, value);
                    continue;
                }
            }
            TakeValue(file, key, value);
        } catch (const ProgramError& error) {
            throw ProgramError(where + error.what());
        }
        file.Keys.push_back(key);
    }
    return file;
}

std::string ParameterFileText(const ParameterTexts& texts, std::string_view deltaR, SolverMethod solver,
                              char separator) {
    std::string lines;
    for (const ParameterEntry& entry : ParameterRegistry()) {
        std::string value;
        if (const std::string* text = FieldText(texts, entry.Key)) {
            value = WithSeparator(*text, separator, '.');
        } else if (const int* degrees = FieldDegrees(texts, entry.Key)) {
            value = std::to_string(*degrees);
        } else if (entry.Key == "aniso") {
            value = texts.QuarticChecked ? "QU" : "UA";
        } else if (entry.Key == "solver") {
            value = solver == SolverMethod::Newton ? "newton" : "descent";
        } else if (entry.Key == "DR") {
            value = WithSeparator(deltaR, separator, '.');
        } else {
            continue; // not a setting of the window (the gyromagnetic ratio)
        }
        lines += std::string(entry.Key) + "=" + value + "\n";
    }
    return lines;
}

} // namespace sweep
} // namespace dravo2
