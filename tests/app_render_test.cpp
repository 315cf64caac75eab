// Headless rendering against the windows themselves: the written images must be
// what the instrument windows of the running program show at the same settings.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "app/Render.h"
#include "app_support.h"
#include "linescope/frmScope.h"
#include "platform/Input.h"
#include "platform/Numbers.h"
#include "vectorscope/frmVector.h"

namespace {

using testing_support::StartedMain;
using vistrel::RenderInstruments;
using vistrel::Settings;

// Large flat blocks of colour, so that neighbouring pixels in a block are alike,
// over a gradient band, so that the traces have shape; wider than the view.
QImage Blocks() {
    QImage image(1500, 600, QImage::Format_RGB32);
    const QRgb colours[] = {qRgb(200, 30, 40), qRgb(20, 180, 60), qRgb(40, 60, 220), qRgb(230, 220, 30),
                            qRgb(128, 128, 128)};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, y < 400 ? colours[x / 300] : qRgb(x % 256, (x + y) % 256, y % 256));
    return image;
}

// Sets the instrument windows as a user would, after the load.
void SetByHand(vistrel::frmMain& window, const Settings& settings) {
    vistrel::frmScope& scope = *window.scopeWindow();
    scope.findChild<QRadioButton*>(QStringLiteral("optParade[%1]").arg(static_cast<int>(settings.scopeChannel)))->click();
    const bool vertical = settings.orientation == vistrel::ScopeOrientation::Vertical;
    scope.findChild<QRadioButton*>(vertical ? "optHorz[0]" : "optHorz[1]")->click();
    auto* scaleBehind = scope.findChild<QCheckBox*>("chkScaleBG");
    if (scaleBehind->isChecked() != (settings.scale == vistrel::ScalePlacement::Behind)) scaleBehind->click();
    Ctl<QScrollBar>(window, "hscrLamp")->setValue(settings.lamp);
    window.vectorWindow()->zoomBar()->setValue(settings.zoom);
    if (settings.luma == korvex::LumaStandard::Rec709) Ctl<QAction>(window, "mnuToolsLuma709")->trigger();
    if (settings.skinLine) Ctl<QAction>(window, "mnuToolsSkinLine")->trigger();
}

QImage Screen(QWidget& window) { return window.grab().toImage().convertToFormat(QImage::Format_RGB32); }

struct Rendered {
    QImage lineScope;
    QImage vectorscope;
};

Rendered Render(const QString& picture, const Settings& settings, std::optional<QPoint> probe = {}) {
    QTemporaryDir out;
    const vistrel::RenderResult result = RenderInstruments(out.path(), picture, settings, probe);
    EXPECT_EQ(result.exitCode, 0) << result.message.toStdString();
    return {QImage(out.filePath("linescope.png")).convertToFormat(QImage::Format_RGB32),
            QImage(out.filePath("vectorscope.png")).convertToFormat(QImage::Format_RGB32)};
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        picture = testing_support::WritePicture(dir, "blocks.png", Blocks());
    }
    QTemporaryDir dir;
    QString picture;
};

TEST_F(RenderTest, ImagesAreTheWindowsPixelForPixelAtEverySetting) {
    struct Case {
        Settings settings;
        QPoint viewProbe;  // a Ctrl+click here in the view; (-1, -1) for none
    };
    std::vector<Case> cases;
    cases.push_back({Settings{}, {-1, -1}});
    for (int channel = 0; channel < 5; ++channel) {
        Settings s;
        s.scopeChannel = static_cast<vistrel::ScopeChannel>(channel);
        s.orientation = channel % 2 == 1 ? vistrel::ScopeOrientation::Vertical : vistrel::ScopeOrientation::Horizontal;
        s.scale = channel >= 3 ? vistrel::ScalePlacement::InFront : vistrel::ScalePlacement::Behind;
        s.lamp = channel * 60;
        s.zoom = 64 + channel * 240;
        s.luma = channel % 2 == 0 ? korvex::LumaStandard::Rec709 : korvex::LumaStandard::Rec601;
        s.skinLine = channel >= 2;
        cases.push_back({s, {-1, -1}});
        cases.push_back({s, {37 + channel * 90, channel == 4 ? 300 : 100 + channel * 41}});
    }

    for (const Case& c : cases) {
        StartedMain main;
        testing_support::Load(*main, picture);
        ASSERT_TRUE(main->model().loaded());
        SetByHand(*main, c.settings);
        std::optional<QPoint> probe;
        if (c.viewProbe.x() >= 0) {
            Ctl<vistrel::PictureBox>(*main, "picImg")
                ->onMouseDown(vistrel::kLeftButton, vistrel::kCtrlKey, c.viewProbe.x(), c.viewProbe.y());
            Ctl<vistrel::PictureBox>(*main, "picImg")
                ->onMouseUp(vistrel::kLeftButton, vistrel::kCtrlKey, c.viewProbe.x(), c.viewProbe.y());
            ASSERT_TRUE(main->model().picture().probe.locked);
            probe = QPoint(Ctl<QScrollBar>(*main, "hscrCross")->value(), Ctl<QScrollBar>(*main, "vscrCross")->value());
        }
        const Rendered rendered = Render(picture, c.settings, probe);
        const std::string label = "channel " + std::to_string(static_cast<int>(c.settings.scopeChannel)) + " probe " +
                                  std::to_string(probe ? probe->x() : -1);
        EXPECT_EQ(rendered.lineScope, Screen(*main->scopeWindow())) << label;
        EXPECT_EQ(rendered.vectorscope, Screen(*main->vectorWindow())) << label;
        EXPECT_EQ(rendered.lineScope, vistrel::InstrumentImage(*main->scopeWindow())) << label;
    }
}

TEST_F(RenderTest, AProbeNoViewPositionReachesShowsThatPixelAlone) {
    StartedMain main;
    testing_support::Load(*main, picture);
    ASSERT_GT(main->model().picture().scaleX, 1.0f);
    // A column between two that view positions stand for, inside the second block.
    int column = -1;
    for (int x = 301; x < 599 && column < 0; ++x) {
        const int view = vistrel::nearestInt(x / static_cast<double>(main->model().picture().scaleX));
        if (vistrel::nearestInt(view * static_cast<double>(main->model().picture().scaleX)) != x) column = x;
    }
    ASSERT_GE(column, 0);
    const int row = 200;
    const Rendered rendered = Render(picture, {}, QPoint(column, row));

    // The line scope: the trace through that pixel, as the crosshair bars place it.
    Ctl<vistrel::PictureBox>(*main, "picImg")->onMouseDown(vistrel::kLeftButton, vistrel::kCtrlKey, 10, 10);
    Ctl<QScrollBar>(*main, "hscrCross")->setValue(column);
    Ctl<QScrollBar>(*main, "vscrCross")->setValue(row);
    EXPECT_EQ(rendered.lineScope, Screen(*main->scopeWindow()));

    // The vectorscope: the one marker of a pixel of the same colour that a click reaches.
    StartedMain other;
    testing_support::Load(*other, picture);
    const int view = vistrel::nearestInt(column / static_cast<double>(other->model().picture().scaleX));
    Ctl<vistrel::PictureBox>(*other, "picImg")
        ->onMouseDown(vistrel::kLeftButton, vistrel::kCtrlKey, static_cast<float>(view), 60);
    ASSERT_EQ(Ctl<QScrollBar>(*other, "hscrCross")->value() / 300, column / 300);
    EXPECT_EQ(rendered.vectorscope, Screen(*other->vectorWindow()));
}

// A region's instruments are those of its crop rendered as a picture of its own, pixel
// for pixel: inside, along an edge, one row, across orientations and with a probe in it,
// whose trace is the crop's row through it. A region past the picture's edge exits 2.
TEST_F(RenderTest, ARegionsInstrumentsAreItsCropsRenderedAsAPicture) {
    struct Case {
        QRect region;
        vistrel::ScopeOrientation orientation;
        std::optional<QPoint> probe;  // in the picture
    };
    const Case cases[] = {
        {{300, 100, 450, 380}, vistrel::ScopeOrientation::Horizontal, {}},
        {{300, 100, 450, 380}, vistrel::ScopeOrientation::Vertical, QPoint(500, 300)},
        {{1400, 0, 100, 600}, vistrel::ScopeOrientation::Horizontal, QPoint(1499, 599)},
        {{0, 599, 1500, 1}, vistrel::ScopeOrientation::Vertical, {}},
    };
    const QImage whole = Blocks();
    for (const Case& c : cases) {
        const QRect& r = c.region;
        SCOPED_TRACE(testing::Message() << r.x() << "," << r.y() << "," << r.width() << "," << r.height());
        Settings settings;
        settings.orientation = c.orientation;
        settings.histogramChannel = vistrel::HistogramChannel::Parade;
        const QString crop = testing_support::WritePicture(dir, "crop.png", whole.copy(r));
        QTemporaryDir ofRegion, ofCrop;
        const korvex::PixelRect region{static_cast<std::size_t>(r.x()), static_cast<std::size_t>(r.y()),
                                       static_cast<std::size_t>(r.width()), static_cast<std::size_t>(r.height())};
        const std::optional<QPoint> cropProbe = c.probe ? std::optional(*c.probe - r.topLeft()) : std::nullopt;
        ASSERT_EQ(RenderInstruments(ofRegion.path(), picture, settings, c.probe, region).exitCode, 0);
        ASSERT_EQ(RenderInstruments(ofCrop.path(), crop, settings, cropProbe).exitCode, 0);
        for (const char* image : {vistrel::kLineScopeImage, vistrel::kVectorscopeImage, vistrel::kHistogramImage}) {
            const QImage got(ofRegion.filePath(image));
            ASSERT_FALSE(got.isNull()) << image;
            EXPECT_EQ(got, QImage(ofCrop.filePath(image))) << image;
        }
    }
    // The crop's instruments differ from the whole picture's: the comparison has teeth.
    QTemporaryDir ofWhole, ofPart;
    ASSERT_EQ(RenderInstruments(ofWhole.path(), picture, {}).exitCode, 0);
    ASSERT_EQ(RenderInstruments(ofPart.path(), picture, {}, {}, korvex::PixelRect{300, 100, 450, 380}).exitCode, 0);
    for (const char* image : {vistrel::kLineScopeImage, vistrel::kVectorscopeImage, vistrel::kHistogramImage})
        EXPECT_NE(QImage(ofWhole.filePath(image)), QImage(ofPart.filePath(image))) << image;

    QTemporaryDir never;
    const vistrel::RenderResult outside =
        RenderInstruments(never.filePath("scopes"), picture, {}, {}, korvex::PixelRect{1400, 0, 101, 600});
    EXPECT_EQ(outside.exitCode, 2);
    EXPECT_EQ(outside.message, "The region 1400,0,101,600 does not lie wholly inside the 1500 x 600 picture");
    EXPECT_FALSE(QFileInfo::exists(never.filePath("scopes")));
}

TEST_F(RenderTest, FailuresWriteNothingAndSayWhy) {
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const QString fifo = dir.filePath("pipe.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A GIF that claims 65535 x 65535 pixels, one that claims 30000 x 30000 in a few bytes,
    // and the start of a JPEG with nothing after it.
    const auto writeBytes = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    };
    const QString hostile = writeBytes("huge.gif", QByteArray("GIF89a\xFF\xFF\xFF\xFF\x80\x00\x00", 13));
    const QString bomb = writeBytes("bomb.gif", QByteArray("GIF89a\x30\x75\x30\x75\x80\x00\x00", 13));
    const QString truncated = writeBytes("truncated.jpg", QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));

    const std::pair<QString, const char*> cases[] = {{dir.filePath("missing.jpg"), ": not found"},
                                                     {dir.path(), ": a folder"},
                                                     {fifo, ": not a regular file"},
                                                     {hostile, ": larger than 32768 pixels a side"},
                                                     {bomb, ": claims more pixels than its file could hold"},
                                                     {truncated, ": damaged or cut short"}};
    for (const auto& [unloadable, reason] : cases) {
        const vistrel::RenderResult result = RenderInstruments(out.path(), unloadable, {});
        EXPECT_EQ(result.exitCode, 1) << unloadable.toStdString();
        EXPECT_EQ(result.message, "Could not load " + unloadable + reason);
    }

    EXPECT_EQ(RenderInstruments(out.path(), picture, {}, QPoint(1500, 0)).exitCode, 2);
    EXPECT_EQ(RenderInstruments(out.path(), picture, {}, QPoint(0, 600)).exitCode, 2);
    EXPECT_TRUE(QDir(out.path()).isEmpty());

    // A folder under a file cannot be made; the file itself is no folder.
    for (const QString& unwritable : {picture + "/out", picture}) {
        const vistrel::RenderResult result = RenderInstruments(unwritable, picture, {});
        EXPECT_EQ(result.exitCode, 2) << unwritable.toStdString();
        EXPECT_TRUE(result.message.contains(unwritable));
    }
    EXPECT_TRUE(QFileInfo(picture).isFile());
}

TEST_F(RenderTest, AMissingFolderIsMadeWithItsParentsOnlyWhenThePictureLoads) {
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const QString nested = out.filePath("scopes/grab 1.jpg/y");
    EXPECT_EQ(RenderInstruments(nested, dir.filePath("missing.jpg"), {}).exitCode, 1);
    EXPECT_EQ(RenderInstruments(nested, picture, {}, QPoint(1500, 0)).exitCode, 2);
    EXPECT_TRUE(QDir(out.path()).isEmpty()) << "a failure left a folder behind";

    ASSERT_EQ(RenderInstruments(nested, picture, {}).exitCode, 0);
    EXPECT_EQ(QImage(nested + "/linescope.png").size(), QSize(420, 286));
    EXPECT_EQ(QImage(nested + "/vectorscope.png").size(), QSize(256, 266));
    // Into the folder now there, again.
    EXPECT_EQ(RenderInstruments(nested, picture, {}).exitCode, 0);
}

}  // namespace
