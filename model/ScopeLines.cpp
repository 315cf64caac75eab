#include "model/ScopeLines.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace vistrel {

namespace {

constexpr int kTopLevel = 255;
// The graticule's tenths: 25.6 rows each, from 257 (one past the 256 rows, counted from 1).
constexpr double kRowsPerPercent = 2.56;
constexpr double kScaleTop = 257.0;

}  // namespace

int PercentLevel(double percent) {
    const double row = std::nearbyint(kScaleTop - kRowsPerPercent * percent);
    return std::clamp(static_cast<int>(kScaleTop - 1.0 - row), 0, kTopLevel);
}

std::optional<std::vector<int>> ParseScopeLines(const QString& text) {
    std::vector<int> levels;
    if (text.trimmed().isEmpty()) return levels;
    for (QString part : text.split(u',')) {
        part = part.trimmed();
        bool ok = false;
        if (part.endsWith(u'%')) {
            const double percent = part.chopped(1).trimmed().toDouble(&ok);
            if (!ok || percent < 0 || percent > 100) return std::nullopt;
            levels.push_back(PercentLevel(percent));
        } else {
            const int level = part.toInt(&ok, 10);
            if (!ok || level < 0 || level > kTopLevel) return std::nullopt;
            levels.push_back(level);
        }
    }
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    if (static_cast<int>(levels.size()) > kMaxScopeLines) return std::nullopt;
    return levels;
}

QString ScopeLinesText(const std::vector<int>& levels) {
    QStringList parts;
    for (const int level : levels) parts.append(QString::number(level));
    return parts.join(u',');
}

}  // namespace vistrel
