#pragma once

#include <cstddef>
#include <string>

namespace dravo2 {
inline namespace data {

// The most a measured file may hold. Every reader of measured curves stops there, so that a huge
// file, or one that grows while it is read, is refused with a message instead of filling the
// memory or reading for ever.
inline constexpr std::size_t kMaxMeasuredFileBytes = std::size_t{64} << 20;

// The longest line the curve import reads: far beyond any row of an instrument, and it bounds
// the fields of one line that are held at once.
inline constexpr std::size_t kMaxMeasuredLineBytes = std::size_t{1} << 20;

// The most values (rows times columns, empty cells included) the curve import keeps of a file.
inline constexpr std::size_t kMaxMeasuredValues = 10'000'000;

// The three limits together; smaller ones serve tests and fuzzing.
struct MeasuredLimits {
    std::size_t FileBytes = kMaxMeasuredFileBytes;
    std::size_t LineBytes = kMaxMeasuredLineBytes;
    std::size_t Values = kMaxMeasuredValues;
};

// "1048576 bytes (1 MiB)", or "1000 bytes" for a size of no whole MiB.
inline std::string ByteCountText(std::size_t bytes) {
    const std::size_t mebibyte = std::size_t{1} << 20;
    return std::to_string(bytes) + " bytes" +
           (bytes > 0 && bytes % mebibyte == 0 ? " (" + std::to_string(bytes / mebibyte) + " MiB)" : std::string());
}

// "The file holds more than 67108864 bytes (64 MiB), the most a measured file may hold".
inline std::string MeasuredFileTooLargeMessage(std::size_t limit = kMaxMeasuredFileBytes) {
    return "The file holds more than " + ByteCountText(limit) + ", the most a measured file may hold";
}

} // namespace data
} // namespace dravo2
