// The streaming WebP reader: lossy and lossless, with and without alpha, give Qt's pixels
// in every way the program decodes, rows final when reported, cut files refused; an
// animation stays with Qt's reader.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdint>
#include <vector>

#include <webp/encode.h>
#include <webp/mux.h>

#include "streaming_check.h"
#include "decoding/Readers.h"
#include "decoding/readers/WebpDecode.h"

namespace {

constexpr vistrel::ColorValue kBackground = 0x00336699;

// Ramps with a fine texture; alpha of 0, 255 and everything between when asked.
std::vector<std::uint8_t> Rgba(int width, int height, bool alpha) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &pixels[(std::size_t(y) * width + x) * 4];
            const std::uint32_t hash = (std::uint32_t(x) * 2654435761u) ^ (std::uint32_t(y) * 40503u);
            p[0] = std::uint8_t(x * 255 / width + (hash & 15));
            p[1] = std::uint8_t(y * 255 / height);
            p[2] = std::uint8_t((x + y) * 255 / (width + height) ^ ((hash >> 8) & 31));
            const std::uint32_t pick = (hash >> 5) % 8;
            p[3] = !alpha ? 255 : pick == 0 ? 0 : pick == 1 ? 255 : std::uint8_t((x * 7 + y * 3) & 0xFF);
        }
    return pixels;
}

QByteArray Encode(int width, int height, bool alpha, bool lossless, int method = 4) {
    WebPConfig config;
    WebPConfigInit(&config);
    config.lossless = lossless;
    config.quality = lossless ? 20 : 80;
    config.method = method;
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.width = width;
    picture.height = height;
    picture.use_argb = lossless;
    const std::vector<std::uint8_t> pixels = Rgba(width, height, alpha);
    EXPECT_TRUE(alpha ? WebPPictureImportRGBA(&picture, pixels.data(), width * 4)
                      : WebPPictureImportRGBX(&picture, pixels.data(), width * 4));
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    EXPECT_TRUE(WebPEncode(&config, &picture));
    QByteArray bytes(reinterpret_cast<const char*>(writer.mem), qsizetype(writer.size));
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return bytes;
}

// Two frames, the second the first's negative, as an animation.
QByteArray Animation(int width, int height) {
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(width, height, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.width = width;
    picture.height = height;
    picture.use_argb = 1;
    std::vector<std::uint8_t> pixels = Rgba(width, height, true);
    WebPPictureImportRGBA(&picture, pixels.data(), width * 4);
    WebPAnimEncoderAdd(encoder, &picture, 0, &config);
    for (std::uint8_t& p : pixels) p = std::uint8_t(255 - p);
    WebPPictureImportRGBA(&picture, pixels.data(), width * 4);
    WebPAnimEncoderAdd(encoder, &picture, 100, &config);
    WebPAnimEncoderAdd(encoder, nullptr, 200, &config);
    WebPData data;
    WebPDataInit(&data);
    WebPAnimEncoderAssemble(encoder, &data);
    QByteArray bytes(reinterpret_cast<const char*>(data.bytes), qsizetype(data.size));
    WebPDataClear(&data);
    WebPPictureFree(&picture);
    WebPAnimEncoderDelete(encoder);
    return bytes;
}

// The file with its image chunk's payload cut to half, the chunk's and the file's sizes
// written to match: every chunk parses, and only the decoder finds its data end early.
QByteArray HalfPayload(const QByteArray& bytes) {
    constexpr qsizetype kChunkAt = 12;  // a simple file's one chunk, after RIFF, its size and WEBP
    const auto le32 = [&](qsizetype at) {
        return std::uint32_t(std::uint8_t(bytes[at])) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8 |
               std::uint32_t(std::uint8_t(bytes[at + 2])) << 16 | std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
    };
    const std::uint32_t half = le32(kChunkAt + 4) / 4 * 2;  // even, so no padding byte follows
    QByteArray cut = bytes.left(kChunkAt + 8 + half);
    const auto set32 = [&cut](qsizetype at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) cut[at + i] = char((v >> (8 * i)) & 0xFF);
    };
    set32(kChunkAt + 4, half);
    set32(4, std::uint32_t(cut.size() - 8));
    return cut;
}

TEST(WebpReader, EveryKindGivesQtsPixelsAsItStreamsAndCutFilesFail) {
    struct Case {
        const char* name;
        int width, height;
        bool alpha, lossless;
    };
    const Case cases[] = {
        {"lossy", 61, 37, false, false},
        {"lossy with alpha", 61, 37, true, false},
        {"lossless", 61, 37, false, true},
        {"lossless with alpha", 61, 37, true, true},
        {"one pixel", 1, 1, true, false},
        // Large enough for many steps, and for Qt's conversions to go threaded.
        {"big lossy", 2000, 1500, false, false},
        {"big lossy with alpha", 2000, 1500, true, false},
        {"big lossless with alpha", 2000, 1500, true, true},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = Encode(c.width, c.height, c.alpha, c.lossless);
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
        EXPECT_TRUE(vistrel::DecodeWebp({{data, std::size_t(bytes.size())}, kBackground}).has_value());
        streaming_check::ExpectSameAsQt(bytes, kBackground, dir, c.width > 1000);
        // Its payload cut to half within chunks that say so: refused as cut short, and a
        // receiver shown rows hears that they are gone.
        const QByteArray half = HalfPayload(bytes);
        ASSERT_EQ(half.mid(12, 3), bytes.mid(12, 3));  // "VP8"
        const QImage unchecked;
        streaming_check::Recorder recorder(unchecked);
        const vistrel::DecodeResult cut = vistrel::DecodePictureBytes({half, std::nullopt}, kBackground, &recorder);
        EXPECT_FALSE(cut);
        EXPECT_EQ(cut.error, vistrel::DecodeError::Unreadable);
        EXPECT_EQ(recorder.starts, recorder.drops);
    }
    const QByteArray animation = Animation(40, 30);
    const auto* data = reinterpret_cast<const unsigned char*>(animation.constData());
    EXPECT_FALSE(vistrel::DecodeWebp({{data, std::size_t(animation.size())}, kBackground}).has_value());
    EXPECT_TRUE(vistrel::DecodePictureBytes({animation, std::nullopt}, kBackground));
}

}  // namespace
