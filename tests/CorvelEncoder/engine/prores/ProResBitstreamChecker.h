#pragma once

#include "CorvelEncoder/engine/prores/ProResProfile.h"

#include <cstdint>
#include <span>
#include <string>

namespace corvel::test {

// What a frame must be, beyond what every ProRes frame must be.
struct ProResExpectation
{
    ProResProfile profile = ProResProfile::hq;
    int width = 0, height = 0;
    bool alpha = false;
    int interlaceMode = 0; // 1: top field first, 2: bottom field first
    uint8_t primaries = 2, transfer = 2, matrix = 2;
};

struct ProResCheck
{
    std::string error; // empty when the frame is well formed
    int64_t alphaBytes = 0;
};

// Parses a whole frame as the format describes it: frame header, each picture's header and
// slice table, every slice header and every coefficient and alpha code. Rejects any field out
// of range, sizes that disagree, codes a decoder cannot read and frames over the profile's cap.
ProResCheck checkProResFrame(std::span<const uint8_t> frame, const ProResExpectation& expected);

} // namespace corvel::test
