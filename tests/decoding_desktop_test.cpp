// The picture types the desktop entry claims: every one must load through the
// decoder process as the program loads it, or the desktop would make Vistrel the
// default for files it cannot open.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <functional>
#include <map>

#include "decoding/WorkerClient.h"
#include "picture_bytes.h"
#include "support.h"

namespace {

using namespace vistrel;
using namespace picture_bytes;

constexpr ColorValue kBackground = 0x808080;
constexpr int kWidth = 24;
constexpr int kHeight = 16;

QImage Sample() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) image.setPixel(x, y, qRgb(x * 10, y * 15, (x + y) * 5));
    return image;
}

QByteArray Written(const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(Sample())) << format << ": " << writer.errorString().toStdString();
    return bytes;
}

// One sample file (name and bytes) for each picture type Vistrel may claim. Targa is
// not among them: Qt's reader takes only uncompressed files that carry the format's
// version 2 footer, so most Targa files a user has would not open. Nor is the Apple
// icon: Qt's reader decodes it in the program's own process, but the decoder process
// is stopped by its confinement on it.
const std::map<QString, std::function<std::pair<QString, QByteArray>()>>& Samples() {
    static const std::map<QString, std::function<std::pair<QString, QByteArray>()>> samples = {
        {"image/jpeg", [] { return std::pair{QString("a.jpg"), Written("jpeg")}; }},
        {"image/gif", [] { return std::pair{QString("a.gif"), MakeGif(2, 2, {{{0, 1, 2, 3}, -1}})}; }},
        {"image/bmp", [] { return std::pair{QString("a.bmp"), Written("bmp")}; }},
        {"image/png", [] { return std::pair{QString("a.png"), Written("png")}; }},
        {"image/tiff", [] { return std::pair{QString("a.tif"), Written("tiff")}; }},
        {"image/webp", [] { return std::pair{QString("a.webp"), Written("webp")}; }},
        {"image/vnd.microsoft.icon", [] { return std::pair{QString("a.ico"), Written("ico")}; }},
        {"image/wmf", [] { return std::pair{QString("a.wmf"), MakeWmf()}; }},
        {"image/vnd.wap.wbmp", [] { return std::pair{QString("a.wbmp"), Written("wbmp")}; }},
        {"image/x-portable-bitmap", [] { return std::pair{QString("a.pbm"), Written("pbm")}; }},
        {"image/x-portable-graymap", [] { return std::pair{QString("a.pgm"), Written("pgm")}; }},
        {"image/x-portable-pixmap", [] { return std::pair{QString("a.ppm"), Written("ppm")}; }},
        {"image/x-xbitmap", [] { return std::pair{QString("a.xbm"), Written("xbm")}; }},
        {"image/x-xpixmap", [] { return std::pair{QString("a.xpm"), Written("xpm")}; }},
    };
    return samples;
}

QStringList ClaimedTypes() {
    QFile entry(VISTREL_SOURCE_DIR "/dist/io.github.vistrel.Vistrel.desktop");
    if (!entry.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    for (const QByteArray& line : entry.readAll().split('\n'))
        if (line.startsWith("MimeType=")) return QString::fromUtf8(line.mid(9)).split(';', Qt::SkipEmptyParts);
    return {};
}

TEST(DesktopEntry, EveryClaimedPictureTypeLoadsThroughTheDecoder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList types = ClaimedTypes();
    ASSERT_GE(types.size(), 8) << "the desktop entry lists no picture types";
    for (const QString& type : types) {
        SCOPED_TRACE(type.toStdString());
        const auto sample = Samples().find(type);
        ASSERT_NE(sample, Samples().end()) << "no sample of this type: add one, or take it off the list";
        const auto [name, bytes] = sample->second();
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        const DecodeResult result = DecodeInWorker(file.fileName(), kBackground);
        ASSERT_TRUE(result) << "fails with " << testing::PrintToString(result.error);
        EXPECT_GE(result.surface->width(), 1);
    }
}

}  // namespace
