// Live reload: a change of the loaded file is shown after a pause, keeping what the
// user set; a file that cannot be read is retried and then reported on the status line.
// The pause is driven by calling the timer's handler, never by waiting for it.

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QTimer>

#include "app_view_fixture.h"
#include "linescope/frmScope.h"
#include "vectorscope/frmVector.h"

namespace {

using korvex::Pixel;
using view_testing::MainWindowTest;
using view_testing::SameBits;
using vistrel::frmScope;
using vistrel::frmVector;

// A second picture that differs from the gradient everywhere.
QImage Other(int width, int height) {
    return view_testing::Picture(width, height, [](int x, int y) {
        return static_cast<Pixel>(((255 - x) & 0xFF) << 16 | ((x + y) & 0xFF) << 8 | ((3 * y) & 0xFF));
    });
}

class Reload : public MainWindowTest {
protected:
    QString path() const { return dir.filePath("picture.png"); }
    // Writes the picture over the loaded file and tells the window, as the watcher would.
    void Rewrite(const QImage& image) {
        ASSERT_TRUE(image.save(path()));
        Invoke(*w, "WatchedFile_Change");
    }
    void Corrupt(const QByteArray& content) {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        Invoke(*w, "WatchedFile_Change");
    }
    QTimer& timer() { return *Ctl<QTimer>(*w, "tmrReload"); }
};

// Everything a user sees of the picture and the instruments.
struct Seen {
    std::vector<Pixel> view;
    QImage vector;
    QImage scope[4];
    QString posn, status;
    bool locked;
};

Seen SeenIn(vistrel::frmMain& w) {
    Seen s{view_testing::ViewNow(Ctl<vistrel::PictureBox>(w, "picImg")->surface()),
           w.workspace().instrument<frmVector>()->surface().image(),
           {},
           Ctl<QLabel>(w, "lblPosn")->text(),
           Ctl<QLabel>(w, "lblStatus")->text(),
           w.model().picture().probe.locked};
    for (int k = 0; k < 4; ++k) s.scope[k] = w.workspace().instrument<frmScope>()->boxSurface(k).image();
    return s;
}

void ExpectSame(const Seen& a, const Seen& b) {
    EXPECT_EQ(a.view, b.view);
    EXPECT_TRUE(SameBits(a.vector, b.vector));
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(SameBits(a.scope[k], b.scope[k])) << "box " << k;
    EXPECT_EQ(a.posn, b.posn);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.locked, b.locked);
}

// What the user set: green off, Neg on, the lamp down, the vectorscope zoomed, and the
// probe locked with Ctrl at a view position.
void UserSettings(vistrel::frmMain& w, float probeX, float probeY) {
    Ctl<QCheckBox>(w, "chkChannel[1]")->setChecked(false);
    Ctl<QCheckBox>(w, "chkNeg")->setChecked(true);
    Ctl<QScrollBar>(w, "hscrLamp")->setValue(60);
    w.workspace().instrument<frmVector>()->zoomBar()->setValue(400);
    Ctl<vistrel::PictureBox>(w, "picImg")->onMouseDown(vistrel::kLeftButton, vistrel::kCtrlKey, probeX, probeY);
    Ctl<vistrel::PictureBox>(w, "picImg")->onMouseUp(vistrel::kLeftButton, vistrel::kCtrlKey, probeX, probeY);
}

TEST_F(Reload, ARewrittenFileIsShownAfterThePauseWithEverythingTheUserSet) {
    LoadPicture(view_testing::Gradient(120, 90));
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuToolsReload")->isChecked());
    EXPECT_EQ(w->model().source().file, QFileInfo(path()).absoluteFilePath());
    EXPECT_TRUE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->files().contains(w->model().source().file));
    EXPECT_TRUE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->directories().contains(QFileInfo(path()).absolutePath()));
    UserSettings(*w, 70.0f, 40.0f);
    const int column = Ctl<QScrollBar>(*w, "hscrCross")->value(), row = Ctl<QScrollBar>(*w, "vscrCross")->value();

    Rewrite(Other(130, 100));
    EXPECT_TRUE(timer().isActive());
    EXPECT_EQ(timer().interval(), 300);
    EXPECT_TRUE(timer().isSingleShot());
    EXPECT_EQ(w->model().picture().pixels.width(), 120u) << "nothing happens before the pause is over";
    Invoke(*w, "tmrReload_Timer");
    EXPECT_FALSE(timer().isActive());
    EXPECT_EQ(w->model().picture().pixels.width(), 130u);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->value(), column);
    EXPECT_EQ(Ctl<QScrollBar>(*w, "vscrCross")->value(), row);
    EXPECT_FALSE(Ctl<QCheckBox>(*w, "chkChannel[1]")->isChecked());
    EXPECT_TRUE(Ctl<QCheckBox>(*w, "chkNeg")->isChecked());
    EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrLamp")->value(), 60);
    EXPECT_EQ(w->workspace().instrument<frmVector>()->zoomBar()->value(), 400);

    // Exactly what loading the new file and setting the same things by hand shows,
    // the probe locked at the same full-size pixel.
    vistrel::frmMain fresh;
    fresh.start();
    testing_support::Load(fresh, path());
    UserSettings(fresh, 0.0f, 0.0f);
    Ctl<QScrollBar>(fresh, "hscrCross")->setValue(column);
    Ctl<QScrollBar>(fresh, "vscrCross")->setValue(row);
    // The bars moved the probe twice, leaving a fan of markers: the plot again with the last one only.
    fresh.workspace().instrument<frmVector>()->Form_MouseUp(vistrel::kRightButton, 0, 10.0f, 10.0f);
    fresh.workspace().instrument<frmVector>()->MarkProbe(korvex::PairOf(ProbedPixel(fresh)), korvex::PixelToColor(ProbedPixel(fresh)));
    ExpectSame(SeenIn(*w), SeenIn(fresh));
    // Still watched, so the next save reloads too.
    EXPECT_TRUE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->files().contains(w->model().source().file));
}

// A probe locked on the last column and row stays on that pixel while the new picture
// has it, and is unlocked once the picture has lost its column, its row, or more.
TEST_F(Reload, ALockedProbeOnTheLastPixelStaysExactlyWhileTheNewPictureHasIt) {
    struct Case {
        int width, height;
        bool kept;
    };
    for (const Case c : {Case{120, 90, true}, Case{119, 90, false}, Case{120, 89, false}, Case{60, 90, false}}) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        LoadPicture(view_testing::Gradient(120, 90));
        w->LockProbeAt(119, 89);
        ASSERT_TRUE(w->model().picture().probe.locked);
        Rewrite(Other(c.width, c.height));
        Invoke(*w, "tmrReload_Timer");
        EXPECT_EQ(w->model().picture().pixels.width(), static_cast<std::size_t>(c.width));
        EXPECT_EQ(w->model().picture().probe.locked, c.kept);
        EXPECT_EQ(Ctl<QScrollBar>(*w, "hscrCross")->isVisible(), c.kept);
        EXPECT_EQ(Ctl<QLabel>(*w, "lblPosn")->text(), c.kept ? "119 / 089" : "");
        EXPECT_NE(Ctl<QFrame>(*w, "fraChannels")->isEnabled(), c.kept);
        if (c.kept) {
            EXPECT_EQ(w->model().picture().probe.column, 119);
            EXPECT_EQ(w->model().picture().probe.row, 89);
        }
    }
}

TEST_F(Reload, AnUnreadableFileIsRetriedForTwoSecondsThenReportedWithoutAMessageBox) {
    LoadPicture(view_testing::Gradient(120, 90));
    const Seen before = SeenIn(*w);
    for (const QByteArray& bad : {QByteArray("not a picture at all"), QByteArray()}) {
        SCOPED_TRACE(bad.isEmpty() ? "empty file" : "garbage");
        Corrupt(bad);
        ASSERT_TRUE(timer().isActive());
        int attempts = 0;
        while (timer().isActive() && attempts < 50) {
            Invoke(*w, "tmrReload_Timer");
            ++attempts;
            if (timer().isActive()) {
                EXPECT_EQ(timer().interval(), 250);
            }
        }
        // The first attempt after the pause and eight more, 250 ms apart: about two seconds.
        EXPECT_EQ(attempts, 9);
        EXPECT_EQ(Ctl<QLabel>(*w, "lblStatus")->text(), "Could not reload picture.png");
        EXPECT_TRUE(desk.fake.warnings.empty());
        EXPECT_TRUE(w->model().loaded());
        EXPECT_EQ(view_testing::ViewNow(Ctl<vistrel::PictureBox>(*w, "picImg")->surface()), before.view);
        EXPECT_TRUE(SameBits(w->workspace().instrument<frmVector>()->surface().image(), before.vector));
    }
    // A later good write reloads as usual, also one that lands while retries still run.
    Rewrite(Other(50, 40));
    ASSERT_TRUE(timer().isActive());
    Invoke(*w, "tmrReload_Timer");
    EXPECT_EQ(w->model().picture().pixels.width(), 50u);
    EXPECT_TRUE(Ctl<QLabel>(*w, "lblStatus")->text().isEmpty());
    Corrupt("half");
    Invoke(*w, "tmrReload_Timer");
    Invoke(*w, "tmrReload_Timer");
    ASSERT_TRUE(timer().isActive());
    ASSERT_TRUE(Other(70, 20).save(path()));  // the editor finishes writing
    Invoke(*w, "tmrReload_Timer");
    EXPECT_EQ(w->model().picture().pixels.width(), 70u);
    EXPECT_FALSE(timer().isActive());
    EXPECT_TRUE(Ctl<QLabel>(*w, "lblStatus")->text().isEmpty());
}

TEST_F(Reload, ASaveDuringAReloadWaitsForItInsteadOfStartingInsideIt) {
    LoadPicture(view_testing::Gradient(120, 90));
    Rewrite(Other(50, 40));
    // The reload's wait lets timers fire: the next save's pause ends while it runs.
    bool nestedDeferred = false;
    int widthSeen = -1;
    QTimer::singleShot(0, w.get(), [&] {
        widthSeen = static_cast<int>(w->model().picture().pixels.width());
        Invoke(*w, "tmrReload_Timer");
        nestedDeferred = timer().isActive();
    });
    Invoke(*w, "tmrReload_Timer");
    EXPECT_TRUE(nestedDeferred);
    EXPECT_EQ(widthSeen, 120);  // the first reload had not finished when the timer fired
    EXPECT_EQ(w->model().picture().pixels.width(), 50u);
    EXPECT_TRUE(timer().isActive());
    ASSERT_TRUE(Other(70, 20).save(path()));
    Invoke(*w, "tmrReload_Timer");
    EXPECT_EQ(w->model().picture().pixels.width(), 70u);
}

TEST_F(Reload, OnlyTheLoadedFileCountsAndADeletedOneLeavesThePicture) {
    LoadPicture(view_testing::Gradient(120, 90));
    // Another file in the same folder, or the folder itself becoming a different one.
    ASSERT_TRUE(Other(10, 10).save(dir.filePath("neighbour.png")));
    Invoke(*w, "WatchedFile_Change");
    EXPECT_FALSE(timer().isActive());
    ASSERT_TRUE(QFile::remove(path()));
    Invoke(*w, "WatchedFile_Change");
    EXPECT_FALSE(timer().isActive());
    EXPECT_TRUE(w->model().loaded());
    EXPECT_EQ(w->model().picture().pixels.width(), 120u);
    // Saved back under its name: shown again.
    Rewrite(Other(30, 30));
    EXPECT_TRUE(timer().isActive());
    // A folder under the file's name is no picture: the retries run out and the picture stays.
    ASSERT_TRUE(QFile::remove(path()));
    ASSERT_TRUE(QDir(dir.path()).mkdir("picture.png"));
    Invoke(*w, "WatchedFile_Change");
    while (timer().isActive()) Invoke(*w, "tmrReload_Timer");
    EXPECT_EQ(w->model().picture().pixels.width(), 120u);
}

TEST_F(Reload, LoadClearAndTheMenuItemDecideWhatIsWatched) {
    LoadPicture(view_testing::Gradient(120, 90));
    const QString first = w->model().source().file;
    // Another file: only it is watched.
    LoadPicture(Other(40, 30), "second.png");
    EXPECT_EQ(w->model().source().file, QFileInfo(dir.filePath("second.png")).absoluteFilePath());
    EXPECT_FALSE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->files().contains(first));
    ASSERT_TRUE(Other(12, 12).save(first));
    Invoke(*w, "WatchedFile_Change");
    EXPECT_FALSE(timer().isActive());
    // Clear: nothing is watched, nothing reloads.
    Ctl<QPushButton>(*w, "cmdReset")->click();
    EXPECT_TRUE(w->model().source().file.isEmpty());
    EXPECT_TRUE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->files().isEmpty());
    EXPECT_TRUE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->directories().isEmpty());
    // A failed load watches nothing either.
    LoadPicture(Other(40, 30), "second.png");
    testing_support::Load(*w, dir.filePath("missing.png"));
    EXPECT_TRUE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->files().isEmpty());
    EXPECT_TRUE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->directories().isEmpty());
    // The menu item off: nothing watched, a change is ignored; on again: a change made
    // meanwhile is picked up.
    LoadPicture(Other(40, 30), "second.png");
    Ctl<QAction>(*w, "mnuToolsReload")->trigger();
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuToolsReload")->isChecked());
    EXPECT_TRUE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->files().isEmpty());
    ASSERT_TRUE(Other(22, 22).save(dir.filePath("second.png")));
    Invoke(*w, "WatchedFile_Change");
    EXPECT_FALSE(timer().isActive());
    Ctl<QAction>(*w, "mnuToolsReload")->trigger();
    EXPECT_TRUE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->files().contains(w->model().source().file));
    EXPECT_TRUE(timer().isActive());
    Invoke(*w, "tmrReload_Timer");
    EXPECT_EQ(w->model().picture().pixels.width(), 22u);
}

TEST_F(Reload, TheWatcherSeesASaveByRename) {
    LoadPicture(view_testing::Gradient(120, 90));
    // As editors save: a new file beside the old one, renamed over it.
    const QString temporary = dir.filePath(".picture.png.new");
    ASSERT_TRUE(Other(64, 48).save(temporary, "PNG"));
    ASSERT_TRUE(::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path()).constData()) == 0);
    // The watcher's report arrives through the event loop.
    const QDeadlineTimer deadline(10000);
    while (!timer().isActive() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(timer().isActive());
    Invoke(*w, "tmrReload_Timer");
    EXPECT_EQ(w->model().picture().pixels.width(), 64u);
    EXPECT_TRUE(Ctl<QFileSystemWatcher>(*w, "FileWatcher")->files().contains(w->model().source().file))
        << "the new file is watched in turn";
}

}  // namespace
