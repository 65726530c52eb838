#pragma once

#include "CorvelEncoderCore/Enumerations.h"

#include <array>
#include <cstdint>
#include <optional>

namespace corvel {

enum class ProResProfile
{
    proxy,
    lt,
    standard,
    hq,
    p4444
};

// What the bitstream and the container say about a profile, and the data rate it aims at.
struct ProResProfileInfo
{
    uint32_t fourcc;                    // as MKTAG builds it: first letter in the low byte
    int avProfile;                      // FFmpeg's FF_PROFILE_PRORES_* number
    bool chroma444;                     // otherwise 4:2:2
    double mbpsAt1080p2997;             // Apple's published rate for 1920x1080 at 29.97 frames/s
    int minQuantiser;                   // below this the rate only buys invisible detail
    std::array<uint8_t, 64> lumaMatrix; // raster order, as the frame header carries them
    std::array<uint8_t, 64> chromaMatrix;
};

const ProResProfileInfo& proResProfileInfo(ProResProfile profile);

// The ProRes profile a codec choice writes; none for the codecs that are not ProRes.
std::optional<ProResProfile> proResProfile(Codec codec);
// The name FFmpeg's prores_ks takes for the profile.
const char* proResKsProfileName(ProResProfile profile);

// Bytes one frame may use on average: the published rate scaled by pixels and frame rate.
int64_t proResFrameBudget(ProResProfile profile, int width, int height);
// No frame may exceed this (half a budget above it), whatever the picture.
int64_t proResFrameCap(ProResProfile profile, int width, int height);

// The frame header's colour codes (ISO/IEC 23091-2 numbers, as FFmpeg's enums give them)
// limited to those the format names; a value it does not name becomes the one it names for
// the same thing (BT.2020's transfer is BT.709's), or else 2, unspecified.
uint8_t proResPrimaries(int primaries);
uint8_t proResTransfer(int transfer);
uint8_t proResMatrix(int matrix);

// Quantiser scale values 1..128 then 132..512 in steps of 4, coded as 1..224 in the slice header.
inline int proResQuantiserValue(int code)
{
    return code <= 128 ? code : (code - 96) * 4;
}

} // namespace corvel
