#pragma once

#include <cstddef>
#include <string>

namespace dravo2 {

// The most a measured file may hold. Every reader of measured curves stops there, so that a huge
// file, or one that grows while it is read, is refused with a message instead of filling the
// memory or reading for ever.
inline constexpr std::size_t kMaxMeasuredFileBytes = std::size_t{64} << 20;

// The longest line the curve import reads: far beyond any row of an instrument, and it bounds
// the fields of one line that are held at once.
inline constexpr std::size_t kMaxMeasuredLineBytes = std::size_t{1} << 20;

// The most values (rows times columns, empty cells included) the curve import keeps of a file.
inline constexpr std::size_t kMaxMeasuredValues = 10'000'000;

// "The file holds more than 67108864 bytes (64 MiB), the most a measured file may hold".
inline std::string MeasuredFileTooLargeMessage(std::size_t limit = kMaxMeasuredFileBytes) {
    const std::string mebibytes =
        limit % (std::size_t{1} << 20) == 0 && limit > 0 ? " (" + std::to_string(limit >> 20) + " MiB)" : std::string();
    return "The file holds more than " + std::to_string(limit) + " bytes" + mebibytes +
           ", the most a measured file may hold";
}

} // namespace dravo2
