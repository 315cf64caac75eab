// What counting a file's own samples costs: a 24-megapixel 16-bit PNG tagged BT.2020 /
// PQ decoded whole (its samples counted on the way), and the counting alone on one
// thread, at 16 bits and at 8. The goal: the count at most 0.10 x the decode.
#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QBuffer>
#include <QFile>
#include <QImage>

#include <zlib.h>

#include "colour/ColourConvert.h"
#include "colour/SignalSource.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "kernels/simd.h"
#include "pictures.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

// The photograph's levels widened to 16 bits, with texture in the low bits.
std::uint16_t Sample(int x, int y, int channel) {
    return static_cast<std::uint16_t>(bench::Photo(x, y, kWidth, kHeight, channel) * 257 ^ ((x * 7 + y * 13 + channel) & 0xFF));
}

QByteArray BigEndian32(std::uint32_t v) {
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

const QString& Png16Pq24MP() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_24mp_16bit_pq.png";
        if (QFile::exists(file)) return file;
        QImage image(kWidth, kHeight, QImage::Format_RGBX64);
        for (int y = 0; y < kHeight; ++y) {
            auto* row = reinterpret_cast<std::uint16_t*>(image.scanLine(y));
            for (int x = 0; x < kWidth; ++x) {
                for (int c = 0; c < 3; ++c) row[4 * x + c] = Sample(x, y, c);
                row[4 * x + 3] = 0xFFFF;
            }
        }
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "png")) qFatal("cannot encode the 16-bit PNG");
        const char data[4] = {9, 16, 0, 1};  // BT.2020, PQ, RGB, full range
        const QByteArray typed = QByteArray("cICP") + QByteArray(data, 4);
        const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size())));
        png.insert(33, BigEndian32(4) + typed + BigEndian32(crc));
        QFile out(file + ".part");
        if (!out.open(QIODevice::WriteOnly) || out.write(png) != png.size()) qFatal("cannot write %s", qPrintable(file));
        out.close();
        QFile::rename(file + ".part", file);
        return file;
    }();
    return path;
}

std::shared_ptr<const vistrel::colour::SignalSource> PqSource() {
    vistrel::colourtags::FileColour tags;
    tags.cicp = vistrel::colourtags::Cicp{9, 16, 0, 1};
    return vistrel::colour::SignalSource::For(vistrel::colour::SourceColourOf(tags), vistrel::colourtags::SampleKind::Rgb);
}

}  // namespace

void BM_DecodePicturePng16BitPq24MP(benchmark::State& state) {
    const QString& file = Png16Pq24MP();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result || !result.signal || !result.signal->light) state.SkipWithError("decode failed or not counted");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodePicturePng16BitPq24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime()->MeasureProcessCPUTime();

// The counting alone, on one thread: 24 megapixels of 16-bit PQ samples; the argument 0
// keeps to the plain vectors every processor has, 1 uses wide ones where there are.
void BM_SignalCount16BitPq24MP(benchmark::State& state) {
    korvex::detail::AllowWideVectors(state.range(0) != 0);
    const auto source = PqSource();
    std::vector<std::uint16_t> rgb(std::size_t{3} * kWidth * kHeight);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = Sample(int(i / 3 % kWidth), int(i / 3 / kWidth), int(i % 3));
    for (auto _ : state) {
        vistrel::colour::SignalCount count(source->space());
        {
            const vistrel::colour::SignalCount::Lease tally(count);
            source->Count16(rgb.data(), rgb.size() / 3, *tally);
        }
        benchmark::DoNotOptimize(count.Stats());
    }
    korvex::detail::AllowWideVectors(true);
}
BENCHMARK(BM_SignalCount16BitPq24MP)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);

namespace {

// 8-bit pixels counted whole, on one thread, each round.
void CountEachRound(benchmark::State& state, const vistrel::colour::SignalSource& source,
                    const std::vector<std::uint32_t>& pixels) {
    for (auto _ : state) {
        vistrel::colour::SignalCount count(source.space());
        {
            const vistrel::colour::SignalCount::Lease tally(count);
            source.Count(pixels.data(), pixels.size(), *tally);
        }
        benchmark::DoNotOptimize(count.Stats());
    }
}

}  // namespace

// 24 megapixels of 8-bit sRGB pixels, as every untagged picture is counted.
void BM_SignalCount8BitSrgb24MP(benchmark::State& state) {
    const auto source = vistrel::colour::SignalSource::Srgb();
    std::vector<std::uint32_t> pixels(std::size_t{kWidth} * kHeight);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const int x = int(i % kWidth), y = int(i / kWidth);
        pixels[i] = 0xFF000000u | bench::Photo(x, y, kWidth, kHeight, 0) << 16 | bench::Photo(x, y, kWidth, kHeight, 1) << 8 |
                    bench::Photo(x, y, kWidth, kHeight, 2);
    }
    CountEachRound(state, *source, pixels);
}
BENCHMARK(BM_SignalCount8BitSrgb24MP)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The same at 8 bits for a photograph tagged Adobe RGB (1998), as a decode counts it
// beside its conversion: the noisy photograph's decoded pixels, on one thread.
void BM_SignalCount8BitAdobeRgbPhotograph24MP(benchmark::State& state) {
    vistrel::colourtags::FileColour tags;
    tags.profile = vistrel::colour::StandardProfile(vistrel::colour::StandardSpace::AdobeRgb);
    const auto source =
        vistrel::colour::SignalSource::For(vistrel::colour::SourceColourOf(tags), vistrel::colourtags::SampleKind::Rgb);
    const QImage image = QImage(bench::NoisyJpeg24MP()).convertToFormat(QImage::Format_RGB32);
    const auto* const first = reinterpret_cast<const std::uint32_t*>(image.constBits());
    const std::vector<std::uint32_t> pixels(first, first + std::size_t(image.width()) * std::size_t(image.height()));
    CountEachRound(state, *source, pixels);
}
BENCHMARK(BM_SignalCount8BitAdobeRgbPhotograph24MP)->Unit(benchmark::kMillisecond)->MinTime(1.0);
