// Loading a picture: decode and analyse it off the GUI thread, then hand it to the
// model, whose notice fits the view and redraws the instruments; and the no-picture state.

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <cassert>
#include <new>
#include <optional>

#include "app/PictureLoad.h"
#include "app/frmMain.h"
#include "platform/Desktop.h"
#include "view/ImageView.h"

namespace vistrel {

void frmMain::cmdReset_Click() {
    WatchLoadedFile({});
    model_.Drop();
    ClearPictures();
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
        if (elapsed.elapsed() >= kProgressDelayMs) view_->lblStatus->setText(ProgressText(load.Percent()));
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
    model_.Drop();
    // Decoding a large picture is the longest step of all: the busy cursor shows
    // from here, not only once the picture has been decoded.
    ShowBusy();

    const QString path = txtImageFile->text();
    PictureLoad load(path, view_->picHidden->background(), view_->FitHeight(), view_->picImg->border(),
                     model_.settings(), view_->Room(), view_->Ratio());
    const bool cancelled = RunLoad(load);
    // No other picture will take a buffer the decode left: it goes back before any message.
    reuse.reset();
    const bool loaded = !cancelled && load.decoded() && ShowLoadedPicture(load);
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
        view_->ShowColourNote();
    }
}

void frmMain::LoadFile(const QString& path) {
    txtImageFile->setText(path);
    cmdLoadPic_Click();
}

void frmMain::ApplySettings(const Settings& settings) {
    // The colour handling last: a new one reads the picture again, keeping the rest.
    Settings rest = settings;
    rest.colour = model_.settings().colour;
    model_.Apply(rest);
    SetColourHandling(settings.colour);
}

bool frmMain::ShowLoadedPicture(PictureLoad& load) {
    try {
        DecodeResult& decoded = load.decoded();
        // The model owns the full-size pixels from here: the surface's image goes with them.
        Surface surface = std::move(*decoded.surface);
        Picture picture = AssemblePicture(surface, load.fit(), load.view());
        picture.file = load.path();
        picture.histogram = std::move(load.histogram());
        picture.levels = load.levels();
        picture.luma = model_.settings().luma;
        picture.colourSpace = decoded.colourSpace;
        picture.colourConverted = decoded.colourConverted;
        picture.outOfGamut = decoded.outOfGamut;
        picture.hdrToneMapped = decoded.hdrToneMapped;
        picture.raw = decoded.raw;
        picture.rawCounts = load.rawCounts();
        picture.signal = decoded.signal;
        picture.rawValues = load.colour() == ColourHandling::StoredValues;
        surface.release();
        model_.Load(std::move(picture));
        return true;
    } catch (const std::bad_alloc&) {
        model_.Drop();
        return false;
    }
}

void frmMain::ShowIdle() {
    view_->lblStatus->clear();
    unsetCursor();
    view_->picImg->setCursor(Qt::CrossCursor);
}

void frmMain::ShowBusy() {
    setCursor(Qt::WaitCursor);
    view_->picImg->setCursor(Qt::WaitCursor);
    view_->lblPosn->clear();
    view_->lblStatus->setText("Working...");
    view_->lblStatus->repaint();
}

void frmMain::FailLoad(DecodeError reason) {
    ClearPictures();
    LastLoadFailure = reason;
    // The reason on a line of its own, as a sentence.
    desktop().warningBox(this, "Could not load " + txtImageFile->text() + "\n" + FailureSentence(reason, txtImageFile->text()),
                         "Picture Load Error");
}

void frmMain::SetColourHandling(ColourHandling handling) {
    const ColourHandling before = model_.settings().colour;
    model_.Set(&Settings::colour, handling);
    // With no picture, the next load reads under the new choice.
    if (handling == before || !model_.loaded() || LoadRunning) return;
    switch (ReloadPicture()) {
        case ReloadOutcome::Shown:
        case ReloadOutcome::Dropped: return;
        case ReloadOutcome::Undecoded:
            view_->lblStatus->setText("Could not reload " + QFileInfo(model_.source().file).fileName());
            break;
        case ReloadOutcome::Cancelled: break;
    }
    // The picture shown is still the one read under the choice before.
    model_.Set(&Settings::colour, before);
}

}  // namespace vistrel
