#include "data/floating_point.h"

#include "data/errors.h"

namespace dravo2 {

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

} // namespace dravo2
