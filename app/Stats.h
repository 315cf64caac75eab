#pragma once
// `vistrel --stats FILE...`: each picture loaded as the window loads it, and its
// numbers printed as one line of JSON, in the order the files were given.

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

#include "decoding/Decode.h"
#include "model/LevelStatistics.h"
#include "model/Model.h"
#include "model/RawCounts.h"

namespace vistrel {

// What one file gave.
struct FileStatistics {
    QString file;  // as given
    bool loaded = false;
    DecodeError error = DecodeError::Unreadable;  // why it did not load
    int width = 0;
    int height = 0;
    korvex::LumaStandard luma = korvex::LumaStandard::Rec601;
    QString colourSpace;  // the space the picture came in; empty for sRGB or none named
    std::uint64_t outOfGamut = 0;
    std::optional<RawPicture> raw;  // a camera raw file's camera and photosites
    // Its photosites counted, under the region when there is one; and whether their
    // histogram is printed (--raw-histogram).
    std::shared_ptr<const RawCounts> rawCounts;
    bool rawHistogram = false;
    LevelStatistics levels;
    std::optional<QPoint> probe;          // asked for
    std::optional<ProbeReadout> readout;  // the probe's values, when it lies on the picture
    // The region of interest the levels count, when one was asked for; and whether it
    // fell outside the picture, which then gives no numbers.
    std::optional<korvex::PixelRect> region;
    bool regionOutside = false;
    // The file's own samples as the decoder counted them; nothing when it did not.
    std::shared_ptr<const SignalStats> signal;
};

// The file decoded and analysed as the window's load does it, under the settings' luma
// standard and colour handling; probe: the full-size pixel whose readouts are added.
// background: the colour transparent parts are composited over; region: the rectangle
// whose pixels alone the levels count (out_of_gamut stays the whole picture's).
FileStatistics MeasureFile(const QString& file, const Settings& settings, std::optional<QPoint> probe,
                           ColorValue background, std::optional<korvex::PixelRect> region = {},
                           bool rawHistogram = false);

// The file's line of JSON, without its line end. A file that did not load gives its
// "error" ("Could not load FILE") and its "reason", in the words the window uses.
QByteArray StatsLine(const FileStatistics& stats);

// Measures each file in turn and writes its line to out as soon as it is known.
// Returns 2 if the region lay outside any picture, else 1 if any file failed to load,
// else 0. With rawHistogram, a camera raw's line holds its photosites' histogram. Needs a
// QGuiApplication.
int WriteStatistics(const QStringList& files, const Settings& settings, std::optional<QPoint> probe, std::FILE* out,
                    std::optional<korvex::PixelRect> region = {}, bool rawHistogram = false);

}  // namespace vistrel
