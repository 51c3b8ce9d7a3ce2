// The measured-file reader on arbitrary bytes. The first byte chooses the layout (bit 0: ".da2"
// or ".dat"), whether a lone LF ends a line (bit 1), the decimal separator (bit 2: comma) and
// whether the text comes in pieces from a source that may give no more than half of it (bit 3),
// so that the refusal of files beyond the limit is reached too.
#include "data/errors.h"
#include "data/experiment_reader.h"

#include <algorithm>
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
    std::size_t given = 0;
    const std::size_t limit = bytes.size() / 2;
    try {
        const ExperimentFormat format = (options & 1) ? ExperimentFormat::Da2 : ExperimentFormat::Dat;
        const auto status = [&statusCalls](const std::string&) { ++statusCalls; };
        if ((options & 8) != 0) {
            TextReader text(
                [&](char* buffer, std::size_t count) {
                    count = std::min({count, std::size_t{7}, bytes.size() - given});
                    bytes.copy(buffer, count, given);
                    given += count;
                    return count;
                },
                (options & 2) != 0, limit);
            ReadExperiment(text, format, *experiment, (options & 4) ? ',' : '.', status);
        } else {
            ReadExperiment(bytes, format, *experiment, (options & 4) ? ',' : '.', status, (options & 2) != 0);
        }
    } catch (const ProgramError&) {
        // a message for the user; what was read stays
    }
    if (given > limit + 1) {
        std::abort(); // read beyond the limit
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
