// Loading a picture: decode and analyse it off the GUI thread, fit the view, and
// hand the results to both instruments; and the no-picture state.

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>

#include <algorithm>
#include <cassert>
#include <new>
#include <optional>

#include "app/PictureLoad.h"
#include "app/frmMain.h"
#include "histogram/frmHistogram.h"
#include "linescope/frmScope.h"
#include "decoding/Decode.h"
#include "platform/Desktop.h"
#include "platform/Numbers.h"
#include "vectorscope/frmVector.h"

namespace vistrel {

namespace {
// The window's caption, alone or before the loaded picture's file name.
constexpr char kProgramName[] = "Vistrel";
}  // namespace

void frmMain::cmdReset_Click() {
    WatchLoadedFile({});
    ResetControls();
    ClearPictures();
}

void frmMain::ResetControls() {
    model_.Drop();
    setWindowTitle(kProgramName);

    lblStatus->clear();
    lblPosn->clear();
    SetPatchColour(palette().color(QPalette::Window));

    hscrCross->hide();
    vscrCross->hide();
    fraChannels->hide();
    mnuSelectChannels->setEnabled(false);
    mnuFileSaveScopes->setEnabled(false);

    // Each change of state runs the box's handler, as a click would.
    for (QCheckBox* box : chkChannel) box->setChecked(true);
    chkChroma->setChecked(false);
    chkNeg->setChecked(false);
}

void frmMain::ClearPictures() {
    picHidden->surface().release();
    picImg->clearPicture();
    picImg->setOuterSize(2, kViewOuterHeight);
    vscrCross->resize(vscrCross->width(), kViewOuterHeight);
    if (frmScope_ != nullptr) frmScope_->ClearScope();
    if (frmVector_ != nullptr) {
        frmVector_->ClearDrawing();
        frmVector_->DrawGraticule();
        frmVector_->update();
    }
    RedrawHistogram();
}

void frmMain::DescribeSurface(BitmapInfoHeader& header, const Surface& surface) {
    header.biWidth = surface.width();
    header.biHeight = -surface.height();
    header.biSizeImage = static_cast<std::uint32_t>(static_cast<std::uint64_t>(surface.height()) *
                                                    DibStride(header.biBitCount, surface.width()));
}

namespace {

// The full-size picture, its luma already in the fourth bytes. The pixels are the
// surface's own, which the grid shares.
korvex::PixelGrid AdoptPixels(Surface& picture) {
    const int width = picture.width();
    const int height = picture.height();
    const auto columns = static_cast<std::size_t>(width);
    const auto rows = static_cast<std::size_t>(height);
    // The picture is analysed where it lies and shared rather than copied: the
    // full-size surface is never shown again, so its fourth bytes may carry the
    // luma, and the picture is held in memory once. Its rows follow each other
    // without padding, as the buffer's do.
    assert(picture.image().bytesPerLine() == static_cast<qsizetype>(DibStride(32, width)));
    Pixel* const bits = picture.row(0);
    return korvex::PixelGrid::Adopt(bits, columns, rows, std::make_shared<QImage>(picture.image()));
}

}  // namespace

std::vector<Pixel> frmMain::ReadViewPixels(PictureBox& surface) {
    const int width = surface.surface().width();
    const int height = surface.surface().height();
    DescribeSurface(ViewHeader, surface.surface());
    std::vector<Pixel> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    GetDIBits(surface.surface(), 0, height, pixels.data(), ViewHeader);
    return pixels;
}

namespace {

// While a load runs, the window repaints but takes no input: a click, a key, a drop
// or a close would start a second piece of work halfway through the first. Esc alone
// counts: it cancels the load.
class LoadInputGate : public QObject {
public:
    explicit LoadInputGate(PictureLoad& load) : load_(load) { qApp->installEventFilter(this); }
    ~LoadInputGate() override { qApp->removeEventFilter(this); }
    bool cancelled = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
                if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !cancelled) {
                    cancelled = true;
                    load_.Cancel();
                }
                [[fallthrough]];
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
            case QEvent::DragEnter:
            case QEvent::DragMove:
            case QEvent::Drop:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::TabletPress:
            case QEvent::TabletRelease:
            case QEvent::Close:
                event->ignore();
                return true;
            default:
                return false;
        }
    }

private:
    PictureLoad& load_;
};

// Progress shows only on loads long enough to need it.
constexpr int kProgressDelayMs = 500;
// How often the progress text is brought up to date.
constexpr int kProgressIntervalMs = 100;

}  // namespace

bool frmMain::RunLoad(PictureLoad& load) {
    assert(!LoadRunning);
    LoadRunning = true;
    QEventLoop loop;
    LoadInputGate gate(load);
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, &loop, [&] {
        if (elapsed.elapsed() >= kProgressDelayMs) lblStatus->setText(ProgressText(load.Percent()));
    });
    progress.start(kProgressIntervalMs);
    load.Start([&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
    loop.exec();
    LoadRunning = false;
    return gate.cancelled;
}

void frmMain::LoadPictureFile() {
    WatchLoadedFile({});
    // The previous picture's full-size buffers are let go before the new one is decoded,
    // so that two pictures never have to fit in memory at once; nothing reads them while
    // no picture is loaded. The new picture is decoded into them when it has the same
    // size; otherwise they go back to the system (on a thread of their own) before the
    // new one's are asked for.
    std::optional<PictureBufferReuse> reuse(std::in_place);
    DropPicture();
    // Decoding a large picture is the longest step of all: the busy cursor shows
    // from here, not only once the picture has been decoded.
    ShowBusy();

    const QString path = txtImageFile->text();
    PictureLoad load(path, picHidden->background(), kViewOuterHeight, picImg->border(), model_.settings.luma, ViewRoom(),
                     model_.settings.colour);
    const bool cancelled = RunLoad(load);
    // No other picture will take a buffer the decode left: it goes back before any message.
    reuse.reset();
    const bool loaded = !cancelled && load.decoded() && TryShowLoadedPicture(load);
    // Idle again before any message, so that the message is not read under an hourglass.
    ShowIdle();
    if (cancelled) {
        // Cancelled: the no-picture state, as after a failure, without a word.
        ClearPictures();
    } else if (!loaded) {
        // Decoded but not shown: memory ran out on the way.
        FailLoad(load.decoded() ? DecodeError::OutOfMemory : load.decoded().error);
    } else {
        WatchLoadedFile(path);
        ShowColourNote();
    }
}

void frmMain::LoadFile(const QString& path) {
    txtImageFile->setText(path);
    cmdLoadPic_Click();
}

void frmMain::ApplySettings(const Settings& settings) {
    // Each control that changes runs its handler, as a user's change would.
    for (int i = 0; i < 3; ++i) chkChannel[i]->setChecked(settings.channels[static_cast<std::size_t>(i)]);
    chkChroma->setChecked(settings.mono);
    chkNeg->setChecked(settings.negative);
    hscrLamp->setValue(settings.lamp);
    SetLumaStandard(settings.luma);
    SetColourHandling(settings.colour);
    if (mnuToolsSkinLine->isChecked() != settings.skinLine) {
        mnuToolsSkinLine->setChecked(settings.skinLine);
        mnuToolsSkinLine_Click();
    }
    Settings& now = model_.settings;
    if (now.scopeChannel != settings.scopeChannel || now.orientation != settings.orientation ||
        now.scale != settings.scale) {
        now.scopeChannel = settings.scopeChannel;
        now.orientation = settings.orientation;
        now.scale = settings.scale;
        if (frmScope_ != nullptr) {
            frmScope_->ShowSettings();
            frmScope_->RefreshScope();
        }
    }
    now.zoom = settings.zoom;
    if (frmVector_ != nullptr) frmVector_->ShowSettings();
    now.histogramScale = settings.histogramScale;
    if (frmHistogram_ != nullptr) frmHistogram_->ShowSettings();
    RedrawHistogram();
    if (mnuToolsHistogram->isChecked() != settings.histogramShown) {
        mnuToolsHistogram->setChecked(settings.histogramShown);
        mnuToolsHistogram_Click();
    }
    if (mnuSelectClipping->isChecked() != settings.showClipping) {
        mnuSelectClipping->setChecked(settings.showClipping);
        mnuSelectClipping_Click();
    }
    assert(model_.settings == settings);
}

int frmMain::ViewRoom() const { return centralWidget()->width() - picImg->x(); }

void frmMain::DropPicture() {
    ResetControls();
    picHidden->surface().release();
}

bool frmMain::TryShowLoadedPicture(PictureLoad& load) {
    try {
        ShowLoadedPicture(load);
        return true;
    } catch (const std::bad_alloc&) {
        DropPicture();
        return false;
    }
}

void frmMain::ShowIdle() {
    lblStatus->clear();
    unsetCursor();
    picImg->setCursor(Qt::CrossCursor);
}

void frmMain::ShowColourNote() {
    const Picture& picture = model_.picture();
    const QString note = model_.loaded() ? ColourNote(picture.colourSpace, picture.colourConverted, picture.hdrToneMapped,
                                                      picture.outOfGamut, picture.pixels.width() * picture.pixels.height())
                                         : QString();
    lblStatus->setText(note);
    lblStatus->setToolTip(note);
}

void frmMain::ShowBusy() {
    setCursor(Qt::WaitCursor);
    picImg->setCursor(Qt::WaitCursor);
    lblPosn->clear();
    lblStatus->setText("Working...");
    lblStatus->repaint();
}

void frmMain::FailLoad(DecodeError reason) {
    ClearPictures();
    LastLoadFailure = reason;
    // The reason on a line of its own, as a sentence.
    QString why = FailureReason(reason, txtImageFile->text());
    why[0] = why[0].toUpper();
    desktop().warningBox(this, "Could not load " + txtImageFile->text() + "\n" + why + ".", "Picture Load Error");
}

void frmMain::ShowLoadedPicture(PictureLoad& load) {
    Surface decoded = std::move(*load.decoded().surface);
    const int W = decoded.width();
    const int H = decoded.height();

    hscrCross->setMaximum(static_cast<std::int16_t>(W - 1));
    vscrCross->setMaximum(static_cast<std::int16_t>(H - 1));
    vscrCross->setPageStep(korvex::ClampValue(1, korvex::CombineValues(H / 100, 10), 10));

    // The view keeps its outer height and takes the picture's proportions, or, for a
    // picture too wide for the window, the window's width and a height that follows;
    // the analysis has already filled a copy of the fitted size.
    const ViewFit& fit = load.fit();
    picImg->setOuterSize(fit.outerWidth, fit.outerHeight);
    const int Wv = picImg->innerWidth();
    const int Hv = picImg->innerHeight();
    assert(Wv == fit.width && Hv == fit.height);
    Picture picture;
    picture.scaleY = static_cast<float>(H) / static_cast<float>(Hv);
    picture.scaleX = static_cast<float>(W) / static_cast<float>(Wv);
    picture.viewMaxY = Hv - 1;
    picture.viewMaxX = Wv - 1;

    Surface& view = picImg->surface();
    const std::vector<Pixel>& fitted = load.view();
    if (!view.isNull() && fitted.size() == static_cast<std::size_t>(Wv) * static_cast<std::size_t>(Hv))
        for (int y = 0; y < Hv; ++y)
            std::copy_n(fitted.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Wv), Wv, view.row(y));
    picImg->repaint();

    // The crosshair bars span the picture; the horizontal one stops 4 pixels short of the
    // window's edge when the picture reaches it.
    const int wv = picImg->width();
    const int room = ViewRoom();
    hscrCross->resize(room > wv ? wv : room - 4, hscrCross->height());
    vscrCross->resize(vscrCross->width(), picImg->height());

    ShowBusy();

    // The model owns the full-size pixels from here: the surface's image goes with them.
    picture.pixels = AdoptPixels(decoded);
    picture.histogram = std::move(load.histogram());
    picture.levels = load.levels();
    picture.luma = model_.settings.luma;
    picture.colourSpace = load.decoded().colourSpace;
    picture.colourConverted = load.decoded().colourConverted;
    picture.outOfGamut = load.decoded().outOfGamut;
    picture.hdrToneMapped = load.decoded().hdrToneMapped;
    picture.viewPixels = ReadViewPixels(*picImg);
    picture.viewWork = picture.viewPixels;
    decoded.release();
    model_.Load(std::move(picture));
    if (frmVector_ != nullptr) frmVector_->PlotPoints(model_.picture().histogram);
    if (frmScope_ != nullptr) frmScope_->DrawWaveform(model_.picture().pixels);
    RedrawHistogram();
    if (model_.settings.showClipping) ShowView();

    setWindowTitle(QStringLiteral("%1 - %2").arg(kProgramName, QFileInfo(load.path()).fileName()));
    fraChannels->setEnabled(true);
    fraChannels->show();
    mnuSelectChannels->setEnabled(true);
    mnuSelectChroma->setEnabled(true);
    mnuSelectNeg->setEnabled(true);
    mnuFileSaveScopes->setEnabled(true);
}

}  // namespace vistrel
