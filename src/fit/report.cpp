#include "fit/report.h"

#include "data/number_text.h"

#include <nlohmann/json.hpp>

#include <cmath>
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

// 1 / mu0 in A/(T m): a slope per A/m times this is the slope per tesla of mu0 H.
constexpr double kInverseMu0 = 1 / 1.25663706143591729539e-6;

std::string MomentUnitOf(const FitSummary& s) {
    return s.MomentUnit.empty() ? std::string("(moment unit)") : s.MomentUnit;
}

constexpr double kStrongCorrelation = 0.95;

// The comparison terms of one curve: scale, slope and offset with their units.
std::string TermsText(double scale, bool fixed, double slope, double offset, const std::string& unit, char separator) {
    std::ostringstream text;
    text << "scale " << Number(scale, separator) << " " << unit << (fixed ? " (from the sample area)" : "")
         << ", slope " << Number(slope, separator) << " " << unit << " per A/m ("
         << Number(slope * kInverseMu0, separator) << " " << unit << " per T), offset " << Number(offset, separator)
         << " " << unit;
    return text.str();
}

std::string ChiLine(const FitSummary& s, char separator) {
    if (!s.ChiSquare) {
        return "";
    }
    return "chi2 " + Number(*s.ChiSquare, separator) + " on " + std::to_string(s.DegreesOfFreedom) +
           " degrees of freedom, reduced chi2 " +
           (s.DegreesOfFreedom > 0 ? Number(*s.ChiSquare / s.DegreesOfFreedom, separator) : std::string("none")) + "\n";
}

std::string SingleLines(const FitSummary& s, char separator) {
    std::ostringstream text;
    const std::string unit = MomentUnitOf(s);
    text << "misfit before " << MisfitText(s.MisfitBefore, separator) << ", after "
         << MisfitText(s.MisfitAfter, separator) << " of the measured half range (" << Number(s.HalfRange, separator)
         << " " << unit << ") over " << s.Covered << " of " << s.Total << " measured points\n";
    text << ChiLine(s, separator);
    // A fit stopped early reports the search's best misfit, without comparing the values again.
    if (s.NotCompared) {
        text << "scale, slope and offset not computed: the fit was stopped\n";
    } else if (s.RmsGigahertz) {
        text << "rms residual " << Number(*s.RmsGigahertz, separator) << " GHz\n";
    } else {
        text << TermsText(s.Scale, s.ScaleFixed, s.Slope, s.Offset, unit, separator) << "\n";
    }
    if (!s.Degenerate.empty()) {
        text << s.Degenerate << " cannot be told apart over the measured range\n";
    }
    return text.str();
}

std::string JointLines(const FitSummary& s, char separator) {
    std::ostringstream text;
    text << "joint misfit before " << MisfitText(s.MisfitBefore, separator) << ", after "
         << MisfitText(s.MisfitAfter, separator)
         << " (root mean square of each curve's residuals over its uncertainties, or over its half range where it "
            "states none) over "
         << s.Covered << " of " << s.Total << " measured points in " << s.DataSets.size() << " data sets\n";
    text << ChiLine(s, separator);
    for (std::size_t k = 0; k < s.DataSets.size(); ++k) {
        const DataSetSummary& d = s.DataSets[k];
        const std::string unit = d.MomentUnit.empty() ? std::string("(file unit)") : d.MomentUnit;
        text << "data set " << k + 1 << " (" << d.Label << ", " << d.Observable << "): misfit before "
             << MisfitText(d.MisfitBefore, separator);
        if (s.NotCompared) {
            text << ", not compared again\n";
            continue;
        }
        text << ", after " << MisfitText(d.MisfitAfter, separator) << " of its half range ("
             << Number(d.HalfRange, separator) << " " << unit << ") over " << d.Covered << " of " << d.Total
             << " points";
        if (d.ChiSquare) {
            text << ", chi2 " << Number(*d.ChiSquare, separator);
        }
        text << "\n";
        if (d.RmsGigahertz) {
            text << "  rms residual " << Number(*d.RmsGigahertz, separator) << " GHz\n";
            continue;
        }
        text << "  " << TermsText(d.Scale, d.ScaleFixed, d.Slope, d.Offset, unit, separator) << "\n";
        if (!d.Degenerate.empty()) {
            text << "  " << d.Degenerate << " cannot be told apart over its measured range\n";
        }
    }
    if (s.NotCompared) {
        text << "scale, slope and offset not computed: the fit was stopped\n";
    }
    return text.str();
}

} // namespace

bool NearBound(double value, const Bounds& range) {
    const double width = range.Upper - range.Lower;
    auto near = [&](double bound) {
        const double gap = std::fabs(value - bound);
        return gap <= 1e-3 * width || gap <= 1e-3 * std::fabs(bound);
    };
    return near(range.Lower) || near(range.Upper);
}

std::string SummaryText(const FitSummary& s, char separator) {
    std::ostringstream text;
    if (!s.DataSets.empty()) {
        text << JointLines(s, separator);
    } else {
        text << SingleLines(s, separator);
    }
    for (const FittedParameter& p : s.Parameters) {
        std::string name = "  " + p.Name;
        name.resize(14, ' ');
        text << name << Number(p.After, separator);
        if (p.Error.Determined && !p.AtBound) {
            text << " +- " << Number(p.Error.Value, separator);
        }
        text << " " << p.Unit << " (from " << Number(p.Before, separator) << ")";
        if (p.AtBound) {
            text << ", at bound [" << Number(p.Range.Lower, separator) << ", " << Number(p.Range.Upper, separator)
                 << "]: no error can be given";
        } else if (!p.Error.Determined) {
            text << ", not determined: " << p.Error.Why;
        }
        text << "\n";
    }
    for (std::size_t a = 0; a < s.Correlation.size() && a < s.Parameters.size(); ++a) {
        for (std::size_t b = a + 1; b < s.Correlation[a].size() && b < s.Parameters.size(); ++b) {
            const double r = s.Correlation[a][b];
            if (std::fabs(r) > kStrongCorrelation) {
                text << "strongly correlated: " << s.Parameters[a].Name << " and " << s.Parameters[b].Name << " ("
                     << GeneralNumberText(r, 3, separator) << ")\n";
            }
        }
    }
    text << s.Evaluations << " evaluations in " << GeneralNumberText(s.Seconds, 3, separator) << " s on " << s.Threads
         << (s.Threads == 1 ? " thread" : " threads") << " (seed " << s.Seed << "); stopped: " << s.Stopped << "\n";
    return text.str();
}

nlohmann::json SummaryJson(const FitSummary& s) {
    nlohmann::json parameters = nlohmann::json::array();
    for (const FittedParameter& p : s.Parameters) {
        parameters.push_back(
            nlohmann::json{{"name", p.Name},
                           {"unit", p.Unit},
                           {"before", p.Before},
                           {"after", p.After},
                           {"lower", p.Range.Lower},
                           {"upper", p.Range.Upper},
                           {"determined", p.Error.Determined && !p.AtBound},
                           {"at_bound", p.AtBound},
                           {"standard_error",
                            p.Error.Determined && !p.AtBound ? nlohmann::json(p.Error.Value) : nlohmann::json(nullptr)},
                           {"not_determined_why", p.AtBound            ? nlohmann::json("at its bound")
                                                  : p.Error.Determined ? nlohmann::json(nullptr)
                                                                       : nlohmann::json(p.Error.Why)}});
    }
    nlohmann::json correlation = nlohmann::json::array();
    for (const auto& row : s.Correlation) {
        nlohmann::json cells = nlohmann::json::array();
        for (const double r : row) {
            cells.push_back(std::isfinite(r) ? nlohmann::json(r) : nlohmann::json(nullptr));
        }
        correlation.push_back(cells);
    }
    const std::string unit = s.MomentUnit.empty() ? std::string("moment unit of the file") : s.MomentUnit;
    nlohmann::json report{{"misfit_before", Optional(s.MisfitBefore)},
                          {"misfit_after", Optional(s.MisfitAfter)},
                          {"misfit_unit", "half the measured peak-to-peak moment"},
                          {"half_range", s.HalfRange},
                          {"chi_square", Optional(s.ChiSquare)},
                          {"degrees_of_freedom", s.DegreesOfFreedom},
                          {"reduced_chi_square", s.ChiSquare && s.DegreesOfFreedom > 0
                                                     ? nlohmann::json(*s.ChiSquare / s.DegreesOfFreedom)
                                                     : nlohmann::json(nullptr)},
                          {"scale", s.Scale},
                          {"scale_unit", unit},
                          {"scale_from_area", s.ScaleFixed},
                          {"slope", s.Slope},
                          {"slope_unit", unit + " per A/m"},
                          {"slope_per_tesla", s.Slope * kInverseMu0},
                          {"offset", s.Offset},
                          {"offset_unit", unit},
                          {"degenerate", s.Degenerate.empty() ? nlohmann::json(nullptr) : nlohmann::json(s.Degenerate)},
                          {"correlation", correlation},
                          {"points_compared", s.Covered},
                          {"points_measured", s.Total},
                          {"parameters", parameters},
                          {"evaluations", s.Evaluations},
                          {"budget_per_search", s.Budget},
                          {"seconds", s.Seconds},
                          {"threads", s.Threads},
                          {"seed", s.Seed},
                          {"stopped", s.Stopped}};
    if (s.RmsGigahertz) {
        report["rms_residual_ghz"] = *s.RmsGigahertz;
        report["misfit_unit"] = "half the measured frequency range";
    }
    if (!s.DataSets.empty()) {
        nlohmann::json sets = nlohmann::json::array();
        for (const DataSetSummary& d : s.DataSets) {
            nlohmann::json set = nlohmann::json(
                {{"label", d.Label},
                 {"observable", d.Observable},
                 {"misfit_before", Optional(d.MisfitBefore)},
                 {"misfit_after", Optional(d.MisfitAfter)},
                 {"half_range", d.HalfRange},
                 {"scale", d.Scale},
                 {"scale_from_area", d.ScaleFixed},
                 {"slope", d.Slope},
                 {"offset", d.Offset},
                 {"unit", d.MomentUnit.empty() ? nlohmann::json(nullptr) : nlohmann::json(d.MomentUnit)},
                 {"degenerate", d.Degenerate.empty() ? nlohmann::json(nullptr) : nlohmann::json(d.Degenerate)},
                 {"chi_square", Optional(d.ChiSquare)},
                 {"points_compared", d.Covered},
                 {"points_measured", d.Total}});
            if (d.RmsGigahertz) {
                set["rms_residual_ghz"] = *d.RmsGigahertz;
            }
            sets.push_back(set);
        }
        report["misfit_unit"] = "root mean square of each curve's residuals over its uncertainties, or over its half "
                                "range where it states none";
        report["data_sets"] = sets;
    }
    return report;
}

} // namespace dravo2::fit
