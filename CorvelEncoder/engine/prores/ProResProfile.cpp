#include "CorvelEncoder/engine/prores/ProResProfile.h"

#include <algorithm>
#include <cmath>

namespace corvel {

namespace {

constexpr uint32_t tag(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

constexpr std::array<uint8_t, 64> flat()
{
    std::array<uint8_t, 64> m{};
    m.fill(4);
    return m;
}

// Apple's matrices from the format description: coarse high frequencies for the small
// profiles, flat for HQ and 4444.
constexpr std::array<uint8_t, 64> proxyLuma = {
    4,  7,  9,  11, 13, 14, 15, 63, 7,  7,  11, 12, 14, 15, 63, 63, 9,  11, 13, 14, 15, 63,
    63, 63, 11, 11, 13, 14, 63, 63, 63, 63, 11, 13, 14, 63, 63, 63, 63, 63, 13, 14, 63, 63,
    63, 63, 63, 63, 13, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};
constexpr std::array<uint8_t, 64> proxyChroma = {
    4,  7,  9,  11, 13, 14, 63, 63, 7,  7,  11, 12, 14, 63, 63, 63, 9,  11, 13, 14, 63, 63,
    63, 63, 11, 11, 13, 14, 63, 63, 63, 63, 11, 13, 14, 63, 63, 63, 63, 63, 13, 14, 63, 63,
    63, 63, 63, 63, 13, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};
constexpr std::array<uint8_t, 64> ltMatrix = {
    4,  5,  6,  7,  9, 11, 13, 15, 5,  5,  7,  8,  11, 13, 15, 17, 6,  7,  9,  11, 13, 15,
    15, 17, 7,  7,  9, 11, 13, 15, 17, 19, 7,  9,  11, 13, 14, 16, 19, 23, 9,  11, 13, 14,
    16, 19, 23, 29, 9, 11, 13, 15, 17, 21, 28, 35, 11, 13, 16, 17, 21, 28, 35, 41};
constexpr std::array<uint8_t, 64> standardMatrix = {
    4, 4,  5,  5,  6, 7, 7, 9, 4,  4,  5,  6,  7, 7, 9, 9,  5,  5,  6,  7, 7, 9,
    9, 10, 5,  5,  6, 7, 7, 9, 9,  10, 5,  6,  7, 7, 8, 9,  10, 12, 6,  7, 7, 8,
    9, 10, 12, 15, 6, 7, 7, 9, 10, 11, 14, 17, 7, 7, 9, 10, 11, 14, 17, 21};

// The quantiser floors decide what smooth pictures cost, where no budget is reached: set so
// they take about the rate prores_ks gives them (it coarsens detailed slices of such pictures
// and keeps flat ones fine), well above visible loss (4K test pattern: 46 dB proxy, 73 dB HQ).
const ProResProfileInfo infos[] = {
    {tag('a', 'p', 'c', 'o'), 0, false, 45, 10, proxyLuma, proxyChroma},
    {tag('a', 'p', 'c', 's'), 1, false, 102, 4, ltMatrix, ltMatrix},
    {tag('a', 'p', 'c', 'n'), 2, false, 147, 3, standardMatrix, standardMatrix},
    {tag('a', 'p', 'c', 'h'), 3, false, 220, 2, flat(), flat()},
    {tag('a', 'p', '4', 'h'), 4, true, 330, 2, flat(), flat()},
};

} // namespace

const ProResProfileInfo& proResProfileInfo(ProResProfile profile)
{
    return infos[static_cast<int>(profile)];
}

std::optional<ProResProfile> proResProfile(Codec codec)
{
    switch (codec) {
    case Codec::proRes422Proxy:
        return ProResProfile::proxy;
    case Codec::proRes422LT:
        return ProResProfile::lt;
    case Codec::proRes422:
        return ProResProfile::standard;
    case Codec::proRes422HQ:
        return ProResProfile::hq;
    case Codec::proRes4444:
        return ProResProfile::p4444;
    case Codec::h264:
    case Codec::hevc:
    case Codec::hevcWithAlpha:
        break;
    }
    return std::nullopt;
}

const char* proResKsProfileName(ProResProfile profile)
{
    switch (profile) {
    case ProResProfile::proxy:
        return "proxy";
    case ProResProfile::lt:
        return "lt";
    case ProResProfile::standard:
        return "standard";
    case ProResProfile::hq:
        return "hq";
    case ProResProfile::p4444:
        return "4444";
    }
    return "hq";
}

int64_t proResFrameBudget(ProResProfile profile, int width, int height)
{
    // The rate grows with the frame rate, so a frame's share does not depend on it. prores_ks,
    // the rate users compare with, lands 3-6 % above Apple's figures on detailed pictures.
    const double pixels = double(width) * height / (1920.0 * 1080.0);
    const double bytes =
        proResProfileInfo(profile).mbpsAt1080p2997 * 1e6 / 8 / 29.97 * pixels * 1.045;
    return std::max<int64_t>(4096, std::llround(bytes));
}

uint8_t proResPrimaries(int primaries)
{
    // BT.709, BT.601 625 and 525 lines, BT.2020, DCI-P3, Display P3.
    for (const int named : {1, 5, 6, 9, 11, 12}) {
        if (primaries == named)
            return uint8_t(named);
    }
    return 2;
}

uint8_t proResTransfer(int transfer)
{
    switch (transfer) {
    case 14: // BT.2020 10-bit
    case 15: // BT.2020 12-bit
        return 1;
    case 1:  // BT.709
    case 6:  // BT.601, which BT.601 sources carry
    case 16: // PQ
    case 18: // HLG
        return uint8_t(transfer);
    default:
        return 2;
    }
}

uint8_t proResMatrix(int matrix)
{
    switch (matrix) {
    case 1: // BT.709
    case 6: // BT.601
    case 9: // BT.2020 non-constant luminance
        return uint8_t(matrix);
    case 5: // BT.601 as the 625-line systems tag it
        return 6;
    default:
        return 2;
    }
}

int64_t proResFrameCap(ProResProfile profile, int width, int height)
{
    const int64_t budget = proResFrameBudget(profile, width, height);
    return budget + budget / 2;
}

} // namespace corvel
