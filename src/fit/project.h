#pragma once

#include "fit/parameters.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dravo2::fit {

// Texts by name, in the order given: a curve's options ("columns" -> "1,2", "field_unit",
// "rows", "sigma", "moment_unit", "background", "area", "observable") or KEY=VALUE settings.
using NamedTexts = std::vector<std::pair<std::string, std::string>>;

// One measured curve of a project: its file, its own curve options and its own values.
struct ProjectDataSet {
    std::string File;
    NamedTexts Options;
    NamedTexts Parameters;
    bool OwnParameters = true; // whether the file holds its (maybe empty) own values
};

// The whole set-up of a fit as `dravo2-fit --save-project` writes it and `dravo2-fit P.json`
// and the window's "Open project..." read it.
struct Project {
    NamedTexts Parameters;                                // every field, the anisotropy form and the solver
    std::vector<std::string> Free;                        // NAME shared, NAME@ one per data set
    std::vector<std::pair<std::string, Bounds>> BoundsOf; // bounds given for free names
    std::int64_t Evaluations = 0;
    std::uint64_t Seed = 0;
    std::optional<int> Threads;
    std::optional<double> TimeLimit; // seconds
    std::optional<double> StepKam;
    NamedTexts CurveOptions; // the options every data set takes unless it gives its own
    std::vector<ProjectDataSet> DataSets;
};

// The curve option names a project knows, in the order they are written as words.
const std::vector<std::string>& ProjectCurveOptionNames();

// The project as the JSON text of a file at `projectPath`: data set files relative to its folder.
std::string ProjectText(const Project& project, const std::string& projectPath);

// Reads a project file; data set files come back relative to the working folder (or absolute as
// written). Throws InputOutputError when the file cannot be read and ProgramError, naming the
// path, when it is not a project.
Project ReadProjectFile(const std::string& path);

} // namespace dravo2::fit
