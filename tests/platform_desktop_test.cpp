// Where the program finds its shipped files: beside itself in a build folder,
// in share/vistrel beside an installed copy's bin folder.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "platform/Desktop.h"

namespace {

TEST(ShippedFiles, InstalledCopiesLookInShareAndBuildFoldersInThemselves) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QDir top(root.path());
    ASSERT_TRUE(top.mkpath("usr/bin"));
    ASSERT_TRUE(top.mkpath("usr/share/vistrel"));
    ASSERT_TRUE(top.mkpath("opt/my build"));
    ASSERT_TRUE(top.mkpath("other/bin"));
    ASSERT_TRUE(top.mkpath("other/share/someone-else"));

    EXPECT_EQ(vistrel::ShippedFilesFolder(top.filePath("usr/bin")), top.filePath("usr/share/vistrel"));
    EXPECT_EQ(vistrel::ShippedFilesFolder(top.filePath("opt/my build")), top.filePath("opt/my build"));
    EXPECT_EQ(vistrel::ShippedFilesFolder(top.filePath("other/bin")), top.filePath("other/bin"));
    // A share/vistrel that is a file is not the folder.
    QFile stray(top.filePath("other/share/vistrel"));
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();
    EXPECT_EQ(vistrel::ShippedFilesFolder(top.filePath("other/bin")), top.filePath("other/bin"));
}

}  // namespace
