// The picture types the desktop entry claims: every one must load through the decoder
// process as the program loads it, or the desktop would make Vistrel the default for
// files it cannot open. Not claimed: Targa (Qt reads only uncompressed files that carry
// the format's version 2 footer). Of camera raw files only DNGs can be written here; the
// other raw types rest on LibRaw's one path for all of them. The metainfo claims the same.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>

#include <cstring>
#include <map>
#include <set>

#include "decoding/worker/WorkerClient.h"
#include "dng_pictures.h"
#include "heif_pictures.h"
#include "picture_bytes.h"
#include "support.h"

namespace {

QByteArray Written(const char* format, QSize size = {24, 16}) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(qRgb(200, 120, 40));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(QImageWriter(&buffer, format).write(image)) << format;
    return bytes;
}

// A HEIF picture of this codec, or a JPEG XL one.
QByteArray HeifSample(std::optional<heif_pictures::Codec> codec) {
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(qRgb(200, 120, 40));
    return codec ? heif_pictures::EncodeHeif(image, *codec, {}) : heif_pictures::EncodeJxl(image, {});
}

TEST(DesktopEntry, EveryClaimedPictureTypeLoadsThroughTheDecoder) {
    using namespace picture_bytes;
    // One sample, with a file name of its kind, per type Vistrel may claim.
    const std::map<QString, std::pair<const char*, QByteArray>> samples = {
        {"image/jpeg", {"a.jpg", Written("jpeg")}},    {"image/gif", {"a.gif", MakeGif(2, 2, {{{0, 1, 2, 3}, -1}})}},
        {"image/bmp", {"a.bmp", Written("bmp")}},      {"image/png", {"a.png", Written("png")}},
        {"image/tiff", {"a.tif", Written("tiff")}},    {"image/webp", {"a.webp", Written("webp")}},
        {"image/wmf", {"a.wmf", MakeWmf()}},           {"image/vnd.microsoft.icon", {"a.ico", Written("ico")}},
        {"image/vnd.wap.wbmp", {"a.wbmp", Written("wbmp")}}, {"image/x-portable-bitmap", {"a.pbm", Written("pbm")}},
        {"image/x-portable-graymap", {"a.pgm", Written("pgm")}},
        {"image/x-portable-pixmap", {"a.ppm", Written("ppm")}}, {"image/x-xbitmap", {"a.xbm", Written("xbm")}},
        {"image/x-xpixmap", {"a.xpm", Written("xpm")}}, {"image/x-icns", {"a.icns", Written("icns", {32, 32})}},
        {"image/heic", {"a.heic", HeifSample(heif_pictures::Codec::Hevc)}},
        {"image/heif", {"a.heif", HeifSample(heif_pictures::Codec::Hevc)}},
        {"image/avif", {"a.avif", HeifSample(heif_pictures::Codec::Av1)}},
        {"image/jxl", {"a.jxl", HeifSample(std::nullopt)}},
        {"image/x-adobe-dng", {"a.dng", dng_pictures::DngBytes({}, dng_pictures::Scene({}))}}};
    const std::set<QString> rawWithoutSample = {"image/x-canon-cr2",    "image/x-canon-cr3",   "image/x-canon-crw",
                                                "image/x-nikon-nef",    "image/x-nikon-nrw",   "image/x-sony-arw",
                                                "image/x-sony-sr2",     "image/x-fuji-raf",    "image/x-olympus-orf",
                                                "image/x-panasonic-rw2", "image/x-pentax-pef", "image/x-minolta-mrw"};

    QFile entry(VISTREL_SOURCE_DIR "/dist/io.github.vistrel.Vistrel.desktop");
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    QStringList types;
    for (const QByteArray& line : entry.readAll().split('\n'))
        if (line.startsWith("MimeType=")) types = QString::fromUtf8(line.mid(9)).split(';', Qt::SkipEmptyParts);
    ASSERT_GE(types.size(), 8) << "the desktop entry lists no picture types";
    QFile metainfo(VISTREL_SOURCE_DIR "/dist/io.github.vistrel.Vistrel.metainfo.xml.in");
    ASSERT_TRUE(metainfo.open(QIODevice::ReadOnly | QIODevice::Text));
    QStringList mediaTypes;
    for (const QByteArray& line : metainfo.readAll().split('\n'))
        if (line.trimmed().startsWith("<mediatype>"))
            mediaTypes << QString::fromUtf8(line.trimmed().chopped(int(std::strlen("</mediatype>"))).mid(11));
    EXPECT_EQ(mediaTypes, types);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QString& type : types) {
        SCOPED_TRACE(type.toStdString());
        if (rawWithoutSample.count(type) != 0) continue;
        const auto sample = samples.find(type);
        ASSERT_NE(sample, samples.end()) << "no sample of this type: add one, or take it off the list";
        QFile file(dir.filePath(sample->second.first));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(sample->second.second);
        file.close();
        const vistrel::DecodeResult result = vistrel::DecodeInWorker(file.fileName(), 0x808080);
        EXPECT_TRUE(result) << "fails with " << testing::PrintToString(result.error);
    }
}

}  // namespace
