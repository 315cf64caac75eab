#include "linescope/Reading.h"

#include "linescope/LineTrace.h"
#include "linescope/Waveform.h"
#include "colour/HdrScale.h"
#include "platform/Numbers.h"

namespace vistrel::linescope {

std::optional<ScopeReading> ReadingAt(const ScopeLayout& layout, int x, int y) {
    const int columns = DisplayColumns(layout.channel, layout.clientWidth);
    if (columns < 1 || x < kBoxLeft || y < kBoxTop || y >= kBoxTop + kScopeRows) return std::nullopt;
    const int box = IsParade(layout.channel) ? (x - kBoxLeft) / kBoxPitch : 0;
    const int column = x - kBoxLeft - box * kBoxPitch;
    if (box >= BoxesUsed(layout.channel) || column >= columns) return std::nullopt;

    ScopeReading reading;
    reading.channel = IsParade(layout.channel) ? kParadeOrder[box] : layout.channel;
    reading.level = kScopeRows - 1 - (y - kBoxTop);
    reading.orientation = layout.orientation;
    const std::size_t extent =
        layout.orientation == Orientation::Horizontal ? layout.pictureWidth : layout.pictureHeight;
    if (layout.pictureWidth == 0 || layout.pictureHeight == 0) return reading;
    if (layout.trace)
        reading.position = TracePositions(extent, columns)[static_cast<std::size_t>(column)];
    else
        reading.position = WaveformPosition(extent, columns, column);
    return reading;
}

int LevelPercent(int level) { return nearestInt(static_cast<double>(level) * 100.0 / (kScopeRows - 1)); }

QString ReadingText(const ScopeReading& reading) {
    const QString scale = reading.nits ? NitsText(*reading.nits) : QStringLiteral("%1 %").arg(LevelPercent(reading.level));
    QString text = QStringLiteral("%1 level %2 / %3")
                       .arg(QChar::fromLatin1(ChannelLetter(reading.channel)))
                       .arg(reading.level)
                       .arg(scale);
    if (reading.position) {
        const char axis = reading.orientation == Orientation::Horizontal ? 'x' : 'y';
        text += QStringLiteral(", %1 %2").arg(QChar::fromLatin1(axis)).arg(static_cast<qulonglong>(*reading.position));
    }
    return text;
}

}  // namespace vistrel::linescope
