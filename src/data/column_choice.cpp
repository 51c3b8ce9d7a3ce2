#include "data/curve_fields.h"
#include "data/curve_import.h"
#include "data/errors.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>

namespace dravo2 {
inline namespace data {
namespace {

using curve_text::BareName;
using curve_text::FailAt;
using curve_text::Lower;
using curve_text::Trim;

bool NameIn(const std::string& bare, std::initializer_list<std::string_view> list) {
    return std::any_of(list.begin(), list.end(), [&bare](std::string_view name) { return bare == name; });
}

bool NameHas(const std::string& bare, std::initializer_list<std::string_view> list) {
    return std::any_of(list.begin(), list.end(),
                       [&bare](std::string_view part) { return bare.find(part) != std::string::npos; });
}

} // namespace

ImportSuggestion SuggestImport(const ParsedCurveFile& file) {
    ImportSuggestion suggestion;
    const auto count = static_cast<std::int32_t>(file.Columns.size());
    auto pick = [&](auto matches, std::int32_t other) {
        for (std::int32_t c = 0; c < count; ++c) {
            const CurveColumn& column = file.Columns[static_cast<std::size_t>(c)];
            if (c != other && column.HasValues && matches(BareName(column))) {
                return c;
            }
        }
        return -1;
    };
    const auto fieldExact = [](const std::string& n) {
        return NameIn(n, {"magnetic field", "field", "h", "applied field", "mu0h", "mu0 h", "mu_0h", "µ0h"});
    };
    const auto fieldPart = [](const std::string& n) { return NameHas(n, {"field"}); };
    const auto momentExact = [](const std::string& n) {
        return NameIn(n, {"moment", "m. long", "m", "dc moment free ctr", "magnetization", "magnetisation", "mag"});
    };
    const auto momentPart = [](const std::string& n) {
        return NameHas(n, {"moment", "m. long", "magnetiz", "magnetis", "mag"}) && !NameHas(n, {"err", "std"});
    };
    const auto any = [](const std::string&) { return true; };

    suggestion.FieldColumn = pick(fieldExact, -1);
    if (suggestion.FieldColumn < 0) {
        suggestion.FieldColumn = pick(fieldPart, -1);
    }
    suggestion.MomentColumn = pick(momentExact, suggestion.FieldColumn);
    if (suggestion.MomentColumn < 0) {
        suggestion.MomentColumn = pick(momentPart, suggestion.FieldColumn);
    }
    if (suggestion.FieldColumn < 0) {
        suggestion.FieldColumn = pick(any, suggestion.MomentColumn);
    }
    if (suggestion.MomentColumn < 0) {
        // the first column with values after the field, else before it
        for (std::int32_t c = suggestion.FieldColumn + 1; c < count && suggestion.MomentColumn < 0; ++c) {
            if (file.Columns[static_cast<std::size_t>(c)].HasValues) {
                suggestion.MomentColumn = c;
            }
        }
        if (suggestion.MomentColumn < 0) {
            suggestion.MomentColumn = pick(any, suggestion.FieldColumn);
        }
    }
    if (suggestion.FieldColumn >= 0) {
        suggestion.StatedUnit = FieldUnitFromText(file.Columns[static_cast<std::size_t>(suggestion.FieldColumn)].Unit);
    }
    const auto uncertainty = [](const std::string& n) {
        return NameIn(n, {"dm", "sigma", "error", "err", "std. err.", "std err", "std. error", "standard error",
                          "uncertainty", "m. std. err.", "moment std. err.", "moment error", "dmoment"}) ||
               NameHas(n, {"std. err", "std err", "stderr", "uncertainty"});
    };
    suggestion.SigmaColumn = pick(uncertainty, suggestion.FieldColumn);
    if (suggestion.SigmaColumn == suggestion.MomentColumn) {
        suggestion.SigmaColumn = -1;
    }
    return suggestion;
}

std::int32_t FindColumn(const ParsedCurveFile& file, std::string_view text) {
    const std::string_view wanted = Trim(text);
    const auto count = static_cast<std::int32_t>(file.Columns.size());
    if (!wanted.empty() && std::all_of(wanted.begin(), wanted.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::int32_t number = 0;
        const auto [end, error] = std::from_chars(wanted.data(), wanted.data() + wanted.size(), number);
        if (error == std::errc() && number >= 1 && number <= count) {
            return number - 1;
        }
        throw ProgramError("There is no column " + std::string(wanted) + ": the file has " + std::to_string(count) +
                           " columns");
    }
    const std::string lower = Lower(wanted);
    for (std::int32_t c = 0; c < count; ++c) {
        const CurveColumn& column = file.Columns[static_cast<std::size_t>(c)];
        if (Lower(Trim(column.Name)) == lower || BareName(column) == lower) {
            return c;
        }
    }
    throw ProgramError("There is no column named '" + std::string(wanted) + "'");
}

std::int32_t UsableRowCount(const ParsedCurveFile& file, std::int32_t fieldColumn, std::int32_t momentColumn) {
    const auto f = static_cast<std::size_t>(fieldColumn);
    const auto m = static_cast<std::size_t>(momentColumn);
    std::int32_t count = 0;
    for (std::size_t r = 0; r < file.RowCount(); ++r) {
        const std::span<const double> row = file.Row(r);
        count += f < row.size() && m < row.size() && !std::isnan(row[f]) && !std::isnan(row[m]) ? 1 : 0;
    }
    return count;
}

ImportSummary FillExperiment(const ParsedCurveFile& file, const ImportChoice& choice, ExperimentData& experiment) {
    const auto count = static_cast<std::int32_t>(file.Columns.size());
    if (choice.FieldColumn < 0 || choice.FieldColumn >= count || choice.MomentColumn < 0 ||
        choice.MomentColumn >= count) {
        throw ProgramError("The file has no such column");
    }
    const auto f = static_cast<std::size_t>(choice.FieldColumn);
    const auto m = static_cast<std::size_t>(choice.MomentColumn);
    const bool sigma = choice.SigmaColumn >= 0;
    if (sigma && (choice.SigmaColumn >= count || choice.SigmaColumn == choice.FieldColumn ||
                  choice.SigmaColumn == choice.MomentColumn)) {
        throw ProgramError("The uncertainty must be a column of its own");
    }
    const auto u = static_cast<std::size_t>(std::max(choice.SigmaColumn, 0));
    const bool modes = choice.ModeColumn >= 0;
    if (modes && (choice.ModeColumn >= count || choice.ModeColumn == choice.FieldColumn ||
                  choice.ModeColumn == choice.MomentColumn || choice.ModeColumn == choice.SigmaColumn)) {
        throw ProgramError("The mode must be a column of its own");
    }
    const auto k = static_cast<std::size_t>(std::max(choice.ModeColumn, 0));
    const auto isUsable = [&](std::span<const double> row) {
        return !std::isnan(row[f]) && !std::isnan(row[m]) && (!sigma || !std::isnan(row[u])) &&
               (!modes || !std::isnan(row[k]));
    };
    std::size_t usable = 0;
    for (std::size_t r = 0; r < file.RowCount(); ++r) {
        usable += isUsable(file.Row(r)) ? 1U : 0U;
    }
    if (usable == 0) {
        throw ProgramError("No row holds both a value of '" + file.Columns[f].Name + "' and of '" +
                           file.Columns[m].Name + "'");
    }
    ImportSummary summary;
    summary.UsableRows = static_cast<std::int32_t>(usable);
    summary.SkippedRows = static_cast<std::int32_t>(file.RowCount() - usable);
    std::size_t stride = 1;
    if (usable > static_cast<std::size_t>(MaxRows) && choice.Long == LongCurve::Thin) {
        stride = (usable + MaxRows - 1) / MaxRows;
        summary.Stride = static_cast<std::int32_t>(stride);
    }
    // Usable rows 0, stride, 2 stride, ... up to the table's rows.
    std::vector<std::size_t> kept;
    for (std::size_t r = 0, seen = 0; r < file.RowCount() && kept.size() < static_cast<std::size_t>(MaxRows); ++r) {
        const std::span<const double> row = file.Row(r);
        if (isUsable(row) && seen++ % stride == 0) {
            kept.push_back(r);
        }
    }
    summary.KeptRows = static_cast<std::int32_t>(kept.size());
    if (sigma) {
        for (const std::size_t r : kept) {
            if (!(file.Row(r)[u] > 0) || !std::isfinite(file.Row(r)[u])) {
                FailAt(file.RowLines[r], "the uncertainty '" + file.Columns[u].Name + "' is not a positive number");
            }
        }
        summary.ExtraColumns.push_back(choice.SigmaColumn);
    }
    if (modes) {
        for (const std::size_t r : kept) {
            const double mode = file.Row(r)[k];
            // Four layers have at most four modes.
            if (!(mode >= 1 && mode <= 4) || mode != std::floor(mode)) {
                FailAt(file.RowLines[r], "the mode '" + file.Columns[k].Name + "' is not a whole number from 1 to 4");
            }
            summary.Modes.push_back(static_cast<std::int32_t>(mode));
        }
    }
    for (std::size_t c = 0; c < file.Columns.size() && summary.ExtraColumns.size() < MaxCols - 2; ++c) {
        if (c != f && c != m && (!sigma || c != u) &&
            std::none_of(kept.begin(), kept.end(), [&](std::size_t r) { return std::isnan(file.Row(r)[c]); })) {
            summary.ExtraColumns.push_back(static_cast<std::int32_t>(c));
        }
    }

    const double factor = FieldUnitToAmperePerMetre(choice.Unit);
    for (const std::size_t r : kept) {
        if (!std::isfinite(file.Row(r)[f] * factor)) {
            FailAt(file.RowLines[r], "the field in " + FieldUnitName(choice.Unit) + " is beyond the range of A/m");
        }
    }
    experiment.ClearExpTable();
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const std::span<const double> row = file.Row(kept[i]);
        const auto tableRow = static_cast<std::int32_t>(i + 1);
        experiment.ExpTable.At(1, tableRow) = row[f] * factor;
        experiment.ExpTable.At(2, tableRow) = row[m];
        for (std::size_t e = 0; e < summary.ExtraColumns.size(); ++e) {
            experiment.ExpTable.At(static_cast<std::int32_t>(e + 3), tableRow) =
                row[static_cast<std::size_t>(summary.ExtraColumns[e])];
        }
    }
    experiment.ExpRows = summary.KeptRows;
    experiment.ExpCols = 2 + static_cast<std::int32_t>(summary.ExtraColumns.size());
    experiment.SigmaColumn = sigma ? 3 : 0;
    experiment.MomentUnit =
        choice.MomentUnit > 0 ? choice.MomentUnit : MomentUnitFromText(file.Columns[m].Unit).value_or(0.0);
    return summary;
}

} // namespace data
} // namespace dravo2
