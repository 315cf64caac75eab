#include "app/PictureLoad.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <new>

#include "decoding/worker/WorkerClient.h"
#include "platform/Numbers.h"

namespace vistrel {

namespace {
// Rows analysed before the analysis looks up again for a cancel: a few hundred
// milliseconds of work even on the widest pictures.
constexpr std::size_t kStepRows = 2048;
}  // namespace

QString FailureReason(DecodeError error, const QString& path) {
    switch (error) {
        case DecodeError::EmptyName: return QStringLiteral("no file named");
        case DecodeError::NotFound: return QStringLiteral("not found");
        case DecodeError::NotARegularFile:
            return QFileInfo(path).isDir() ? QStringLiteral("a folder") : QStringLiteral("not a regular file");
        case DecodeError::NotAPicture: return QStringLiteral("not a picture format Vistrel reads");
        case DecodeError::Unreadable:
            // A file that cannot even be opened is no damaged picture.
            if (QFileInfo(path).isFile() && !QFileInfo(path).isReadable()) return QStringLiteral("not readable");
            return QStringLiteral("damaged or cut short");
        case DecodeError::TooLarge: return QStringLiteral("larger than %1 pixels a side").arg(kMaxPictureSide);
        case DecodeError::TooManyPixelsForItsFile: return QStringLiteral("claims more pixels than its file could hold");
        case DecodeError::OutOfMemory: return QStringLiteral("not enough memory");
        case DecodeError::WorkerStopped: return QStringLiteral("the decoder stopped");
        case DecodeError::Cancelled: return QStringLiteral("cancelled");
    }
    return QStringLiteral("damaged or cut short");
}

QString FailureSentence(DecodeError error, const QString& path) {
    QString why = FailureReason(error, path);
    why[0] = why[0].toUpper();
    return why + u'.';
}

QString ProgressText(int percent) {
    if (percent < 0) return QStringLiteral("Working...");
    return QStringLiteral("Working... %1 %").arg(std::clamp(percent, 0, 100));
}

PictureLoad::PictureLoad(QString path, ColorValue background, int outerHeight, int border, const Settings& settings,
                         int maxOuterWidth, double ratio)
    : path_(std::move(path)),
      background_(background),
      outerHeight_(outerHeight),
      border_(border),
      maxOuterWidth_(maxOuterWidth),
      ratio_(ratio),
      standard_(settings.luma),
      colour_(settings.colour) {}

PictureLoad::~PictureLoad() {
    Cancel();
    if (decoder_.joinable()) decoder_.join();
}

void PictureLoad::Start(std::function<void()> finished) {
    finished_ = std::move(finished);
    decoder_ = std::thread([this] { Decode(); });
}

int PictureLoad::Percent() const {
    const int height = height_.load();
    if (height <= 0) return -1;
    return static_cast<int>(std::int64_t{analysed_.load()} * 100 / height);
}

void PictureLoad::Decode() {
    DecodeWorkerOptions options;
    options.cancelled = [this] { return cancel_.load(); };
    // A camera raw's photosites come too: the raw histogram, the sensor's clipping and a
    // region's raw numbers are counted from them.
    options.photosites = true;
    decoded_ = DecodeInWorker(path_, background_, this, options, colour_);
    // The picture refused without a cancel: there was no memory for its analysis.
    if (!decoded_ && decoded_.error == DecodeError::Cancelled && !cancel_.load()) decoded_.error = DecodeError::OutOfMemory;
    {
        const std::lock_guard lock(mutex_);
        decodeOver_ = true;
    }
    wake_.notify_one();
    // The photosites are counted while the analysis finishes its last bands.
    if (decoded_ && decoded_.raw && decoded_.raw->sensor) {
        try {
            rawCounts_ = std::make_shared<const RawCounts>(CountRaw(decoded_.raw->sensor, decoded_.surface->width(),
                                                                    decoded_.surface->height(), std::nullopt));
        } catch (const std::bad_alloc&) {
            decoded_.raw->sensor.reset();
        }
    }
    if (analyser_.joinable()) analyser_.join();
    if (decoded_ && (analysisFailed_ || analysis_ == nullptr || !analysis_->finished())) {
        decoded_.surface.reset();
        decoded_.error = DecodeError::OutOfMemory;
    }
    if (finished_) finished_();
}

bool PictureLoad::PictureStarted(Surface& picture) {
    if (cancel_.load()) return false;
    try {
        fit_ = FitView(picture.width(), picture.height(), outerHeight_, border_, maxOuterWidth_, ratio_);
        view_.assign(static_cast<std::size_t>(fit_.width) * static_cast<std::size_t>(fit_.height), 0u);
        QImage& image = picture.image();
        analysis_ = std::make_unique<korvex::BandAnalysis>(
            reinterpret_cast<Pixel*>(image.bits()), static_cast<std::size_t>(image.width()),
            static_cast<std::size_t>(image.height()), static_cast<std::size_t>(image.bytesPerLine() / 4), view_.data(),
            static_cast<std::size_t>(fit_.width), static_cast<std::size_t>(fit_.height), standard_);
        analyser_ = std::thread([this] { Analyse(); });
    } catch (const std::exception&) {
        // Out of memory or of threads: the load fails as a whole.
        analysis_.reset();
        return false;
    }
    height_.store(picture.height());
    return true;
}

bool PictureLoad::RowsReady(int rows) {
    {
        const std::lock_guard lock(mutex_);
        rowsReady_ = rows;
    }
    wake_.notify_one();
    return !cancel_.load();
}

void PictureLoad::PictureDropped() {
    {
        const std::lock_guard lock(mutex_);
        dropped_ = true;
    }
    wake_.notify_one();
    if (analyser_.joinable()) analyser_.join();
}

void PictureLoad::Analyse() {
    const std::size_t height = analysis_->height();
    try {
        while (!analysis_->finished() && !cancel_.load()) {
            std::size_t target = 0;
            bool decoderIdle = false;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] {
                    return static_cast<std::size_t>(rowsReady_) > analysis_->rowsDone() || decodeOver_ || dropped_;
                });
                if (dropped_) break;
                target = static_cast<std::size_t>(rowsReady_);
                decoderIdle = decodeOver_ || target >= height;
            }
            if (target <= analysis_->rowsDone()) break;  // the decode ended short of the picture
            // A long backlog goes in steps, so that a cancel or a dropped picture is heard soon.
            target = std::min(target, analysis_->rowsDone() + kStepRows);
            // While the decoder works, the analysis keeps to its own core; once every row is
            // in, the rest is split over all of them.
            analysis_->AnalyseTo(target, decoderIdle);
            analysed_.store(static_cast<int>(analysis_->rowsDone()));
        }
    } catch (const std::exception&) {
        analysisFailed_ = true;
        Cancel();
    }
}

}  // namespace vistrel
