#pragma once
// The line scope's reference lines as a user writes them and as they are kept: levels
// separated by commas, each an 8-bit level ("16,235") or a share of full scale ("5%,95%").

#include <QString>

#include <optional>
#include <vector>

namespace vistrel {

// At most this many lines: enough for any set of limits, few enough to read the traces.
inline constexpr int kMaxScopeLines = 16;

// The level of a share of full scale, on the graticule's own scale (its lines at tenths
// are the rows 257 - 25.6 k rounded, counted from 1): 256 - nearest(257 - 2.56 p), held
// to 0 .. 255. So 10 % is level 25, on the graticule's first line; 5 % is 12, 95 % is 242.
int PercentLevel(double percent);

// The levels, ascending and each once, or nothing when the text is not such a list (an
// empty text is no lines at all).
std::optional<std::vector<int>> ParseScopeLines(const QString& text);
// The levels written back as ParseScopeLines reads them ("16,235").
QString ScopeLinesText(const std::vector<int>& levels);

}  // namespace vistrel
