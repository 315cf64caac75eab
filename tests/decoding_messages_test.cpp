// The picture libraries' notes stay off the terminal unless their category is switched on.

#include <gtest/gtest.h>

#include <QLoggingCategory>

#include <utility>
#include <vector>

#include "decoding/worker/ReaderMessages.h"

namespace {

std::vector<std::pair<QByteArray, QString>> g_seen;

void Record(QtMsgType, const QMessageLogContext& context, const QString& message) {
    g_seen.emplace_back(QByteArray(context.category), message);
}

TEST(ReaderMessages, LibraryNotesGoUnderTheirOwnCategoryOffUntilSwitchedOn) {
    // The category Qt's readers pass libpng's and libjpeg's notes under.
    const QLoggingCategory readers("qt.gui.imageio");
    const QtMessageHandler original = qInstallMessageHandler(Record);
    vistrel::QuietPictureReaders();
    QLoggingCategory::setFilterRules(QStringLiteral("vistrel.decoding.messages=false"));  // as in the program
    g_seen.clear();
    qCInfo(readers, "libpng warning: iCCP: known incorrect sRGB profile");
    qWarning("libpng warning: iCCP: too short");
    qWarning("a message of the program's own");
    QLoggingCategory::setFilterRules(QStringLiteral("vistrel.decoding.messages=true"));
    qCWarning(readers, "Corrupt JPEG data: 2 extraneous bytes");
    QLoggingCategory::setFilterRules(QStringLiteral("vistrel.decoding.messages=true"));  // as the tests have it
    qInstallMessageHandler(original);

    const std::vector<std::pair<QByteArray, QString>> want = {
        {"default", "a message of the program's own"},
        {"vistrel.decoding.messages", "Corrupt JPEG data: 2 extraneous bytes"}};
    EXPECT_EQ(g_seen, want);
    EXPECT_FALSE(vistrel::FromPictureReaders("qt.qpa.xcb", "libpng warning: from somewhere else"));
}

}  // namespace
