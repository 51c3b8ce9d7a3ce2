#include "data/floating_point.h"

#include "data/errors.h"

namespace dravo2 {
inline namespace data {

void RaiseFloatingPointError(int flags) {
    ClearFloatingPointFlags();
    if (flags & FE_INVALID) {
        throw FloatingPointError(kInvalidOperationMessage);
    }
    if (flags & FE_DIVBYZERO) {
        throw FloatingPointError(kDivisionByZeroMessage);
    }
    throw FloatingPointError(kOverflowMessage);
}

} // namespace data
} // namespace dravo2
