#pragma once

#include <QStringView>

#include <cstdint>
#include <optional>

namespace corvel {

// ASCII digits with an optional leading "+" or "-", nothing else (no white space); nothing when
// the value does not fit in 64 bits.
std::optional<int64_t> parseDecimalInteger(QStringView text);

// A finite decimal floating-point number such as "25", "-1.5", ".5" or "2.4e1", nothing else
// (no white space, no "inf", "nan" or hexadecimal forms).
std::optional<double> parseDecimalNumber(QStringView text);

} // namespace corvel
