#pragma once

// Sanitized builds run several times slower; there a time limit only guards against runaway
// work, so limits are stretched by this factor.
#ifdef CORVEL_SANITIZED_BUILD
inline constexpr int kSlowBuildFactor = 10;
#else
inline constexpr int kSlowBuildFactor = 1;
#endif
