#pragma once

#include <cstddef>

namespace corvel {

// No single FFmpeg allocation may exceed this. An 8K 16-bit RGBA frame needs about 270 MB and
// the index of a day-long 60 fps movie about 170 MB; a hostile MP4 whose fragments claim
// millions of samples would otherwise make the demuxer ask for gigabytes.
inline constexpr std::size_t kMaxFFmpegAllocationBytes = std::size_t{1} << 30;

// Process-wide FFmpeg settings for the programs: quiet logging (failures reach the user as
// messages of their own) and the allocation cap. Call once at start, before any thread uses
// FFmpeg.
void setUpFFmpeg();

} // namespace corvel
