#pragma once

#include <cstdint>
#include <vector>

namespace dravo2 {

// One branch of a swept curve: rows First..Last (counted from 1, inclusive) in which the field
// keeps its direction.
struct FieldBranch {
    std::int32_t First = 1;
    std::int32_t Last = 1;
    bool Downward = false; // the field decreases along the branch
};

// Splits rows 1..count of a field column into branches at the flips of the field's direction.
// Steps with no change of field stay in the current branch; the row where the direction turns
// ends one branch and starts the next, so it belongs to both. A curve whose field never changes
// is one upward branch. No branches for a count of 0 or less.
//
// This is the single place of the split in this program; a shared curve-analysis library may take
// it over.
std::vector<FieldBranch> SplitFieldBranches(const double* field, std::int32_t count);

// The branch number (from 1) of each of rows 1..count, at index row - 1: a turning row counts to
// the branch it ends.
std::vector<std::int32_t> BranchNumbers(const std::vector<FieldBranch>& branches, std::int32_t count);

} // namespace dravo2
