// Saving the instruments: each one's picture, as shown, into a chosen folder;
// a failure is reported and leaves nothing half-written.

#include <QAction>
#include <QDir>
#include <QImage>

#include "app/SaveScopes.h"
#include "app_view_fixture.h"
#include "linescope/ScopeBox.h"
#include "linescope/frmScope.h"
#include "vectorscope/frmVector.h"

namespace {

using view_testing::MainWindowTest;
using vistrel::frmScope;
using vistrel::frmVector;

class SaveScopes : public MainWindowTest {
protected:
    QStringList Entries(const QString& folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    QTemporaryDir out;
};

TEST_F(SaveScopes, OnlyWithAPicture) {
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuFileSaveScopes")->isEnabled());
    LoadPicture(view_testing::Gradient(60, 40));
    EXPECT_TRUE(Ctl<QAction>(*w, "mnuFileSaveScopes")->isEnabled());
    Ctl<QPushButton>(*w, "cmdReset")->click();
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuFileSaveScopes")->isEnabled());
    LoadPicture(view_testing::Gradient(60, 40));
    testing_support::Load(*w, dir.filePath("missing.png"));
    EXPECT_FALSE(Ctl<QAction>(*w, "mnuFileSaveScopes")->isEnabled());
}

TEST_F(SaveScopes, WritesExactlyWhatTheWindowsShow) {
    LoadPicture(view_testing::Gradient(120, 90));
    // A locked probe, so that the files show the trace and the marker as the windows do.
    Ctl<vistrel::PictureBox>(*w, "picImg")->onMouseDown(vistrel::kLeftButton, vistrel::kCtrlKey, 50.0f, 60.0f);
    desk.fake.folderAnswer = out.path();
    Ctl<QAction>(*w, "mnuFileSaveScopes")->trigger();
    ASSERT_EQ(desk.fake.folderRequests.size(), 1u);
    EXPECT_EQ(desk.fake.folderRequests[0].second, dir.path()) << "it starts in the picture's folder";
    EXPECT_TRUE(desk.fake.warnings.empty());
    EXPECT_EQ(Entries(out.path()), (QStringList{"chromaticity.png", "histogram.png", "linescope.png", "vectorscope.png"}));

    const QImage vector(out.filePath("vectorscope.png"));
    const QImage scope(out.filePath("linescope.png"));
    ASSERT_EQ(vector.size(), QSize(256, 266));
    ASSERT_EQ(scope.size(), QSize(420, 286));
    // The plot area pixel for pixel as the window paints it, the zoom bar below it.
    const vistrel::Surface& plot = w->workspace().instrument<frmVector>()->surface();
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(vector.pixel(x, y) & 0xFFFFFFu, plot.pixel(x, y)) << x << "," << y;
    // Each visible channel box where it sits in the window.
    int boxesSeen = 0;
    for (int k = 0; k < 4; ++k) {
        const auto* box = w->workspace().instrument<frmScope>()->box(k);
        if (!box->isVisible()) continue;
        ++boxesSeen;
        const QPoint at = box->mapTo(w->workspace().instrument<frmScope>(), QPoint(0, 0));
        const vistrel::Surface& image = w->workspace().instrument<frmScope>()->boxSurface(k);
        for (int y = 0; y < std::min(image.height(), box->height()); ++y)
            for (int x = 0; x < std::min(image.width(), box->width()); ++x)
                ASSERT_EQ(scope.pixel(at.x() + x, at.y() + y) & 0xFFFFFFu, image.pixel(x, y)) << k << ": " << x << "," << y;
    }
    EXPECT_GT(boxesSeen, 0);
    // Every instrument's file is the image the function for headless rendering gives.
    for (std::size_t i = 0; i < vistrel::kInstruments.size(); ++i)
        if (vistrel::ImageWrittenFor(vistrel::kInstruments[i], w->model())) {
            EXPECT_EQ(QImage(out.filePath(vistrel::kInstruments[i].image)).convertToFormat(QImage::Format_RGB32),
                      vistrel::InstrumentImage(*w->workspace().instruments()[i]).convertToFormat(QImage::Format_RGB32));
        }

    // A second save starts where the first went and replaces the files whole.
    Ctl<QScrollBar>(*w, "hscrLamp")->setValue(0);
    Ctl<QAction>(*w, "mnuFileSaveScopes")->trigger();
    EXPECT_EQ(desk.fake.folderRequests.back().second, out.path());
    EXPECT_EQ(Entries(out.path()), (QStringList{"chromaticity.png", "histogram.png", "linescope.png", "vectorscope.png"}));
    EXPECT_NE(QImage(out.filePath("vectorscope.png")), vector);
}

TEST_F(SaveScopes, AFailureNamesTheFileAndLeavesNothingHalfWritten) {
    LoadPicture(view_testing::Gradient(60, 40));
    // A folder in the way of the first file: it cannot be replaced by a picture.
    ASSERT_TRUE(QDir(out.path()).mkdir("linescope.png"));
    desk.fake.folderAnswer = out.path();
    Ctl<QAction>(*w, "mnuFileSaveScopes")->trigger();
    ASSERT_EQ(desk.fake.warnings.size(), 1u);
    EXPECT_EQ(desk.fake.warnings[0].first, "Could not save " + QDir::toNativeSeparators(out.filePath("linescope.png")));
    EXPECT_EQ(desk.fake.warnings[0].second, "Scope Save Error");
    EXPECT_EQ(Entries(out.path()), QStringList{"linescope.png"}) << "no temporary file, and no second picture";
    EXPECT_TRUE(QFileInfo(out.filePath("linescope.png")).isDir());

    // A folder that does not exist (gone since it was chosen).
    desk.fake.warnings.clear();
    desk.fake.folderAnswer = out.filePath("gone");
    Ctl<QAction>(*w, "mnuFileSaveScopes")->trigger();
    ASSERT_EQ(desk.fake.warnings.size(), 1u);
    EXPECT_TRUE(desk.fake.warnings[0].first.endsWith("gone/linescope.png"));

    // Cancelled: nothing asked, nothing written.
    desk.fake.warnings.clear();
    desk.fake.folderAnswer.reset();
    Ctl<QAction>(*w, "mnuFileSaveScopes")->trigger();
    EXPECT_TRUE(desk.fake.warnings.empty());
    EXPECT_EQ(Entries(out.path()), QStringList{"linescope.png"});
}

}  // namespace
