// Text to number on arbitrary field texts: a conversion either fails with the field's message or
// gives a value that the window's own 15-digit text turns back into (nearly) the same value.
#include "data/errors.h"
#include "data/number_text.h"

#include <cmath>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dravo2;
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A message shows every control byte of the field's text, NUL included, as \xHH.
    for (const char separator : {'.', ','}) {
        try {
            const Real value = TextToReal(text, separator);
            if (std::isnan(value) || std::isinf(value)) {
                std::abort();
            }
            const std::string written = GeneralNumberText(value, 15, separator);
            const Real back = TextToReal(written, separator);
            const Real tolerance = std::fabs(value) * 1e-14L;
            if (std::fabs(back - value) > tolerance) {
                std::abort();
            }
        } catch (const ConversionError& error) {
            if (std::string(error.what()) != PrintableText("'" + text + "' is not a valid floating point value")) {
                std::abort();
            }
        }
    }
    try {
        const std::int32_t value = TextToInteger(text);
        if (TextToInteger(std::to_string(value)) != value) {
            std::abort();
        }
    } catch (const ConversionError& error) {
        if (std::string(error.what()) != PrintableText("'" + text + "' is not a valid integer value")) {
            std::abort();
        }
    }
    Real number = 0;
    if (ParseDataNumber(text, number) && (std::isnan(number) || std::isinf(number))) {
        std::abort();
    }
    ClearFloatingPointFlags();
    return 0;
}
