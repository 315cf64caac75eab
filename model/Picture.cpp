#include "model/Picture.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <memory>

#include "decoding/Decode.h"
#include "platform/Dib.h"
#include "platform/Numbers.h"

namespace vistrel {

ProbeReadout ReadoutOf(korvex::Pixel sample, korvex::LumaStandard standard) {
    return {static_cast<int>((sample >> 16) & 0xFF), static_cast<int>((sample >> 8) & 0xFF),
            static_cast<int>(sample & 0xFF), static_cast<int>(sample >> 24), korvex::PairOf(sample, standard)};
}

ViewFit FitView(int pictureWidth, int pictureHeight, int outerHeight, int border, int maxOuterWidth, double ratio) {
    const float aspect = static_cast<float>(pictureHeight) / static_cast<float>(pictureWidth);
    const float outerWidth = static_cast<float>(outerHeight) / aspect;
    const int frame = 2 * border;
    const int widest = std::clamp(maxOuterWidth, 1 + frame, kMaxPictureSide + frame);
    ViewFit fit;
    fit.outerWidth = std::clamp(nearestInt(outerWidth), 1 + frame, widest);
    fit.outerHeight = outerHeight;
    if (nearestInt(outerWidth) > widest)
        fit.outerHeight = std::clamp(nearestInt(static_cast<double>(widest) * static_cast<double>(aspect)), 1 + frame,
                                     std::max(outerHeight, 1 + frame));
    fit.width = std::max(0, fit.outerWidth - frame);
    fit.height = std::max(0, fit.outerHeight - frame);
    if (ratio != 1) {
        fit.ratio = ratio;
        fit.width = std::clamp(NearestDevicePixels(fit.width, ratio), 1, kMaxPictureSide);
        fit.height = std::clamp(NearestDevicePixels(fit.height, ratio), 1, kMaxPictureSide);
    }
    return fit;
}

std::int32_t ViewPosition(float pointer, std::int32_t last) { return korvex::ClampValue(0, nearestInt(pointer), last); }

std::int32_t PicturePosition(std::int32_t view, float scale, std::int32_t size) {
    return korvex::ClampValue(0, nearestInt(view * static_cast<double>(scale)), size - 1);
}

std::int32_t ViewPositionOf(std::int32_t position, float scale, std::int32_t last) {
    if (!(scale > 0)) return 0;  // no picture: nothing to map
    return korvex::ClampValue(0, nearestInt(position / static_cast<double>(scale)), last);
}

Picture AssemblePicture(Surface& decoded, const ViewFit& fit, const std::vector<korvex::Pixel>& fitted) {
    const int width = decoded.width();
    const int height = decoded.height();
    assert(fitted.size() == static_cast<std::size_t>(fit.width) * static_cast<std::size_t>(fit.height));
    Picture picture;
    picture.scaleX = static_cast<float>(width) / static_cast<float>(fit.width);
    picture.scaleY = static_cast<float>(height) / static_cast<float>(fit.height);
    picture.viewMaxX = fit.width - 1;
    picture.viewMaxY = fit.height - 1;
    picture.fit = fit;
    // The view's pixels as a bitmap holds them: colour only, no fourth byte.
    picture.viewPixels.resize(fitted.size());
    std::transform(fitted.begin(), fitted.end(), picture.viewPixels.begin(),
                   [](korvex::Pixel p) { return p & 0x00FFFFFFu; });
    picture.viewWork = picture.viewPixels;
    // Rows follow each other without padding, as the grid's do. The pixels' address is
    // taken while the surface alone holds them, before the grid shares them.
    assert(decoded.image().bytesPerLine() == static_cast<qsizetype>(DibStride(32, width)));
    korvex::Pixel* const bits = decoded.row(0);
    picture.pixels = korvex::PixelGrid::Adopt(bits, static_cast<std::size_t>(width), static_cast<std::size_t>(height),
                                              std::make_shared<QImage>(decoded.image()));
    return picture;
}

QString ColourNote(const QString& space, bool converted, bool toneMapped, std::uint64_t clipped,
                   std::uint64_t pixels, bool wholePicture) {
    if (space.isEmpty()) return QStringLiteral("sRGB");
    if (!converted) return QStringLiteral("Stored values: %1, not converted").arg(space);
    QString note = space + QStringLiteral(" \u2192 sRGB");
    // A PQ or HLG signal was rendered as SDR on the way: the instruments read that rendering.
    if (toneMapped) note += QStringLiteral(" (HDR tone-mapped)");
    if (clipped == 0 || pixels == 0) return note;
    // Tenths of a percent, whole numbers all the way but for the one rounding.
    const auto tenths = static_cast<std::uint64_t>(
        std::nearbyint(static_cast<double>(std::min(clipped, pixels)) * 1000.0 / static_cast<double>(pixels)));
    const QString of = wholePicture ? QStringLiteral(" in the whole picture") : QString();
    if (tenths == 0) return note + QStringLiteral(", < 0.1 % clipped") + of;
    return note + QStringLiteral(", %1.%2 % clipped").arg(tenths / 10).arg(tenths % 10) + of;
}

QString LightNote(const SignalStats& signal) {
    if (!signal.light || signal.pixels == 0) return {};
    const SignalLight& light = *signal.light;
    const QString transfer = signal.transfer == SignalTransfer::Pq ? QStringLiteral("PQ (ST 2084)") : QStringLiteral("HLG (BT.2100)");
    const double fall = light.sumNits / static_cast<double>(signal.pixels);
    return transfer + QStringLiteral(", MaxCLL %1 nits, MaxFALL %2 nits")
                          .arg(static_cast<qint64>(std::nearbyint(light.maxCll)))
                          .arg(static_cast<qint64>(std::nearbyint(fall)));
}

namespace {

// A PQ or HLG picture's light after its colour note.
QString WithLight(const QString& note, const Picture& picture) {
    if (!picture.signal) return note;
    const QString light = LightNote(*picture.signal);
    return light.isEmpty() ? note : note + QStringLiteral(" \u00B7 ") + light;
}

}  // namespace

QString ColourNote(const Picture& picture) {
    if (picture.raw)
        return picture.rawValues ? QStringLiteral("Raw values, linear, not white-balanced")
                                 : picture.raw->camera + QStringLiteral(", developed from raw");
    return WithLight(ColourNote(picture.colourSpace, picture.colourConverted, picture.hdrToneMapped, picture.outOfGamut,
                                picture.pixels.size()),
                     picture);
}

QString RegionNote(const korvex::PixelRect& region) {
    return QStringLiteral("Region %1 x %2 at %3,%4").arg(region.width).arg(region.height).arg(region.x).arg(region.y);
}

QString ColourNote(const Picture& picture, const std::optional<korvex::PixelRect>& region,
                   std::uint64_t regionClipped) {
    if (!region) return ColourNote(picture);
    const bool whole = picture.outOfGamut != 0 && !picture.clipped;
    const QString note =
        picture.raw ? ColourNote(picture)
        : whole     ? WithLight(ColourNote(picture.colourSpace, picture.colourConverted, picture.hdrToneMapped,
                                           picture.outOfGamut, picture.pixels.size(), true),
                                picture)
                    : WithLight(ColourNote(picture.colourSpace, picture.colourConverted, picture.hdrToneMapped,
                                           regionClipped, std::uint64_t{region->width} * region->height),
                                picture);
    return note + QStringLiteral(" \u00B7 ") + RegionNote(*region);
}

}  // namespace vistrel
