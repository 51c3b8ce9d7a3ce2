#include "fit/project.h"

#include "data/errors.h"
#include "data/file_io.h"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace dravo2::fit {
namespace fs = std::filesystem;

const std::vector<std::string>& ProjectCurveOptionNames() {
    static const std::vector<std::string> names{"columns",        "field_unit", "rows", "sigma",
                                                "moment_unit",    "background", "area", "observable",
                                                "frequency_unit", "mode_column"};
    return names;
}

namespace {

nlohmann::json CurveJson(const NamedTexts& options) {
    nlohmann::json curve = nlohmann::json::object();
    for (const auto& [key, value] : options) {
        if (!value.empty()) {
            curve[key] = value;
        }
    }
    return curve;
}

NamedTexts CurveOf(const nlohmann::json& curve) {
    NamedTexts options;
    for (const std::string& key : ProjectCurveOptionNames()) {
        if (curve.contains(key)) {
            options.emplace_back(key, curve.at(key).get<std::string>());
        }
    }
    return options;
}

} // namespace

std::string ProjectText(const Project& project, const std::string& projectPath) {
    const fs::path folder = fs::absolute(fs::path(projectPath)).parent_path().lexically_normal();
    nlohmann::json parameters = nlohmann::json::object();
    for (const auto& [key, value] : project.Parameters) {
        parameters[key] = value;
    }
    nlohmann::json sets = nlohmann::json::array();
    for (const ProjectDataSet& given : project.DataSets) {
        nlohmann::json set = CurveJson(given.Options);
        set["file"] = fs::absolute(fs::path(given.File)).lexically_normal().lexically_relative(folder).generic_string();
        if (given.OwnParameters) {
            nlohmann::json own = nlohmann::json::object();
            for (const auto& [key, value] : given.Parameters) {
                own[key] = value;
            }
            set["parameters"] = own;
        }
        sets.push_back(set);
    }
    nlohmann::json free = nlohmann::json::array();
    for (const std::string& name : project.Free) {
        free.push_back(name);
    }
    nlohmann::json bounds = nlohmann::json::object();
    for (const auto& [name, range] : project.BoundsOf) {
        bounds[name] = {range.Lower, range.Upper};
    }
    nlohmann::json search{{"evaluations", project.Evaluations}, {"seed", project.Seed}};
    if (project.Threads) {
        search["threads"] = *project.Threads;
    }
    if (project.TimeLimit) {
        search["time"] = *project.TimeLimit;
    }
    if (project.StepKam) {
        search["step_kam"] = *project.StepKam;
    }
    const nlohmann::json json{
        {"dravo2_fit_project", 1}, {"parameters", parameters}, {"free", free},
        {"bounds", bounds},        {"search", search},         {"curve_options", CurveJson(project.CurveOptions)},
        {"data_sets", sets}};
    return json.dump(2) + "\n";
}

Project ReadProjectFile(const std::string& path) {
    const std::string bytes = ReadWholeFile(path);
    Project read;
    try {
        const nlohmann::json project = nlohmann::json::parse(bytes);
        if (!project.is_object() || !project.contains("dravo2_fit_project")) {
            throw ProgramError(path + " is not a fit project (no \"dravo2_fit_project\")");
        }
        if (project.at("dravo2_fit_project").get<int>() != 1) {
            throw ProgramError(path + " is a fit project of a later version");
        }
        for (const auto& [key, value] : project.at("parameters").items()) {
            read.Parameters.emplace_back(key, value.get<std::string>());
        }
        for (const auto& name : project.at("free")) {
            read.Free.push_back(name.get<std::string>());
        }
        for (const auto& [name, range] : project.at("bounds").items()) {
            read.BoundsOf.emplace_back(name, Bounds{range.at(0).get<double>(), range.at(1).get<double>()});
        }
        const nlohmann::json& search = project.at("search");
        read.Evaluations = search.at("evaluations").get<std::int64_t>();
        read.Seed = search.at("seed").get<std::uint64_t>();
        if (search.contains("threads")) {
            read.Threads = search.at("threads").get<int>();
        }
        if (search.contains("time")) {
            read.TimeLimit = search.at("time").get<double>();
        }
        if (search.contains("step_kam")) {
            read.StepKam = search.at("step_kam").get<double>();
        }
        read.CurveOptions = CurveOf(project.at("curve_options"));
        const fs::path folder = fs::path(path).parent_path();
        for (const nlohmann::json& set : project.at("data_sets")) {
            ProjectDataSet given;
            fs::path file = set.at("file").get<std::string>();
            if (file.is_relative()) {
                file = folder / file;
            }
            given.File = file.lexically_normal().string();
            given.Options = CurveOf(set);
            given.OwnParameters = set.contains("parameters");
            if (given.OwnParameters) {
                for (const auto& [key, value] : set.at("parameters").items()) {
                    given.Parameters.emplace_back(key, value.get<std::string>());
                }
            }
            read.DataSets.push_back(std::move(given));
        }
    } catch (const nlohmann::json::exception& error) {
        throw ProgramError(path + " is not a fit project: " + error.what());
    }
    return read;
}

} // namespace dravo2::fit
