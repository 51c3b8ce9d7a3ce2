#include "data/field_branches.h"

namespace dravo2 {

std::vector<FieldBranch> SplitFieldBranches(const double* field, std::int32_t count) {
    std::vector<FieldBranch> branches;
    if (count <= 0) {
        return branches;
    }
    FieldBranch current;
    int direction = 0; // sign of the branch's field change; 0 until the first change
    for (std::int32_t row = 2; row <= count; ++row) {
        const double before = field[row - 2];
        const double after = field[row - 1];
        const int change = after > before ? 1 : (after < before ? -1 : 0);
        if (change != 0 && direction != 0 && change != direction) {
            current.Last = row - 1;
            current.Downward = direction < 0;
            branches.push_back(current);
            current.First = row - 1;
            direction = change;
        } else if (change != 0) {
            direction = change;
        }
    }
    current.Last = count;
    current.Downward = direction < 0;
    branches.push_back(current);
    return branches;
}

std::vector<std::int32_t> BranchNumbers(const std::vector<FieldBranch>& branches, std::int32_t count) {
    std::vector<std::int32_t> numbers(count > 0 ? static_cast<std::size_t>(count) : 0, 0);
    for (std::size_t b = branches.size(); b-- > 0;) {
        for (std::int32_t row = branches[b].First; row <= branches[b].Last && row <= count; ++row) {
            numbers[static_cast<std::size_t>(row - 1)] = static_cast<std::int32_t>(b + 1);
        }
    }
    return numbers;
}

} // namespace dravo2
