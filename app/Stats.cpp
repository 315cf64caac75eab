#include "app/Stats.h"

#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <future>

#include "app/PictureLoad.h"
#include "app/Render.h"
#include "platform/PictureBox.h"

namespace vistrel {

namespace {

// The view the load fits is not read here: one row keeps its share of the work least.
constexpr int kUnusedViewHeight = 1;

QByteArray JsonString(const QString& text) {
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += QByteArray("\\u00") + QByteArray::number(byte, 16).rightJustified(2, '0');
        } else {
            out += c;
        }
    }
    return out + '"';
}

QByteArray Number(std::uint64_t value) { return QByteArray::number(static_cast<qulonglong>(value)); }
QByteArray Number(int value) { return QByteArray::number(value); }

// Thousandths as a decimal with exactly three places.
QByteArray Thousandths(std::uint64_t value) {
    return Number(value / 1000) + '.' + Number(value % 1000).rightJustified(3, '0');
}

QByteArray ChannelJson(const ChannelStatistics& c) {
    return "{\"min\": " + Number(c.min) + ", \"max\": " + Number(c.max) + ", \"mean\": " +
           Thousandths(c.meanThousandths) + ", \"median\": " + Number(c.median) + ", \"p1\": " + Number(c.p1) +
           ", \"p99\": " + Number(c.p99) + ", \"at_0\": " + Number(c.at0) + ", \"at_255\": " + Number(c.at255) + "}";
}

// A camera raw file's "raw" object: the camera, and the photosites' layout and levels
// when they were counted (a 2 x 2 colour filter array).
QByteArray RawJson(const RawPicture& raw) {
    QByteArray json = "{\"camera\": " + JsonString(raw.camera);
    if (!raw.photosites) return json + "}";
    const RawPhotosites& sites = *raw.photosites;
    json += ", \"cfa\": \"" + QByteArray(sites.cfa.data(), 4) + "\", \"bits\": " + Number(sites.bits);
    json += ", \"black\": [" + Number(std::uint64_t{sites.black[0]}) + ", " + Number(std::uint64_t{sites.black[1]}) +
            ", " + Number(std::uint64_t{sites.black[2]}) + ", " + Number(std::uint64_t{sites.black[3]}) + "]";
    // A white level the file does not hold is none, and so is every count against it.
    const bool white = sites.white != 0;
    json += ", \"white\": " + (white ? Number(std::uint64_t{sites.white}) : QByteArray("null"));
    static constexpr const char* kNames[] = {"R", "G", "B"};
    for (int c = 0; c < 3; ++c) {
        const RawLevels& levels = sites.levels[std::size_t(c)];
        const std::optional<double> headroom = sites.HeadroomEv(c);
        const QByteArray ev = headroom ? QByteArray::number(*headroom, 'f', 2) : "null";
        json += QByteArray(", \"") + kNames[c] + "\": {\"max\": " + Number(std::uint64_t{levels.max}) +
                ", \"p99\": " + Number(std::uint64_t{levels.p99}) + ", \"at_white\": " + (white ? Number(levels.atWhite) : QByteArray("null")) +
                ", \"headroom_ev\": " + ev + "}";
    }
    return json + "}";
}

// A value with exactly `places` decimals, rounded once to the nearest (halves to even).
QByteArray Decimals(double value, int places) {
    const double scale = std::pow(10.0, places);
    const auto units = static_cast<std::uint64_t>(std::nearbyint(std::max(0.0, value) * scale));
    const auto whole = static_cast<std::uint64_t>(scale);
    return Number(units / whole) + '.' + Number(units % whole).rightJustified(places, '0');
}

// The "light" object of a PQ or HLG picture, in nits to one decimal.
QByteArray LightJson(const SignalStats& signal) {
    const SignalLight& light = *signal.light;
    const double fall = signal.pixels > 0 ? light.sumNits / static_cast<double>(signal.pixels) : 0;
    return "{\"max_cll\": " + Decimals(light.maxCll, 1) + ", \"max_fall\": " + Decimals(fall, 1) +
           ", \"p99_nits\": " + Decimals(LightPercentile(light, signal.pixels, 99), 1) + "}";
}

// The "gamut" object: the shares of the pixels outside each gamut, to four decimals.
QByteArray GamutJson(const SignalStats& signal) {
    const auto share = [&](std::size_t g) {
        return Decimals(signal.pixels > 0 ? static_cast<double>(signal.outside[g]) / static_cast<double>(signal.pixels) : 0, 4);
    };
    return "{\"outside_srgb\": " + share(SignalStats::Srgb) + ", \"outside_p3\": " + share(SignalStats::DisplayP3) +
           ", \"outside_rec2020\": " + share(SignalStats::Rec2020) + "}";
}

QByteArray LumaName(korvex::LumaStandard standard) {
    switch (standard) {
        case korvex::LumaStandard::Rec601: return "601";
        case korvex::LumaStandard::Rec709: return "709";
    }
    return "601";
}

}  // namespace

FileStatistics MeasureFile(const QString& file, const Settings& settings, std::optional<QPoint> probe,
                           ColorValue background, std::optional<korvex::PixelRect> region) {
    FileStatistics result;
    result.file = file;
    result.luma = settings.luma;
    result.probe = probe;
    PictureLoad load(file, background, kUnusedViewHeight, 0, settings);
    std::promise<void> over;
    load.Start([&over] { over.set_value(); });
    over.get_future().wait();
    DecodeResult& decoded = load.decoded();
    if (!decoded) {
        result.error = decoded.error;
        return result;
    }
    const Surface& picture = *decoded.surface;
    result.loaded = true;
    result.width = picture.width();
    result.height = picture.height();
    result.colourSpace = decoded.colourSpace;
    result.outOfGamut = decoded.colourConverted ? decoded.outOfGamut : 0;
    result.raw = decoded.raw;
    result.signal = decoded.signal;
    result.region = region;
    if (region && !region->inside(static_cast<std::size_t>(result.width), static_cast<std::size_t>(result.height))) {
        result.regionOutside = true;
        return result;
    }
    if (region) {
        const auto stride = static_cast<std::size_t>(picture.image().bytesPerLine()) / sizeof(korvex::Pixel);
        result.levels = StatisticsOf(korvex::CountRegion(picture.row(0), stride, *region, settings.luma).levels);
        result.regionOutOfGamut =
            decoded.colourConverted && decoded.clipped ? decoded.clipped->CountRect(std::size_t(result.width), *region) : 0;
    } else {
        result.levels = StatisticsOf(load.levels());
    }
    if (probe && probe->x() < result.width && probe->y() < result.height)
        result.readout = ReadoutOf(picture.row(probe->y())[probe->x()], settings.luma);
    return result;
}

QByteArray StatsLine(const FileStatistics& stats) {
    QByteArray line = "{\"file\": " + JsonString(stats.file);
    if (!stats.loaded)
        return line + ", \"error\": " + JsonString("Could not load " + stats.file) +
               ", \"reason\": " + JsonString(FailureSentence(stats.error, stats.file)) + "}";
    line += ", \"width\": " + Number(stats.width) + ", \"height\": " + Number(stats.height);
    if (stats.regionOutside)
        return line + ", \"error\": " + JsonString(RegionOutside(*stats.region, stats.width, stats.height)) + "}";
    if (const auto& r = stats.region)
        line += ", \"region\": [" + Number(std::uint64_t{r->x}) + ", " + Number(std::uint64_t{r->y}) + ", " +
                Number(std::uint64_t{r->width}) + ", " + Number(std::uint64_t{r->height}) + "]";
    line += ", \"luma\": \"" + LumaName(stats.luma) + "\", \"colour\": " +
            JsonString(stats.colourSpace.isEmpty() ? QStringLiteral("sRGB") : stats.colourSpace);
    static constexpr const char* kNames[] = {"R", "G", "B", "Y"};
    line += ", \"channels\": {";
    for (std::size_t c = 0; c < stats.levels.channels.size(); ++c)
        line += QByteArray(c == 0 ? "\"" : ", \"") + kNames[c] + "\": " + ChannelJson(stats.levels.channels[c]);
    line += "}, \"outside_16_235\": " + Number(stats.levels.outsideVideoRange);
    line += ", \"out_of_gamut\": " + Number(stats.outOfGamut);
    if (stats.raw) line += ", \"raw\": " + RawJson(*stats.raw);
    if (stats.probe) {
        line += ", \"probe\": ";
        if (const auto& r = stats.readout)
            line += "{\"x\": " + Number(stats.probe->x()) + ", \"y\": " + Number(stats.probe->y()) +
                    ", \"R\": " + Number(r->r) + ", \"G\": " + Number(r->g) + ", \"B\": " + Number(r->b) +
                    ", \"Y\": " + Number(r->y) + ", \"U\": " + Number(int{r->uv.u}) + ", \"V\": " +
                    Number(int{r->uv.v}) + "}";
        else
            line += "null";  // the probe lies outside this picture
    }
    if (const auto& signal = stats.signal) {
        if (signal->light) line += ", \"light\": " + LightJson(*signal);
        line += ", \"gamut\": " + GamutJson(*signal);
    } else if (stats.raw) {
        line += ", \"gamut\": null";  // LibRaw clips the camera's colours before any are counted
    } else {
        line += ", \"gamut\": " + GamutJson(SignalStats{});  // colours that mean sRGB: inside every gamut
    }
    if (stats.regionOutOfGamut) line += ", \"region_out_of_gamut\": " + Number(*stats.regionOutOfGamut);
    return line + "}";
}

int WriteStatistics(const QStringList& files, const Settings& settings, std::optional<QPoint> probe, std::FILE* out,
                    std::optional<korvex::PixelRect> region) {
    const ColorValue background = CompositingBackground(QGuiApplication::palette());
    // Each picture is let go before the next is read, whose decode may take its buffer.
    const PictureBufferReuse reuse;
    int code = 0;
    for (const QString& file : files) {
        const FileStatistics stats = MeasureFile(file, settings, probe, background, region);
        if (!stats.loaded) code = std::max(code, 1);
        if (stats.regionOutside) code = 2;
        const QByteArray line = StatsLine(stats) + '\n';
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), out);
        std::fflush(out);
    }
    return code;
}

}  // namespace vistrel
