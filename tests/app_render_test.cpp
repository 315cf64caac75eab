// Headless rendering against the windows themselves: the written images must be
// what the instrument windows of the running program show at the same settings.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QLabel>
#include <QSpinBox>
#include <QTemporaryDir>

#include <cmath>
#include <map>

#include "app/Render.h"
#include "app/SaveScopes.h"
#include "app_support.h"
#include "decoding/Readers.h"
#include "dng_pictures.h"
#include "histogram/HistogramPlot.h"
#include "histogram/frmHistogram.h"
#include "rawhistogram/RawHistogramPlot.h"
#include "rawhistogram/frmRawHistogram.h"
#include "linescope/Waveform.h"
#include "model/Trace.h"
#include "linescope/frmScope.h"
#include "platform/Input.h"
#include "platform/Numbers.h"
#include "vectorscope/frmVector.h"

namespace {

using testing_support::StartedMain;
using vistrel::RenderInstruments;
using vistrel::DecodeResult;
using vistrel::frmScope;
using vistrel::frmVector;
using vistrel::frmHistogram;
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
    vistrel::frmScope& scope = *window.workspace().instrument<frmScope>();
    scope.findChild<QRadioButton*>(QStringLiteral("optParade[%1]").arg(static_cast<int>(settings.scopeChannel)))->click();
    const bool vertical = settings.orientation == vistrel::ScopeOrientation::Vertical;
    scope.findChild<QRadioButton*>(vertical ? "optHorz[0]" : "optHorz[1]")->click();
    auto* scaleBehind = scope.findChild<QCheckBox*>("chkScaleBG");
    if (scaleBehind->isChecked() != (settings.scale == vistrel::ScalePlacement::Behind)) scaleBehind->click();
    Ctl<QScrollBar>(window, "hscrLamp")->setValue(settings.lamp);
    window.workspace().instrument<frmVector>()->zoomBar()->setValue(settings.zoom);
    if (settings.luma == korvex::LumaStandard::Rec709) Ctl<QAction>(window, "mnuToolsLuma709")->trigger();
    if (settings.skinLine) Ctl<QAction>(window, "mnuToolsSkinLine")->trigger();
}

QImage Screen(QWidget& window) { return window.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The picture inside the view's frame, as the main window shows it.
QImage ViewShown(vistrel::frmMain& window) {
    const vistrel::PictureBox& view = *Ctl<vistrel::PictureBox>(window, "picImg");
    const int border = view.border();
    return Screen(const_cast<vistrel::PictureBox&>(view)).copy(border, border, view.innerWidth(), view.innerHeight());
}

struct Rendered {
    QImage lineScope;
    QImage vectorscope;
    QImage view;
};

Rendered Render(const QString& picture, const Settings& settings, std::optional<QPoint> probe = {}) {
    QTemporaryDir out;
    const vistrel::RenderResult result = RenderInstruments(out.path(), picture, settings, probe);
    EXPECT_EQ(result.exitCode, 0) << result.message.toStdString();
    return {QImage(out.filePath("linescope.png")).convertToFormat(QImage::Format_RGB32),
            QImage(out.filePath("vectorscope.png")).convertToFormat(QImage::Format_RGB32),
            QImage(out.filePath("view.png")).convertToFormat(QImage::Format_RGB32)};
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
        EXPECT_EQ(rendered.lineScope, Screen(*main->workspace().instrument<frmScope>())) << label;
        EXPECT_EQ(rendered.vectorscope, Screen(*main->workspace().instrument<frmVector>())) << label;
        EXPECT_EQ(rendered.lineScope, vistrel::InstrumentImage(*main->workspace().instrument<frmScope>())) << label;
        EXPECT_EQ(rendered.view, ViewShown(*main)) << label;
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
    EXPECT_EQ(rendered.lineScope, Screen(*main->workspace().instrument<frmScope>()));

    // The vectorscope: the one marker of a pixel of the same colour that a click reaches.
    StartedMain other;
    testing_support::Load(*other, picture);
    const int view = vistrel::nearestInt(column / static_cast<double>(other->model().picture().scaleX));
    Ctl<vistrel::PictureBox>(*other, "picImg")
        ->onMouseDown(vistrel::kLeftButton, vistrel::kCtrlKey, static_cast<float>(view), 60);
    ASSERT_EQ(Ctl<QScrollBar>(*other, "hscrCross")->value() / 300, column / 300);
    EXPECT_EQ(rendered.vectorscope, Screen(*other->workspace().instrument<frmVector>()));
}

// The three images of a render, in the order written.
std::array<QImage, 3> RenderAll(const QString& picture, const Settings& settings, const QString& reference = {}) {
    QTemporaryDir out;
    const vistrel::RenderResult result = RenderInstruments(out.path(), picture, settings, {}, {}, reference);
    EXPECT_EQ(result.exitCode, 0) << result.message.toStdString();
    std::array<QImage, 3> images;
    const char* names[] = {"linescope.png", "vectorscope.png", "histogram.png"};
    for (std::size_t k = 0; k < images.size(); ++k)
        images[k] = QImage(out.filePath(names[k])).convertToFormat(QImage::Format_RGB32);
    return images;
}

// A smooth field of other colours than Blocks': red across, blue down, and a saturated
// strip of purples that the blocks have nothing near.
QImage Held() {
    QImage image(900, 500, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, y < 60 ? qRgb(160 + x % 90, 0, 200) : qRgb(x * 255 / 899, 90, y * 255 / 499));
    return image;
}

TEST_F(RenderTest, AReferencesTracesLieUnderThePicturesExactlyWhereItsOwnRenderHasThem) {
    const QString held = testing_support::WritePicture(dir, "held one.png", Held());
    Settings other;
    other.scopeChannel = vistrel::ScopeChannel::Luma;
    other.orientation = vistrel::ScopeOrientation::Vertical;
    other.scale = vistrel::ScalePlacement::InFront;
    other.luma = korvex::LumaStandard::Rec709;
    other.zoom = 512;
    other.lamp = 200;
    other.histogramChannel = vistrel::HistogramChannel::Parade;
    other.histogramScale = vistrel::HistogramScale::Log;
    other.scopeLines = {16, 235};
    const QRgb traceColour = 0xFF000000u | vistrel::kReferenceTrace;
    {
        // The windows hold it from the File menu as --reference does, and drop it again.
        StartedMain main;
        auto* hold = Ctl<QAction>(*main, "mnuFileHoldReference");
        auto* drop = Ctl<QAction>(*main, "mnuFileDropReference");
        EXPECT_FALSE(hold->isEnabled());
        testing_support::Load(*main, held);
        hold->trigger();
        EXPECT_TRUE(drop->isEnabled());
        testing_support::Load(*main, picture);
        const auto windows = [&] {
            return std::array<QImage, 3>{vistrel::InstrumentImage(*main->workspace().instrument<frmScope>()),
                                         vistrel::InstrumentImage(*main->workspace().instrument<frmVector>()),
                                         vistrel::InstrumentImage(*main->workspace().instrument<frmHistogram>())};
        };
        EXPECT_EQ(windows(), RenderAll(picture, {}, held));
        drop->trigger();
        EXPECT_FALSE(drop->isEnabled());
        EXPECT_EQ(windows(), RenderAll(picture, {}));

        // The trace of a locked probe has the reference lines too, dotted.
        main.fake().onModal = [](QDialog& dialog) {
            dialog.findChild<QLineEdit*>("txtScopeLines")->setText("16");
            dialog.accept();
        };
        Ctl<QAction>(*main, "mnuToolsScopeLines")->trigger();
        main->LockProbeAt(700, 450);
        const vistrel::Surface& box = main->workspace().instrument<frmScope>()->boxSurface(0);
        const korvex::Pixel lamp = korvex::ColorToPixel(vistrel::ScaleColorOf(vistrel::kDefaultLamp));
        int dots = 0;
        for (int x = 0; x < box.width(); ++x) {
            const korvex::Pixel at = box.pixel(x, 255 - 16);
            if (x % 2 == 1) {
                EXPECT_NE(at, lamp) << x;
            }
            dots += at == lamp ? 1 : 0;
        }
        EXPECT_GT(dots, box.width() / 2 - 8);
    }
    for (const Settings& settings : {Settings{}, other}) {
        const auto plain = RenderAll(picture, settings);
        const auto with = RenderAll(picture, settings, held);
        const auto own = RenderAll(held, settings);
        EXPECT_EQ(with, RenderAll(picture, settings, held)) << "the same from run to run";
        const QRgb lamp = 0xFF000000u | korvex::ColorToPixel(vistrel::ScaleColorOf(settings.lamp));
        // What text covers: the legends, the zoom readout and the histogram's label strips.
        std::array<std::vector<QRect>, 3> text;
        text[0].push_back(QRect(0, 0, 420, vistrel::linescope::kBoxTop + vistrel::linescope::kLegendTop +
                                                vistrel::linescope::kLegendHeight));
        text[1] = {vistrel::kLegendArea.adjusted(-2, -2, 2, 2), vistrel::kLegendRightArea.adjusted(-2, -2, 2, 2),
                   QRect(0, 240, 48, 16)};
        for (std::size_t band = 0; band < vistrel::histogram::BandsOf(settings.histogramChannel).size(); ++band) {
            const auto bands = vistrel::histogram::BandsOf(settings.histogramChannel);
            const int rows = vistrel::histogram::kLabelRows *
                             static_cast<int>(vistrel::histogram::BandChannels(settings.histogramChannel, band).size());
            text[2].push_back(QRect(0, bands[band].top, vistrel::histogram::kRasterWidth, rows));
        }
        for (std::size_t k = 0; k < plain.size(); ++k) {
            ASSERT_EQ(with[k].size(), plain[k].size());
            int differing = 0;
            for (int y = 0; y < plain[k].height(); ++y)
                for (int x = 0; x < plain[k].width(); ++x) {
                    if (std::any_of(text[k].begin(), text[k].end(), [&](const QRect& r) { return r.contains(x, y); }))
                        continue;
                    const QRgb was = plain[k].pixel(x, y);
                    const QRgb is = with[k].pixel(x, y);
                    const QRgb its = own[k].pixel(x, y);
                    const bool itsTrace = its != 0xFF000000u && its != lamp;
                    if (is != was) {
                        ++differing;
                        ASSERT_EQ(is, traceColour) << "image " << k << " at " << x << "," << y;
                        ASSERT_TRUE(itsTrace) << "image " << k << " at " << x << "," << y;
                    } else if (itsTrace && was == 0xFF000000u) {
                        ASSERT_EQ(is, traceColour) << "the reference's trace missing, image " << k << " at " << x
                                                   << "," << y;
                    }
                }
            EXPECT_GT(differing, 200) << "image " << k;
        }
    }
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

// Every failure writes nothing and makes no folder, not even a missing one it was to make.
TEST_F(RenderTest, FailuresWriteNothingAndSayWhy) {
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const QString nested = out.filePath("scopes/grab 1.jpg/y");
    // The window's load tests hold every reason's words; here: a file that is not there, a
    // GIF that claims 65535 x 65535 pixels and the start of a JPEG with nothing after it.
    const auto writeBytes = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    };
    const QString hostile = writeBytes("huge.gif", QByteArray("GIF89a\xFF\xFF\xFF\xFF\x80\x00\x00", 13));
    const QString truncated = writeBytes("truncated.jpg", QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));

    const std::pair<QString, const char*> cases[] = {{dir.filePath("missing.jpg"), ": not found"},
                                                     {hostile, ": larger than 32768 pixels a side"},
                                                     {truncated, ": damaged or cut short"}};
    for (const auto& [unloadable, reason] : cases) {
        const vistrel::RenderResult result = RenderInstruments(nested, unloadable, {});
        EXPECT_EQ(result.exitCode, 1) << unloadable.toStdString();
        EXPECT_EQ(result.message, "Could not load " + unloadable + reason);
    }
    // A reference that does not load fails the render as the picture would.
    const vistrel::RenderResult noReference = RenderInstruments(nested, picture, {}, {}, {}, truncated);
    EXPECT_EQ(noReference.exitCode, 1);
    EXPECT_EQ(noReference.message, "Could not load " + truncated + ": damaged or cut short");

    EXPECT_EQ(RenderInstruments(nested, picture, {}, QPoint(1500, 0)).exitCode, 2);
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
    ASSERT_EQ(RenderInstruments(nested, picture, {}).exitCode, 0);
    EXPECT_EQ(QImage(nested + "/linescope.png").size(), QSize(420, 286));
    EXPECT_EQ(QImage(nested + "/vectorscope.png").size(), QSize(256, 266));
    // Into the folder now there, again.
    EXPECT_EQ(RenderInstruments(nested, picture, {}).exitCode, 0);
}

// Flat patches, 120 x 120 pixels each, of greys and colours in every band, between them
// and on both sides of the zebra level 200.
const QRgb kPatches[] = {qRgb(2, 2, 2),       qRgb(8, 8, 8),       qRgb(20, 20, 20),    qRgb(60, 60, 60),
                         qRgb(100, 100, 100), qRgb(143, 143, 143), qRgb(180, 180, 180), qRgb(199, 199, 199),
                         qRgb(200, 200, 200), qRgb(237, 237, 237), qRgb(250, 250, 250), qRgb(200, 30, 40),
                         qRgb(20, 180, 60),   qRgb(230, 220, 30),  qRgb(250, 200, 210), qRgb(90, 110, 100),
                         qRgb(40, 60, 220),   qRgb(255, 255, 255)};
constexpr int kPatchSide = 120;
constexpr int kPatchColumns = 6;

int Luma601(QRgb c) { return static_cast<int>(std::nearbyint((299 * qRed(c) + 587 * qGreen(c) + 114 * qBlue(c)) / 1000.0)); }

// The view pixels whose covered full-size pixels all lie inside the patch, at its index.
std::map<int, std::vector<QPoint>> PatchInteriors(QSize view) {
    std::map<int, std::vector<QPoint>> inside;
    const int width = kPatchSide * kPatchColumns;
    const int height = kPatchSide * 3;
    for (int y = 0; y < view.height(); ++y)
        for (int x = 0; x < view.width(); ++x) {
            const int x0 = x * width / view.width(), x1 = ((x + 1) * width - 1) / view.width();
            const int y0 = y * height / view.height(), y1 = ((y + 1) * height - 1) / view.height();
            if (x0 / kPatchSide != x1 / kPatchSide || y0 / kPatchSide != y1 / kPatchSide) continue;
            inside[y0 / kPatchSide * kPatchColumns + x0 / kPatchSide].push_back({x, y});
        }
    return inside;
}

// A patch of red photosites at the white level under a developed picture that stays below
// 250 there (a camera whose red is deeper than sRGB's, so that its other channels bring
// red down): Show Clipping sees nothing in it, the raw clipping marks it red, through the
// picture's turn, and nothing else on the view changes.
TEST_F(RenderTest, TheSensorsClippingMarksItsPhotositesAtWhiteAloneWhereTheDevelopedPictureIsNotClipped) {
    dng_pictures::Description dng;
    dng.width = 240;
    dng.height = 160;
    dng.orientation = 6;
    dng.singleBlackLevel = true;
    dng.asShotNeutral = {1.0f, 1.0f, 1.0f};
    // XYZ to a camera whose primaries are sRGB's with a tenth of each other mixed in:
    // the inverse of (0.7 I + 0.1) times XYZ to linear sRGB.
    const double toSrgb[3][3] = {{3.2404542, -1.5371385, -0.4985314}, {-0.9692660, 1.8760108, 0.0415560},
                                 {0.0556434, -0.2040259, 1.0572252}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int k = 0; k < 3; ++k) sum += ((r == k ? 1 / 0.7 : 0) - 0.1 / 0.7) * toSrgb[k][c];
            dng.colorMatrix1[std::size_t(r * 3 + c)] = static_cast<float>(sum);
        }
    const std::uint16_t black = dng.black[0];
    const auto level = [&](double share) { return static_cast<std::uint16_t>(black + share * (dng.white - black)); };
    std::vector<std::uint16_t> sites(std::size_t(dng.width) * dng.height);
    // The patch: sensor columns 60 .. 119, rows 40 .. 99; R at white, the rest at half.
    const auto inPatch = [](std::uint32_t col, std::uint32_t row) { return col >= 60 && col < 120 && row >= 40 && row < 100; };
    for (std::uint32_t row = 0; row < dng.height; ++row)
        for (std::uint32_t col = 0; col < dng.width; ++col) {
            const bool red = (row & 1) == 0 && (col & 1) == 0;
            sites[std::size_t(row) * dng.width + col] = inPatch(col, row) ? (red ? dng.white : level(0.5)) : level(0.3);
        }
    const QString file = dir.filePath("red-patch.dng");
    ASSERT_EQ(dng_pictures::WriteDng(file.toStdString(), dng, sites), "");

    const DecodeResult developed = vistrel::DecodePicture(file, 0);
    ASSERT_TRUE(developed);
    const QImage& image = developed.surface->image();
    ASSERT_EQ(image.size(), QSize(160, 240));
    // Upright, the patch covers columns 60 .. 119 (rows 99 .. 40 turned) and rows 60 .. 119.
    const auto patchPixel = [&](int x, int y) {
        const auto [col, row] = dng_pictures::SensorPositionOf(dng, std::uint32_t(x), std::uint32_t(y));
        return inPatch(col, row);
    };
    int inside = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (!patchPixel(x, y)) continue;
            const QRgb p = image.pixel(x, y);
            ASSERT_LT(std::max({qRed(p), qGreen(p), qBlue(p)}), 250) << x << "," << y;
            ++inside;
        }
    ASSERT_EQ(inside, 60 * 60);

    Settings rawClipping;
    rawClipping.rawClipping = true;
    Settings clipping;
    clipping.showClipping = true;
    const QImage plain = Render(file, Settings{}).view;
    const QImage marked = Render(file, rawClipping).view;
    const QImage developedMarks = Render(file, clipping).view;
    ASSERT_FALSE(plain.isNull());
    ASSERT_EQ(marked.size(), plain.size());
    const int vw = plain.width(), vh = plain.height(), pw = image.width(), ph = image.height();
    // A view pixel is marked exactly where a picture pixel it covers (as the view is fitted
    // by area) stands over a red photosite of the patch; every other shows the picture.
    int red = 0, untouched = 0;
    for (int Y = 0; Y < vh; ++Y)
        for (int X = 0; X < vw; ++X) {
            bool clipped = false, inside = true;
            for (int y = Y * ph / vh; y <= ((Y + 1) * ph - 1) / vh; ++y)
                for (int x = X * pw / vw; x <= ((X + 1) * pw - 1) / vw; ++x) {
                    const auto [col, row] = dng_pictures::SensorPositionOf(dng, std::uint32_t(x), std::uint32_t(y));
                    clipped = clipped || (inPatch(col, row) && row % 2 == 0 && col % 2 == 0);
                    inside = inside && patchPixel(x, y);
                }
            if (clipped) {
                ASSERT_EQ(marked.pixel(X, Y) & 0xFFFFFF, 0xFF0000u) << X << "," << Y;
                ++red;
            } else {
                ASSERT_EQ(marked.pixel(X, Y), plain.pixel(X, Y)) << X << "," << Y;
                ++untouched;
            }
            // The developed picture's own clipping marks nothing in the patch.
            if (inside) {
                ASSERT_EQ(developedMarks.pixel(X, Y), plain.pixel(X, Y)) << X << "," << Y;
            }
        }
    EXPECT_GT(red, 2000);
    EXPECT_GT(untouched, 20000);

    // A raw file's render holds its photosites' histogram; another picture's does not.
    QTemporaryDir rawOut, otherOut;
    ASSERT_EQ(RenderInstruments(rawOut.path(), file, Settings{}).exitCode, 0);
    ASSERT_EQ(RenderInstruments(otherOut.path(), this->picture, Settings{}).exitCode, 0);
    const QImage rawHistogram(rawOut.filePath(vistrel::kRawHistogramImage));
    EXPECT_EQ(rawHistogram.width(), vistrel::rawhistogram::kRasterWidth);
    EXPECT_GT(rawHistogram.height(), vistrel::rawhistogram::kRasterHeight);
    EXPECT_FALSE(QFileInfo::exists(otherOut.filePath(vistrel::kRawHistogramImage)));

    // --raw-axis and --raw-log draw what the window's EV and Log boxes do, and each is its own.
    std::vector<QImage> drawn;
    for (const bool ev : {false, true})
        for (const bool log : {false, true}) {
            Settings options;
            options.rawHistogramAxis = ev ? vistrel::RawHistogramAxis::Ev : vistrel::RawHistogramAxis::Linear;
            options.rawHistogramScale = log ? vistrel::HistogramScale::Log : vistrel::HistogramScale::Linear;
            QTemporaryDir out;
            ASSERT_EQ(RenderInstruments(out.path(), file, options).exitCode, 0);
            StartedMain main;
            testing_support::Load(*main, file);
            auto& window = *main->workspace().instrument<vistrel::frmRawHistogram>();
            if (ev) Ctl<QCheckBox>(window, "chkEv")->click();
            if (log) Ctl<QCheckBox>(window, "chkLog")->click();
            const QImage rendered = QImage(out.filePath(vistrel::kRawHistogramImage)).convertToFormat(QImage::Format_RGB32);
            EXPECT_EQ(rendered, vistrel::InstrumentImage(window).convertToFormat(QImage::Format_RGB32)) << ev << log;
            for (const QImage& other : drawn) EXPECT_NE(rendered, other) << ev << log;
            drawn.push_back(rendered);
        }
}

TEST_F(RenderTest, TheViewImageShowsEachFlatPatchInItsBandOrGreyAndZebrasOnlyFromTheirLevel) {
    QImage patches(kPatchSide * kPatchColumns, kPatchSide * 3, QImage::Format_RGB32);
    for (int y = 0; y < patches.height(); ++y)
        for (int x = 0; x < patches.width(); ++x)
            patches.setPixel(x, y, kPatches[y / kPatchSide * kPatchColumns + x / kPatchSide]);
    const QString file = testing_support::WritePicture(dir, "patches.png", patches);
    const struct Band {
        int low, high;
        QRgb colour;
    } bands[] = {{0, 4, 0x800080},      {5, 12, 0x0000FF},    {13, 25, 0x00A0FF}, {97, 107, 0x00C000},
                 {138, 148, 0xFF80C0}, {230, 244, 0xFFFF00}, {245, 255, 0xFF0000}};

    Settings falseColour;
    falseColour.falseColour = true;
    Settings zebra;
    zebra.zebra = true;
    zebra.zebraLevel = 200;
    const QImage coloured = Render(file, falseColour).view;
    const QImage striped = Render(file, zebra).view;
    ASSERT_FALSE(coloured.isNull());
    ASSERT_EQ(striped.size(), coloured.size());
    int inBands = 0, greys = 0, withStripes = 0;
    for (const auto& [patch, pixels] : PatchInteriors(coloured.size())) {
        SCOPED_TRACE(patch);
        ASSERT_GE(pixels.size(), 60u * 60u);
        const QRgb colour = kPatches[patch] & 0xFFFFFF;
        const int level = Luma601(colour);
        QRgb expected = static_cast<QRgb>(level) * 0x010101u;
        for (const Band& band : bands)
            if (level >= band.low && level <= band.high) expected = band.colour;
        (expected == static_cast<QRgb>(level) * 0x010101u ? greys : inBands) += 1;
        const bool zebras = level >= 200;
        withStripes += zebras;
        for (const QPoint& at : pixels) {
            ASSERT_EQ(coloured.pixel(at) & 0xFFFFFF, expected) << at.x() << "," << at.y();
            const bool stripe = zebras && (at.x() + at.y()) % 4 < 2;
            ASSERT_EQ(striped.pixel(at) & 0xFFFFFF, stripe ? 0u : colour) << at.x() << "," << at.y();
        }
    }
    EXPECT_EQ(inBands, 9);
    EXPECT_EQ(greys, 9);
    EXPECT_EQ(withStripes, 6);

    // The window with the same choices made from its menus and the bands dialog shows the same.
    StartedMain main;
    const int width = main->width();
    main.fake().onModal = [](QDialog& dialog) {
        dialog.findChild<QSpinBox*>("spnZebraLevel")->setValue(200);
        dialog.accept();
    };
    testing_support::Load(*main, file);
    Ctl<QAction>(*main, "mnuToolsFalseColourBands")->trigger();
    Ctl<QAction>(*main, "mnuToolsFalseColour")->trigger();
    Ctl<QAction>(*main, "mnuToolsZebra")->trigger();
    EXPECT_EQ(main.fake().modalShown.back(), "frmFalseColour");
    Settings both = falseColour;
    both.zebra = true;
    both.zebraLevel = 200;
    EXPECT_EQ(Render(file, both).view, ViewShown(*main));
    EXPECT_TRUE(Ctl<QLabel>(*main, "lblNote")->text().contains("Zebra 200+"));
    const QLabel& note = *Ctl<QLabel>(*main, "lblNote");
    EXPECT_LE(note.sizeHint().width(), note.width()) << "the legend fits the note line";
    EXPECT_EQ(main->width(), width);
}

}  // namespace
