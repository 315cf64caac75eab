#pragma once
// The nits scale as the instruments print it: a scale line's short name and a reading's
// light. The code levels themselves are colour/HdrScale.h's.

#include <QString>

#include "colour/HdrScale.h"

namespace vistrel {

// A scale line's name, short enough for the line scope's label margin: "0.1", "203", "1k",
// "10k".
QString ScaleLineName(double nits);
// A reading's light, with about three significant digits: "0.012 nits", "4.57 nits",
// "48.3 nits", "1,234 nits".
QString NitsText(double nits);

}  // namespace vistrel
