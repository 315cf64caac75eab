// Where the program finds its shipped files: beside itself in a build folder,
// in share/vistrel beside an installed copy's bin folder.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QWindow>
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

namespace {

// A key event as the window system hands it to a window.
void SendKey(QWindow* window, QEvent::Type type, int key) {
    QKeyEvent event(type, key, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &event);
}

}  // namespace

// A modal box that got the keyboard with Return or Esc already down (a Wayland compositor says
// so in its enter event, with no press) takes the release as the key; a key pressed in another
// of the program's windows and let go over the box, or let go over a window that is not a
// modal box, does nothing.
TEST(KeysDown, ALoneReleaseOverAModalBoxIsItsKeyAndOnlyThere) {
    vistrel::WatchKeysDown(*QCoreApplication::instance());
    QWidget main;
    main.show();
    for (const int key : {Qt::Key_Escape, Qt::Key_Return}) {
        QDialog box(&main);
        QPushButton* ok = new QPushButton("OK", &box);
        ok->setDefault(true);
        QObject::connect(ok, &QPushButton::clicked, &box, &QDialog::accept);
        box.setModal(true);
        box.show();
        ASSERT_EQ(QApplication::activeModalWidget(), &box);
        // Pressed in the main window and let go over the box: the box stays.
        SendKey(main.windowHandle(), QEvent::KeyPress, key);
        SendKey(box.windowHandle(), QEvent::KeyRelease, key);
        EXPECT_TRUE(box.isVisible()) << key;
        // Let go over a window that is not the modal box: nothing.
        SendKey(main.windowHandle(), QEvent::KeyRelease, key);
        EXPECT_TRUE(box.isVisible()) << key;
        // A release whose press reached no window: the box takes it as the key.
        SendKey(box.windowHandle(), QEvent::KeyRelease, key);
        EXPECT_FALSE(box.isVisible()) << key;
        EXPECT_EQ(box.result(), key == Qt::Key_Escape ? QDialog::Rejected : QDialog::Accepted) << key;
    }
}
