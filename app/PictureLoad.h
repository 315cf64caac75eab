#pragma once
// One picture load off the GUI thread: a decoder thread fills the full-size picture
// band by band; an analysis thread follows it, band by band, with the luma bytes, the
// (U, V) histogram, the level counts and the fitted view. The GUI thread only starts it, reads its
// progress, may cancel it and, once it is over, takes the results.

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "kernels/analysis.h"
#include "decoding/Decode.h"
#include "decoding/RowReceiver.h"
#include "decoding/worker/WorkerClient.h"
#include "model/Picture.h"
#include "model/RawCounts.h"
#include "model/Settings.h"

namespace vistrel {

// Why a load failed, in plain words ("not found", "damaged or cut short"), to follow
// "Could not load FILE". The path tells a folder from other files that are not regular.
QString FailureReason(DecodeError error, const QString& path);
// The same as a sentence, as the window's message gives it on a line of its own
// ("Damaged or cut short.").
QString FailureSentence(DecodeError error, const QString& path);

// The status line while a load runs: "Working... 42 %" once rows are counted, else "Working...".
QString ProgressText(int percent);

class PictureLoad final : public RowReceiver {
public:
    // outerHeight, border, maxOuterWidth and ratio: the view box's and its screen's device
    // pixels to the logical pixel, for the fitted copy (FitView);
    // settings: the luma standard (the weights of luma and the colour differences) and the
    // colour handling (what becomes of a picture whose file means colours other than sRGB's).
    PictureLoad(QString path, ColorValue background, int outerHeight, int border, const Settings& settings = {},
                int maxOuterWidth = kAnyViewWidth, double ratio = 1);
    ~PictureLoad() override;
    PictureLoad(const PictureLoad&) = delete;
    PictureLoad& operator=(const PictureLoad&) = delete;

    // Starts the decoder thread; finished runs on it once everything is over.
    void Start(std::function<void()> finished);
    // Asks both threads to stop at their next band.
    void Cancel() { cancel_.store(true); }
    // Rows analysed as a percentage of the picture's height; -1 until the height is known.
    int Percent() const;

    const QString& path() const { return path_; }
    // After `finished`: the decoded picture (luma in its fourth bytes) or the failure,
    // and the analysis.
    DecodeResult& decoded() { return decoded_; }
    // What the decoder was asked for: colours converted to sRGB, or the stored values.
    ColourHandling colour() const { return colour_; }
    const ViewFit& fit() const { return fit_; }
    const std::vector<Pixel>& view() const { return view_; }
    korvex::UvHistogram& histogram() { return analysis_->histogram(); }
    const korvex::LevelCounts& levels() const { return analysis_->levels(); }
    // A camera raw's photosites counted whole, when they came; nothing otherwise.
    const std::shared_ptr<const RawCounts>& rawCounts() const { return rawCounts_; }

private:
    bool PictureStarted(Surface& picture) override;
    bool RowsReady(int rows) override;
    void PictureDropped() override;
    void Decode();
    void Analyse();

    const QString path_;
    const ColorValue background_;
    const int outerHeight_;
    const int border_;
    const int maxOuterWidth_;
    const double ratio_;
    const korvex::LumaStandard standard_;
    const ColourHandling colour_;
    // Declared first of the state, so that it goes last: the next worker starts once the
    // whole load is over, analysis and all.
    const WorkerStartHold hold_;
    std::function<void()> finished_;

    std::atomic<bool> cancel_{false};
    std::atomic<int> height_{-1};
    std::atomic<int> analysed_{0};
    bool analysisFailed_ = false;  // written by the analysis thread, read after it is joined

    std::mutex mutex_;
    std::condition_variable wake_;
    int rowsReady_ = 0;        // guarded by mutex_
    bool decodeOver_ = false;  // guarded by mutex_
    bool dropped_ = false;     // guarded by mutex_: the picture is gone, the analysis stops

    ViewFit fit_;
    std::vector<Pixel> view_;
    std::unique_ptr<korvex::BandAnalysis> analysis_;
    DecodeResult decoded_;
    std::shared_ptr<const RawCounts> rawCounts_;
    std::thread decoder_;
    std::thread analyser_;
};

}  // namespace vistrel
