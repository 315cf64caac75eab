// The hostile corpus through the decoder alone (the whole load is tested in
// the app's tests): each file fails or gives the picture it holds, and the
// process lives on. This is the part the sanitized CI run takes.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hostile_corpus.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"

using namespace vistrel;

TEST(HostileFiles, EachDecodesToAFailureOrItsPicture) {
    const QStringList names = testing_support::HostileFiles();
    ASSERT_GE(names.size(), 20) << "the corpus is missing";
    for (int round = 0; round < 2; ++round) {
        for (const QString& name : names) {
            SCOPED_TRACE(name.toStdString());
            const DecodeResult result = DecodePicture(testing_support::HostileFolder().filePath(name), 0x00FFFFFF);
            const std::optional<QSize> picture = testing_support::HostilePicture(name);
            if (!picture) {
                EXPECT_FALSE(result);
                EXPECT_NE(result.error, DecodeError::EmptyName);
                EXPECT_NE(result.error, DecodeError::NotFound);
            } else {
                ASSERT_TRUE(result);
                EXPECT_EQ(result.surface->image().size(), *picture);
            }
        }
    }
}

// The reader table sends each file to the row of the format Qt's plugins name it (the
// rows our own readers took from them), whatever its bytes claim: the hostile corpus,
// every fuzz target's seeds, and files that hold little more than a format's first bytes,
// or those bytes nearly.
TEST(HostileFiles, EachFileReachesTheRowOfTheFormatQtNamesIt) {
    using namespace std::string_view_literals;
    const std::map<QByteArray, std::string> rowOf = {{"jpeg", "JPEG"}, {"png", "PNG"}, {"tiff", "TIFF"},
                                                     {"webp", "WebP"}, {"gif", "GIF"},  {"bmp", "BMP"}};
    // Formats Qt has no plugin for take their rows first, and those rows sniff alone.
    const std::set<std::string> beforeQt = {"Windows metafile", "Camera raw", "HEIF", "JPEG XL"};
    std::vector<std::pair<QString, QByteArray>> files;
    const auto add = [&files](const QString& path) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        files.emplace_back(path, file.readAll());
    };
    for (const QString& name : testing_support::HostileFiles()) add(testing_support::HostileFolder().filePath(name));
    const QDir seeds(VISTREL_SOURCE_DIR "/fuzz/corpus");
    for (const QString& target : seeds.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QString& name : QDir(seeds.filePath(target)).entryList(QDir::Files)) add(seeds.filePath(target + u'/' + name));
    for (const std::string_view start :
         {"\xFF\xD8"sv, "\xFF\xD8\xFF"sv, "\xFF\xD9"sv, "\x89PNG\r\n\x1a\n"sv, "\x89PNG\r\n\x1a\0"sv, "\x89PNG"sv,
          "II*\0"sv, "MM\0*"sv, "II+\0"sv, "MM\0+"sv, "II*"sv, "RIFF\0\0\0\0WEBP"sv, "RIFF\0\0\0\0WAVE"sv,
          "RIFF"sv, "GIF87a"sv, "GIF89a"sv, "GIF88a"sv, "GIF8"sv, "BM"sv, "BA"sv, "B"sv})
        for (const char fill : {'\0', '\xFF', 'A'})
            files.emplace_back(QString::fromLatin1(QByteArray(start.data(), qsizetype(start.size())).toHex()) + u' ' + QChar(fill),
                               QByteArray(start.data(), qsizetype(start.size())) + QByteArray(64, fill));
    ASSERT_GE(files.size(), 150u);
    std::set<std::string> rowsSeen;
    for (auto& [name, bytes] : files) {
        SCOPED_TRACE(name.toStdString());
        const headers::Bytes span(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()));
        const std::string row = ReaderFor(span).name;
        rowsSeen.insert(row);
        if (beforeQt.count(row) != 0) continue;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const QByteArray format = QImageReader::imageFormat(&buffer);
        EXPECT_EQ(row, rowOf.count(format) != 0 ? rowOf.at(format) : "Qt's image plugins") << format.constData();
    }
    EXPECT_EQ(rowsSeen.size(), Readers().size());
}
