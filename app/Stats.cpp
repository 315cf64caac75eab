#include "app/Stats.h"

#include <QGuiApplication>

#include <algorithm>
#include <bit>
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

QByteArray Stops(std::optional<double> stops) { return stops ? QByteArray::number(*stops, 'f', 2) : "null"; }

// One channel of the "raw" object: its levels, and the stops from p99 and from the
// median up to white (the second only where the photosites themselves were counted).
QByteArray RawChannelJson(std::uint32_t max, std::uint32_t p99, std::optional<std::uint64_t> atWhite,
                          std::optional<double> headroom, std::optional<std::optional<double>> evP50) {
    QByteArray json = "{\"max\": " + Number(std::uint64_t{max}) + ", \"p99\": " + Number(std::uint64_t{p99}) +
                      ", \"at_white\": " + (atWhite ? Number(*atWhite) : QByteArray("null")) +
                      ", \"headroom_ev\": " + Stops(headroom);
    if (evP50) json += ", \"ev_p50\": " + Stops(*evP50);
    return json + "}";
}

// The photosites' histogram: bins of one width from 0 up to the smallest power of two
// above both the sensor's depth and its highest photosite counted, at most kMostRawBins.
QByteArray RawHistogramJson(const RawCounts& counts, const std::vector<std::pair<const char*, RawChannel>>& channels) {
    std::uint32_t highest = 0;
    for (const auto& [name, channel] : channels) highest = std::max(highest, LevelsOf(counts.Histogram(channel), 0).max);
    const int bits = std::max(counts.sensor->bits, static_cast<int>(std::bit_width(highest)));
    const std::uint32_t width = RawBinWidth(bits);
    const std::size_t bins = (std::size_t{1} << bits) / width;
    QByteArray json = "{\"bin_width\": " + Number(std::uint64_t{width}) + ", \"bins\": " + Number(std::uint64_t{bins});
    for (const auto& [name, channel] : channels) {
        const std::vector<std::uint32_t> histogram = counts.Histogram(channel);
        json += QByteArray(", \"") + name + "\": [";
        for (std::size_t b = 0; b < bins; ++b) {
            std::uint64_t n = 0;
            for (std::size_t v = b * width; v < (b + 1) * width; ++v) n += histogram[v];
            if (b > 0) json += ", ";
            json += Number(n);
        }
        json += "]";
    }
    return json + "}";
}

// A camera raw file's "raw" object: the camera, and the photosites' layout and levels
// when they were counted: by the decoder (a 2 x 2 colour filter array), or here from the
// photosites themselves, under the region when there is one (X-Trans too).
QByteArray RawJson(const RawPicture& raw, const RawCounts* counts, bool histogram) {
    QByteArray json = "{\"camera\": " + JsonString(raw.camera);
    const RawSensor* sensor = counts != nullptr ? counts->sensor.get() : nullptr;
    if (!raw.photosites && sensor == nullptr) return json + "}";
    std::uint32_t white = 0;
    if (raw.photosites) {
        const RawPhotosites& sites = *raw.photosites;
        json += ", \"cfa\": \"" + QByteArray(sites.cfa.data(), 4) + "\", \"bits\": " + Number(sites.bits);
        json += ", \"black\": [" + Number(std::uint64_t{sites.black[0]}) + ", " + Number(std::uint64_t{sites.black[1]}) +
                ", " + Number(std::uint64_t{sites.black[2]}) + ", " + Number(std::uint64_t{sites.black[3]}) + "]";
        white = sites.white;
    } else {
        // X-Trans: its 6 x 6 array row by row, and a black level a colour.
        QByteArray cfa;
        for (int i = 0; i < sensor->repeat * sensor->repeat; ++i) cfa += "RGGB"[static_cast<int>(sensor->pattern[std::size_t(i)])];
        json += ", \"cfa\": \"" + cfa + "\", \"bits\": " + Number(sensor->bits);
        json += ", \"black\": [" + Number(std::uint64_t{sensor->black[std::size_t(RawSite::R)]}) + ", " +
                Number(std::uint64_t{sensor->black[std::size_t(RawSite::G1)]}) + ", " +
                Number(std::uint64_t{sensor->black[std::size_t(RawSite::B)]}) + "]";
        white = sensor->white;
    }
    // A white level the file does not hold is none, and so is every count against it.
    json += ", \"white\": " + (white != 0 ? Number(std::uint64_t{white}) : QByteArray("null"));
    const auto atWhite = [&](std::uint64_t n) { return white != 0 ? std::optional<std::uint64_t>(n) : std::nullopt; };
    static constexpr const char* kNames[] = {"R", "G", "B"};
    static constexpr RawChannel kChannels[] = {RawChannel::R, RawChannel::G, RawChannel::B};
    for (int c = 0; c < 3; ++c) {
        if (sensor != nullptr) {
            const RawChannelLevels levels = LevelsOf(counts->Histogram(kChannels[c]), white);
            const double black = BlackOf(*sensor, kChannels[c]);
            json += QByteArray(", \"") + kNames[c] + "\": " +
                    RawChannelJson(levels.max, levels.p99, atWhite(levels.atWhite), StopsBelowWhite(levels.p99, black, white),
                                   StopsBelowWhite(levels.p50, black, white));
        } else {
            const RawLevels& levels = raw.photosites->levels[std::size_t(c)];
            json += QByteArray(", \"") + kNames[c] + "\": " +
                    RawChannelJson(levels.max, levels.p99, atWhite(levels.atWhite), raw.photosites->HeadroomEv(c), std::nullopt);
        }
    }
    if (sensor == nullptr) return json + "}";
    std::vector<std::pair<const char*, RawChannel>> channels = {{"R", RawChannel::R}};
    if (!sensor->xtrans()) {
        for (const auto& [name, channel] : {std::pair{"G1", RawChannel::G1}, std::pair{"G2", RawChannel::G2}}) {
            const RawChannelLevels levels = LevelsOf(counts->Histogram(channel), white);
            const double black = BlackOf(*sensor, channel);
            json += QByteArray(", \"") + name + "\": " +
                    RawChannelJson(levels.max, levels.p99, atWhite(levels.atWhite), StopsBelowWhite(levels.p99, black, white),
                                   StopsBelowWhite(levels.p50, black, white));
        }
        channels.insert(channels.end(), {{"G1", RawChannel::G1}, {"G2", RawChannel::G2}});
    } else {
        channels.emplace_back("G", RawChannel::G);
    }
    channels.emplace_back("B", RawChannel::B);
    if (histogram) json += ", \"histogram\": " + RawHistogramJson(*counts, channels);
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
                           ColorValue background, std::optional<korvex::PixelRect> region, bool rawHistogram) {
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
    result.rawHistogram = rawHistogram;
    result.signal = decoded.signal;
    result.region = region;
    if (region && !region->inside(static_cast<std::size_t>(result.width), static_cast<std::size_t>(result.height))) {
        result.regionOutside = true;
        return result;
    }
    if (const RawCounts* whole = load.rawCounts().get()) {
        result.rawCounts = region ? std::make_shared<const RawCounts>(
                                        CountRaw(whole->sensor, result.width, result.height, region))
                                  : load.rawCounts();
    }
    if (region) {
        const auto stride = static_cast<std::size_t>(picture.image().bytesPerLine()) / sizeof(korvex::Pixel);
        result.levels = StatisticsOf(korvex::CountRegion(picture.row(0), stride, *region, settings.luma).levels);
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
    if (stats.raw) line += ", \"raw\": " + RawJson(*stats.raw, stats.rawCounts.get(), stats.rawHistogram);
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
    } else if (!stats.raw) {
        line += ", \"gamut\": " + GamutJson(SignalStats{});  // colours that mean sRGB: inside every gamut
    }
    return line + "}";
}

int WriteStatistics(const QStringList& files, const Settings& settings, std::optional<QPoint> probe, std::FILE* out,
                    std::optional<korvex::PixelRect> region, bool rawHistogram) {
    const ColorValue background = CompositingBackground(QGuiApplication::palette());
    // Each picture is let go before the next is read, whose decode may take its buffer.
    const PictureBufferReuse reuse;
    int code = 0;
    for (const QString& file : files) {
        const FileStatistics stats = MeasureFile(file, settings, probe, background, region, rawHistogram);
        if (!stats.loaded) code = std::max(code, 1);
        if (stats.regionOutside) code = 2;
        const QByteArray line = StatsLine(stats) + '\n';
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), out);
        std::fflush(out);
    }
    return code;
}

}  // namespace vistrel
