// The curve import on arbitrary bytes: parsing, the suggested columns and unit, and the filled
// table. The first byte chooses thinning or the first rows (bit 0) and the field unit (bits 1-3);
// the second, when bit 4 of the first is set, small limits of file, line and table size, so that
// inputs of a few hundred bytes reach every refusal the import has for huge files.
#include "data/curve_import.h"
#include "data/errors.h"
#include "data/input_limits.h"

#include <cmath>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dravo2;
    static const auto experiment = std::make_unique<ExperimentData>();
    if (size == 0) {
        return 0;
    }
    const std::uint8_t options = data[0];
    MeasuredLimits limits;
    std::size_t skip = 1;
    if ((options & 16) != 0 && size > 1) {
        const std::size_t small = data[1];
        limits = {64 + small * 4, 8 + small % 64, 4 + small % 32};
        skip = 2;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data + skip), size - skip);
    experiment->ClearExpTable();
    try {
        const ParsedCurveFile file = ParseCurveFile(bytes, limits);
        if (file.RowCount() == 0 || file.Columns.empty() ||
            file.Values.size() != file.RowCount() * file.Columns.size() || file.Values.size() > limits.Values ||
            bytes.size() > limits.FileBytes) {
            std::abort(); // a parse without rows must have thrown; the table and the file are bounded
        }
        const ImportSuggestion suggestion = SuggestImport(file);
        if (suggestion.FieldColumn < 0 || suggestion.MomentColumn < 0) {
            return 0;
        }
        if (suggestion.FieldColumn == suggestion.MomentColumn) {
            std::abort();
        }
        ImportChoice choice{suggestion.FieldColumn, suggestion.MomentColumn,
                            kFieldUnits[(options >> 1) % std::size(kFieldUnits)],
                            (options & 1) ? LongCurve::FirstRows : LongCurve::Thin};
        const ImportSummary summary = FillExperiment(file, choice, *experiment);
        if (experiment->ExpRows != summary.KeptRows || experiment->ExpRows < 1 || experiment->ExpRows > MaxRows ||
            experiment->ExpCols < 2 || experiment->ExpCols > MaxCols) {
            std::abort();
        }
        for (std::int32_t row = 1; row <= experiment->ExpRows; ++row) {
            for (std::int32_t column = 1; column <= experiment->ExpCols; ++column) {
                if (!std::isfinite(experiment->ExpTable.At(column, row))) {
                    std::abort();
                }
            }
        }
    } catch (const ProgramError&) {
        // a message for the user
    }
    return 0;
}
