#include <benchmark/benchmark.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <zlib.h>

#include "memory.h"
#include "picture_bytes.h"
#include "pictures.h"
#include "colour/ColourConvert.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "formats/FileHeaders.h"

namespace {

// The floor: Qt's reader straight from the file, nothing else; and its peak memory.
// The peak is measured first, so that the timed decodes, like the timed loads, never
// pay for a process's first touch of its memory (seconds for a gigapixel on a virtual
// machine).
void BareDecode(benchmark::State& state, const QString& file, double pixels) {
    QImageReader::setAllocationLimit(0);
    const double peak = bench::PeakBytes([&] {
        QImageReader reader(file);
        QImage image = reader.read();
        benchmark::DoNotOptimize(image.constBits());
    });
    for (auto _ : state) {
        QImageReader reader(file);
        QImage image = reader.read();
        if (image.isNull()) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["peak_MiB"] = peak / (1024.0 * 1024.0);
    state.counters["peak_B_per_px"] = peak / pixels;
    state.SetLabel(QString("%1 bytes").arg(QFile(file).size()).toStdString());
}

void BM_BareQImageReaderJpeg24MP(benchmark::State& state) { BareDecode(state, bench::Jpeg24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_BareQImageReaderJpeg1Gpx(benchmark::State& state) { BareDecode(state, bench::Jpeg1Gpx(), 32768.0 * 32768.0); }
BENCHMARK(BM_BareQImageReaderJpeg1Gpx)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_BareQImageReaderJpeg1GpxSmooth(benchmark::State& state) {
    BareDecode(state, bench::Jpeg1GpxSmooth(), 32768.0 * 32768.0);
}
BENCHMARK(BM_BareQImageReaderJpeg1GpxSmooth)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_BareQImageReaderPng24MP(benchmark::State& state) { BareDecode(state, bench::Png24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderPng24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_BareQImageReaderBmp24MP(benchmark::State& state) { BareDecode(state, bench::Bmp24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderBmp24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_BareQImageReaderTiff24MP(benchmark::State& state) { BareDecode(state, bench::Tiff24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderTiff24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_BareQImageReaderTiffUncompressed24MP(benchmark::State& state) {
    BareDecode(state, bench::TiffUncompressed24MP(), 6000.0 * 4000.0);
}
BENCHMARK(BM_BareQImageReaderTiffUncompressed24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_BareQImageReaderWebp24MP(benchmark::State& state) { BareDecode(state, bench::Webp24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderWebp24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The program's decode: file checks, one read, the structure walk, the decode. Its
// processor time is the whole process's, the pool's threads that convert included.
void BM_DecodePictureJpeg24MP(benchmark::State& state) {
    const QString& file = bench::Jpeg24MP();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodePictureJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime()->MeasureProcessCPUTime();

// The same picture tagged Adobe RGB, converted to sRGB as it loads: the goal is within
// 1.25 x BM_DecodePictureJpeg24MP.
void BM_DecodePictureJpeg24MPAdobeRgb(benchmark::State& state) {
    const QString& file = bench::Jpeg24MPAdobeRgb();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result || !result.colourConverted) state.SkipWithError("decode failed or not converted");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodePictureJpeg24MPAdobeRgb)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime()->MeasureProcessCPUTime();

// The conversion alone, on one thread: 24 megapixels of Adobe RGB through the fast path.
void BM_ConvertAdobeRgbToSrgb24MP(benchmark::State& state) {
    using namespace vistrel::colour;
    const auto converter = Converter::For(StandardProfile(StandardSpace::AdobeRgb));
    std::vector<std::uint32_t> pixels(std::size_t{6000} * 4000);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = 0xFF000000u | bench::Photo(int(i % 6000), int(i / 6000), 6000, 4000, 0) << 16 |
                    bench::Photo(int(i % 6000), int(i / 6000), 6000, 4000, 1) << 8 | bench::Photo(int(i % 6000), int(i / 6000), 6000, 4000, 2);
    std::vector<std::uint32_t> out(pixels.size());
    for (auto _ : state) benchmark::DoNotOptimize(converter->Convert(pixels.data(), out.data(), pixels.size()));
    state.counters["ns_per_px"] = benchmark::Counter(double(pixels.size()), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert) ;
}
BENCHMARK(BM_ConvertAdobeRgbToSrgb24MP)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The same, marking which pixels were clipped, as a decode converts them.
void BM_ConvertAdobeRgbToSrgbMarked24MP(benchmark::State& state) {
    using namespace vistrel::colour;
    const auto converter = Converter::For(StandardProfile(StandardSpace::AdobeRgb));
    std::vector<std::uint32_t> pixels(std::size_t{6000} * 4000);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = 0xFF000000u | bench::Photo(int(i % 6000), int(i / 6000), 6000, 4000, 0) << 16 |
                    bench::Photo(int(i % 6000), int(i / 6000), 6000, 4000, 1) << 8 | bench::Photo(int(i % 6000), int(i / 6000), 6000, 4000, 2);
    std::vector<std::uint32_t> out(pixels.size());
    std::vector<std::uint64_t> marks((pixels.size() + 63) / 64);
    for (auto _ : state) benchmark::DoNotOptimize(converter->Convert(pixels.data(), out.data(), pixels.size(), marks.data()));
    state.counters["ns_per_px"] = benchmark::Counter(double(pixels.size()), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ConvertAdobeRgbToSrgbMarked24MP)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The 24-megapixel photograph as a PNG tagged Display P3 (its profile in an iCCP chunk
// after the header), written once in /tmp.
const QString& Png24MPDisplayP3() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_24mp_p3.png";
        if (QFile::exists(file)) return file;
        QFile plain(bench::Png24MP());
        if (!plain.open(QIODevice::ReadOnly)) qFatal("cannot read %s", qPrintable(plain.fileName()));
        QByteArray png = plain.readAll();
        const std::vector<unsigned char> profile = vistrel::colour::StandardProfile(vistrel::colour::StandardSpace::DisplayP3);
        uLongf size = compressBound(uLong(profile.size()));
        QByteArray deflated(qsizetype(size), '\0');
        compress(reinterpret_cast<Bytef*>(deflated.data()), &size, profile.data(), uLong(profile.size()));
        deflated.truncate(qsizetype(size));
        const QByteArray typed = QByteArray("iCCP") + QByteArray("P3\0\0", 4) + deflated;
        const auto bigEndian = [](std::uint32_t v) {
            const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
            return QByteArray(b, 4);
        };
        const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size())));
        png.insert(33, bigEndian(std::uint32_t(typed.size() - 4)) + typed + bigEndian(crc));
        QFile tagged(file);
        if (!tagged.open(QIODevice::WriteOnly) || tagged.write(png) != png.size()) qFatal("cannot write %s", qPrintable(file));
        return file;
    }();
    return path;
}

// The PNG tagged Display P3, converted as it loads: against BM_DecodePicturePng24MP's
// plain decode, what the conversion costs a lossless picture.
void BM_DecodePicturePng24MPDisplayP3(benchmark::State& state) {
    const QString& file = Png24MPDisplayP3();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result || !result.colourConverted) state.SkipWithError("decode failed or not converted");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodePicturePng24MPDisplayP3)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime()->MeasureProcessCPUTime();

void BM_DecodePicturePng24MP(benchmark::State& state) {
    const QString& file = bench::Png24MP();
    for (auto _ : state) {
        vistrel::DecodeResult result = vistrel::DecodePicture(file, 0xFFFFFF);
        if (!result) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(result.surface->image().constBits());
    }
}
BENCHMARK(BM_DecodePicturePng24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime()->MeasureProcessCPUTime();

// A 24-megapixel GIF of the photograph's red, four levels dithered by its texture,
// LZW-compressed as encoders write it, written once in /tmp.
const QString& Gif24MP() {
    static const QString path = [] {
        const QString file = "/tmp/vistrel_bench_24mp.gif";
        if (QFile::exists(file)) return file;
        picture_bytes::GifFrame frame;
        frame.codes = picture_bytes::GifCodes::Lzw;
        for (int y = 0; y < 4000; ++y)
            for (int x = 0; x < 6000; ++x)
                frame.indices.push_back(static_cast<unsigned char>((bench::Photo(x, y, 6000, 4000, 0) + (x * 7 + y * 3) % 64) / 80));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(picture_bytes::MakeGif(6000, 4000, {frame})) < 0)
            qFatal("cannot write %s", qPrintable(file));
        return file;
    }();
    return path;
}

void BM_BareQImageReaderGif24MP(benchmark::State& state) { BareDecode(state, Gif24MP(), 6000.0 * 4000.0); }
BENCHMARK(BM_BareQImageReaderGif24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The check a GIF passes before Qt's reader decodes it: its first frame's codes followed
// to count the pixels they give.
void BM_GifFirstFrameWalk24MP(benchmark::State& state) {
    QFile file(Gif24MP());
    if (!file.open(QIODevice::ReadOnly)) state.SkipWithError("no picture");
    const QByteArray bytes = file.readAll();
    const vistrel::headers::Bytes span(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()));
    for (auto _ : state)
        if (!vistrel::headers::GifFirstFrameComplete(span)) state.SkipWithError("walk failed");
    state.SetLabel(QString("%1 bytes").arg(bytes.size()).toStdString());
}
BENCHMARK(BM_GifFirstFrameWalk24MP)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace
