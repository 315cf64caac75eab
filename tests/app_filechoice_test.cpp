// Choosing the picture: the open dialog, drops from the desktop, and the
// file-name box's selection.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include "app_support.h"

using namespace vistrel;
using testing_support::Gradient;
using testing_support::Load;
using testing_support::StartedMain;
using testing_support::WritePicture;

namespace {

class FileChoice : public ::testing::Test {
protected:
    QTemporaryDir dir;
    StartedMain w;
};

// A drag that enters the target and is dropped there.
void Drop(QWidget* target, const QMimeData& data) {
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

// A path typed into the file-name box, which the open dialog starts from when nothing was chosen before.
const QString kTyped = QStringLiteral("/typed/in/the/box.png");

// Where the open dialog starts when Browse is pressed next, with kTyped in the box.
QString NextStart(StartedMain& w) {
    Ctl<QLineEdit>(*w, "txtImageFile")->setText(kTyped);
    w.fake().dialogAnswer = std::nullopt;
    Ctl<QPushButton>(*w, "cmdBrowse")->click();
    return w.fake().dialogRequests.back().startPath;
}

}  // namespace

TEST_F(FileChoice, BrowseOffersTheBoxsPathThenTheLastChoice) {
    w.fake().dialogAnswer = std::nullopt;
    Ctl<QPushButton>(*w, "cmdBrowse")->click();
    ASSERT_EQ(w.fake().dialogRequests.size(), 1u);
    const OpenFileRequest& first = w.fake().dialogRequests[0];
    EXPECT_EQ(first.title, "Vistrel - Open Graphics File");
    ASSERT_EQ(first.filters.size(), 3);
    EXPECT_TRUE(first.filters[0].startsWith("Graphics Files ("));
    for (const char* pattern : {"*.gif", "*.bmp", "*.jpg", "*.ico", "*.wmf", "*.png", "*.jpeg", "*.tif", "*.webp", "*.heic", "*.heif", "*.avif", "*.jxl"})
        EXPECT_TRUE(first.filters[0].contains(pattern)) << pattern;
    // Camera raw files, among the graphics files and on their own.
    EXPECT_TRUE(first.filters[1].startsWith("Camera raw ("));
    for (const char* pattern : {"*.dng ", "*.cr2 ", "*.cr3 ", "*.nef ", "*.arw ", "*.raf ", "*.orf ", "*.rw2 ", "*.pef "})
        EXPECT_TRUE(first.filters[0].contains(pattern) && first.filters[1].contains(pattern)) << pattern;
    EXPECT_TRUE(first.filters[2].startsWith("All Files"));
    EXPECT_EQ(first.startPath, "/opt/vistrel/30861.jpg");

    // Linux names may end in blanks: the chosen path is used exactly as given, not trimmed.
    const QString chosen = dir.filePath("chosen blank.png ");
    ASSERT_TRUE(Gradient(30, 20).save(chosen, "PNG"));
    w.fake().dialogAnswer = chosen;
    Ctl<QAction>(*w, "mnuFileChoose")->trigger();
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->text(), chosen);
    EXPECT_TRUE(w->model().loaded());  // loaded without a further click
    EXPECT_TRUE(w.fake().warnings.empty());

    Ctl<QLineEdit>(*w, "txtImageFile")->setText("/somewhere/else.png");
    w.fake().dialogAnswer = std::nullopt;
    Ctl<QPushButton>(*w, "cmdBrowse")->click();
    EXPECT_EQ(w.fake().dialogRequests.back().startPath, chosen);
}

TEST_F(FileChoice, CancellingChangesNothing) {
    const QString path = WritePicture(dir, "kept.png", Gradient(30, 20));
    Load(*w, path);
    const QImage shown = Ctl<vistrel::PictureBox>(*w, "picImg")->surface().image().copy();
    w.fake().dialogAnswer = std::nullopt;
    Ctl<QPushButton>(*w, "cmdBrowse")->click();
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->text(), path);
    EXPECT_TRUE(w->model().loaded());
    EXPECT_EQ(Ctl<vistrel::PictureBox>(*w, "picImg")->surface().image(), shown);
    EXPECT_EQ(NextStart(w), kTyped);
}

TEST_F(FileChoice, AFailedChoiceKeepsItsPathAsTheLastChoice) {
    w.fake().dialogAnswer = dir.filePath("not-a-picture.txt");
    QFile text(*w.fake().dialogAnswer);
    text.open(QIODevice::WriteOnly);
    text.write("hello");
    text.close();
    Ctl<QPushButton>(*w, "cmdBrowse")->click();
    ASSERT_EQ(w.fake().warnings.size(), 1u);
    EXPECT_EQ(w.fake().warnings[0].first,
              "Could not load " + *w.fake().dialogAnswer + "\nNot a picture format Vistrel reads.");
    const QString failed = *w.fake().dialogAnswer;
    EXPECT_EQ(NextStart(w), failed);
}

TEST_F(FileChoice, DroppingFilesLoadsTheFirstOnTheWindowAndOnTheView) {
    const QString first = WritePicture(dir, "first.png", Gradient(30, 20));
    const QString second = WritePicture(dir, "second.png", Gradient(50, 20));
    const QString third = WritePicture(dir, "third.png", Gradient(70, 20));
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second), QUrl::fromLocalFile(third)});

    Drop(Ctl<vistrel::PictureBox>(*w, "picImg"), files);
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->text(), first);
    EXPECT_EQ(w->model().picture().pixels.width(), 30u);
    EXPECT_EQ(NextStart(w), kTyped);

    Ctl<QPushButton>(*w, "cmdReset")->click();
    Drop(w.window.get(), files);
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->text(), first);
    EXPECT_TRUE(w->model().loaded());
}

TEST_F(FileChoice, AFileDroppedOnTheFileBoxLoadsLikeADropAnywhereElse) {
    const QString path = WritePicture(dir, "boxed.png", Gradient(40, 20));
    Ctl<QLineEdit>(*w, "txtImageFile")->setText("/somewhere/else.png");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(path)});
    Drop(Ctl<QLineEdit>(*w, "txtImageFile"), files);
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->text(), path);  // replaced, not pasted into
    EXPECT_EQ(w->model().picture().pixels.width(), 40u);

    // Text that names no file is the box's own business: it pastes it.
    QMimeData text;
    text.setText("abc");
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Ctl<QLineEdit>(*w, "txtImageFile"), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Ctl<QLineEdit>(*w, "txtImageFile"), &drop);
    EXPECT_TRUE(Ctl<QLineEdit>(*w, "txtImageFile")->text().contains("abc"));
    EXPECT_TRUE(w.fake().warnings.empty());
}

TEST_F(FileChoice, ADropWithoutFilesIsIgnored) {
    const QString path = WritePicture(dir, "stay.png", Gradient(30, 20));
    Load(*w, path);
    QMimeData text;
    text.setText("/tmp/some/picture.png");
    Drop(w.window.get(), text);
    Drop(Ctl<vistrel::PictureBox>(*w, "picImg"), text);
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->text(), path);
    EXPECT_TRUE(w->model().loaded());
    EXPECT_TRUE(w.fake().warnings.empty());
}

TEST_F(FileChoice, FocusSelectsTheWholePath) {
    Ctl<QLineEdit>(*w, "txtImageFile")->setText(QString(1500, 'a') + ".png");  // longer than any old limit
    Ctl<QLineEdit>(*w, "txtImageFile")->deselect();
    Invoke(*w, "txtImageFile_GotFocus");
    EXPECT_EQ(Ctl<QLineEdit>(*w, "txtImageFile")->selectedText(), Ctl<QLineEdit>(*w, "txtImageFile")->text());
}
