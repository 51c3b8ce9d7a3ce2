#pragma once

#include "engine/relaxation.h"
#include "sweep/parameter_intake.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravo2 {
inline namespace sweep {

// A parameter set as a file of KEY=VALUE lines, the words `dravo2-fit` prints and `dravo2-sweep`
// takes: one key a line, the keys of the parameter registry and `mode`, values written with a
// full stop. Blank lines and lines whose first non-blank character is '#' are comments.
struct ParameterFile {
    ParameterTexts Texts;               // the fields, scroll bars and anisotropy buttons
    std::optional<std::string> DeltaR;  // the magnetoresistance amplitude, when given
    std::optional<SolverMethod> Solver; // when given
    std::optional<std::string> Mode;    // the display mode's name (MvHx, MvHy, theta-theta...), when given
    std::optional<std::string> Gamma;   // the gyromagnetic ratio, when given
    std::vector<std::string> Keys;      // the keys the file gave, in its order
    // The data sets a joint fit wrote values of (the highest N of its KEY@N lines); 0 for a file
    // of one parameter set.
    int DataSets = 0;
};

// Reads the lines of `text` over `base` (the keys a file leaves out keep its texts). A later line
// of a key overrides an earlier one, as a repeated KEY=VALUE word does. Every value is checked as
// the commands check it; a line that is not KEY=VALUE, an unknown key or a bad value throws
// ProgramError naming the line: "Line 3: unknown key 'J5'".
// A line KEY@N=VALUE, as a joint fit writes a key local to data set N (from 1), sets KEY only
// when N is `dataSet`; the lines of other data sets are checked all the same.
ParameterFile ReadParameterFile(std::string_view text, const ParameterTexts& base = {}, int dataSet = 1);

// The parameter set as KEY=VALUE lines in the registry's order (every model and sweep key, the
// anisotropy form, DR and the solver; `dravo2-sweep $(cat FILE)` runs its loop). Texts keep
// their digits; `separator` is the one they are written with and becomes a full stop.
std::string ParameterFileText(const ParameterTexts& texts, std::string_view deltaR, SolverMethod solver,
                              char separator = '.');

} // namespace sweep
} // namespace dravo2
