// The picture libraries' notes stay off the terminal unless their category is switched on.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdint>
#include <utility>
#include <vector>

#include "decoding/Decode.h"
#include "decoding/ReaderMessages.h"
#include "support.h"

namespace {

using namespace vistrel;

std::vector<std::pair<QByteArray, QString>> g_seen;

void Record(QtMsgType, const QMessageLogContext& context, const QString& message) {
    g_seen.emplace_back(QByteArray(context.category != nullptr ? context.category : ""), message);
}

std::uint32_t Crc32(const QByteArray& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray Chunk(const char* type, const QByteArray& data) {
    const auto be32 = [](std::uint32_t v) {
        const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(b, 4);
    };
    const QByteArray body = QByteArray(type) + data;
    return be32(static_cast<std::uint32_t>(data.size())) + body + be32(Crc32(body));
}

// A 4 x 3 PNG whose colour profile is too short to be one: libpng notes it and reads on.
QByteArray PngWithBrokenProfile() {
    const char header[13] = {0, 0, 0, 4, 0, 0, 0, 3, 8, 2, 0, 0, 0};  // 8-bit RGB
    QByteArray rows;
    for (int y = 0; y < 3; ++y) rows += QByteArray(1, '\0') + QByteArray("\x80\x40\x20", 3).repeated(4);
    const QByteArray zlibStream = qCompress(QByteArray("not a profile").repeated(8)).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", QByteArray(header, 13)) +
           Chunk("iCCP", QByteArray("broken\0\0", 8) + zlibStream) + Chunk("IDAT", qCompress(rows).mid(4)) +
           Chunk("IEND", {});
}

bool SeenFrom(const char* category, const char* words) {
    for (const auto& [name, message] : g_seen)
        if (name == category && message.contains(QLatin1String(words))) return true;
    return false;
}

TEST(ReaderMessages, LibraryNotesGoUnderTheirOwnCategoryOffUntilSwitchedOn) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("profile.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(PngWithBrokenProfile());
    file.close();

    const QtMessageHandler original = qInstallMessageHandler(Record);
    QuietPictureReaders();
    g_seen.clear();
    const DecodeResult quiet = DecodePicture(file.fileName(), 0x808080);
    qWarning("a message of the program's own");
    QLoggingCategory::setFilterRules(QStringLiteral("vistrel.decoding.messages=true"));
    const DecodeResult heard = DecodePicture(file.fileName(), 0x808080);
    QLoggingCategory::setFilterRules({});
    qInstallMessageHandler(original);

    ASSERT_TRUE(quiet);
    ASSERT_TRUE(heard);
    EXPECT_EQ(quiet.surface->width(), 4);
    EXPECT_FALSE(SeenFrom("qt.gui.imageio", "iCCP")) << "the library's note reached the terminal";
    EXPECT_TRUE(SeenFrom("default", "a message of the program's own"));
    EXPECT_TRUE(SeenFrom("vistrel.decoding.messages", "iCCP")) << "switched on, the note was not logged";

    EXPECT_TRUE(FromPictureReaders("qt.imageformats.tiff", "anything"));
    EXPECT_TRUE(FromPictureReaders("default", "libpng warning: iCCP: known incorrect sRGB profile"));
    EXPECT_FALSE(FromPictureReaders("default", "Could not load picture.png"));
    EXPECT_FALSE(FromPictureReaders("qt.qpa.xcb", "libpng warning: from somewhere else"));
}

}  // namespace
