#include "fit/report.h"

#include "data/number_text.h"

#include <nlohmann/json.hpp>

#include <sstream>

namespace dravo2::fit {
namespace {

std::string Number(double value, char separator) {
    return GeneralNumberText(value, 6, separator);
}

std::string MisfitText(const std::optional<double>& misfit, char separator) {
    return misfit ? Number(*misfit, separator) : std::string("none");
}

nlohmann::json Optional(const std::optional<double>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

} // namespace

std::string SummaryText(const FitSummary& s, char separator) {
    std::ostringstream text;
    text << "misfit before " << MisfitText(s.MisfitBefore, separator) << ", after "
         << MisfitText(s.MisfitAfter, separator) << " of saturation over " << s.Covered << " of " << s.Total
         << " measured points\n";
    text << "scale " << Number(s.Scale, separator) << ", slope " << Number(s.Slope, separator) << ", offset "
         << Number(s.Offset, separator) << "\n";
    for (const FittedParameter& p : s.Parameters) {
        std::string name = "  " + p.Name;
        name.resize(14, ' ');
        text << name << Number(p.After, separator);
        if (p.Error.Determined) {
            text << " +- " << Number(p.Error.Value, separator);
        }
        text << " " << p.Unit << " (from " << Number(p.Before, separator) << ")";
        if (!p.Error.Determined) {
            text << ", not determined: " << p.Error.Why;
        }
        text << "\n";
    }
    text << s.Evaluations << " evaluations in " << GeneralNumberText(s.Seconds, 3, separator) << " s on " << s.Threads
         << (s.Threads == 1 ? " thread" : " threads") << " (seed " << s.Seed << "); stopped: " << s.Stopped << "\n";
    return text.str();
}

nlohmann::json SummaryJson(const FitSummary& s) {
    nlohmann::json parameters = nlohmann::json::array();
    for (const FittedParameter& p : s.Parameters) {
        parameters.push_back(nlohmann::json{
            {"name", p.Name},
            {"unit", p.Unit},
            {"before", p.Before},
            {"after", p.After},
            {"lower", p.Range.Lower},
            {"upper", p.Range.Upper},
            {"determined", p.Error.Determined},
            {"standard_error", p.Error.Determined ? nlohmann::json(p.Error.Value) : nlohmann::json(nullptr)},
            {"not_determined_why", p.Error.Determined ? nlohmann::json(nullptr) : nlohmann::json(p.Error.Why)}});
    }
    return {{"misfit_before", Optional(s.MisfitBefore)},
            {"misfit_after", Optional(s.MisfitAfter)},
            {"scale", s.Scale},
            {"slope", s.Slope},
            {"offset", s.Offset},
            {"points_compared", s.Covered},
            {"points_measured", s.Total},
            {"parameters", parameters},
            {"evaluations", s.Evaluations},
            {"budget_per_search", s.Budget},
            {"seconds", s.Seconds},
            {"threads", s.Threads},
            {"seed", s.Seed},
            {"stopped", s.Stopped}};
}

} // namespace dravo2::fit
