#pragma once
// Rounding and the number patterns of the readouts.

#include <QLocale>
#include <QString>

#include <cmath>
#include <cstdint>
#include <string_view>

namespace vistrel {

// To the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
inline double nearest(double value) { return std::nearbyint(value); }
// Design positions and sizes are in twips: 1/1440 inch, 15 to the pixel at 96 pixels per inch.
inline constexpr int kTwipsPerPixel = 15;

inline std::int32_t nearestInt(double value) { return static_cast<std::int32_t>(std::nearbyint(value)); }
// The whole device pixels nearest a length of logical pixels on a screen of `ratio` device
// pixels to the logical pixel; at 1, the length itself.
inline int NearestDevicePixels(int logical, double ratio) { return ratio == 1 ? logical : nearestInt(logical * ratio); }

// Formats a number with a digit pattern: "0" is a digit always shown, "." the
// locale's decimal point, "," the locale's thousands grouping. Patterns in use:
// "000", "0.00", "0,0", "00.", "000.".
QString FormatNumber(double value, std::string_view pattern, const QLocale& locale = QLocale());

// A nits scale line's name, short enough for the line scope's label margin: "0.1", "203",
// "1k", "10k".
QString ScaleLineName(double nits);
// A reading's light, with about three significant digits: "0.012 nits", "4.57 nits",
// "48.3 nits", "1,234 nits".
QString NitsText(double nits);

}  // namespace vistrel
