// The measured-file reader on arbitrary bytes. The first byte chooses the layout (bit 0: ".da2"
// or ".dat"), whether a lone LF ends a line (bit 1) and the decimal separator (bit 2: comma).
#include "data/errors.h"
#include "data/experiment_reader.h"

#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dravo2;
    static const auto experiment = std::make_unique<ExperimentData>();
    if (size == 0) {
        return 0;
    }
    const std::uint8_t options = data[0];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    experiment->ClearExpTable();
    std::size_t statusCalls = 0;
    try {
        ReadExperiment(
            bytes, (options & 1) ? ExperimentFormat::Da2 : ExperimentFormat::Dat, *experiment,
            (options & 4) ? ',' : '.', [&statusCalls](const std::string&) { ++statusCalls; }, (options & 2) != 0);
    } catch (const ProgramError&) {
        // a message for the user; what was read stays
    }
    const bool countsInRange = experiment->ExpRows >= 0 && experiment->ExpRows <= MaxRows && experiment->ExpCols >= 0 &&
                               experiment->ExpCols <= MaxCols;
    const bool columnsForRows = experiment->ExpRows == 0 || experiment->ExpCols >= 1;
    const bool da2Columns = !(options & 1) || experiment->ExpCols <= 2;
    if (!countsInRange || !columnsForRows || !da2Columns || statusCalls > 3) {
        std::abort();
    }
    return 0;
}
