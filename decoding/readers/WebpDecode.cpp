#include "decoding/readers/WebpDecode.h"

#include <algorithm>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

#include <webp/decode.h>
#include <webp/demux.h>

#include "decoding/readers/Orientation.h"
#include "decoding/PageBuffer.h"
#include "decoding/readers/RowOutput.h"

namespace vistrel {
namespace {

// The file is fed to the decoder in this many steps at least, each step's finished rows
// handed on before the next: enough bands for the analysis to overlap the decode, few
// enough that a step costs nothing against its decoding.
constexpr std::size_t kSteps = 64;
// No step smaller than this many bytes, whose decoding takes about as long as a step costs.
constexpr std::size_t kSmallestStep = std::size_t{4} * 1024;

// A full-size picture buffer of the worker's own whose pages are taken only as rows land
// and given back once they are handed on, a huge page at a time: the decoder needs a
// whole picture to write into, the worker never holds more than a few bands of it.
class PassingBuffer {
public:
    explicit PassingBuffer(std::size_t bytes) : buffer_(bytes) {}
    unsigned char* data() const { return buffer_.data(); }
    // The bytes before end are no longer needed: every whole huge page among them goes back.
    void Release(std::size_t end) {
        const std::size_t upTo = end / kHugePageBytes * kHugePageBytes;
        if (upTo > released_) {
            ::madvise(buffer_.data() + released_, upTo - released_, MADV_DONTNEED);
            released_ = upTo;
        }
    }

private:
    PageBuffer buffer_;
    std::size_t released_ = 0;
};

// Straight alpha over the background, as the shared conversion composites it.
void Composite(Pixel* row, std::size_t width, ColorValue background) {
    QImage band(reinterpret_cast<uchar*>(row), static_cast<int>(width), 1, QImage::Format_ARGB32);
    ToOpaqueRgb32(band, background);
}

struct Decoder {
    WebPIDecoder* decoder = nullptr;
    ~Decoder() {
        if (decoder != nullptr) WebPIDelete(decoder);
    }
};

}  // namespace

ReadResult DecodeWebp(const ReaderInput& input) {
    const unsigned char* const data = input.bytes.data();
    const std::size_t size = input.bytes.size();
    const ColorValue background = input.background;
    // Both give way to a holder of the rows when the picture is turned.
    RowReceiver* receiver = input.receiver;
    BandSink* sink = input.sink;

    // What Qt's reader learns from the file's first bytes alone: whether it is animated
    // and whether it keeps alpha, which no later chunk changes.
    WebPBitstreamFeatures file{};
    if (size < sizeof file || WebPGetFeatures(data, sizeof file, &file) != VP8_STATUS_OK || file.has_animation)
        return std::nullopt;
    // The picture's own chunks, as Qt's reader finds them.
    const WebPData whole{data, size};
    WebPDemuxer* const demuxer = WebPDemux(&whole);
    if (demuxer == nullptr) return std::nullopt;
    struct DemuxerEnd {
        WebPDemuxer* demuxer;
        WebPIterator frame{};
        ~DemuxerEnd() {
            WebPDemuxReleaseIterator(&frame);
            WebPDemuxDelete(demuxer);
        }
    } demux{demuxer};
    if (!WebPDemuxGetFrame(demuxer, 1, &demux.frame)) return std::nullopt;
    const unsigned char* const stream = demux.frame.fragment.bytes;
    const std::size_t streamSize = demux.frame.fragment.size;
    WebPBitstreamFeatures picture{};
    if (WebPGetFeatures(stream, streamSize, &picture) != VP8_STATUS_OK) return std::nullopt;
    const int width = demux.frame.width;
    const int height = demux.frame.height;
    if (width < 1 || width > kMaxPictureSide || height < 1 || height > kMaxPictureSide)
        return DecodeResult::Failed(DecodeError::TooLarge);
    // Alpha is composited when the header announces it, and otherwise left in the fourth byte as Qt leaves it.
    const bool alpha = file.has_alpha != 0;
    // A turned picture is decoded whole as stored, then turned and handed over.
    int orientation = 1;
    WebPChunkIterator exif{};
    if (WebPDemuxGetChunk(demuxer, "EXIF", 1, &exif)) orientation = ExifOrientation(exif.chunk.bytes, exif.chunk.size);
    WebPDemuxReleaseChunkIterator(&exif);
    HeldForTurning held(receiver);
    RowReceiver* const heard = receiver;
    if (orientation != 1) {
        receiver = &held;
        sink = nullptr;
    }

    RowOutput out(receiver, sink);
    const auto w = static_cast<std::size_t>(width);
    const std::size_t rowBytes = w * 4;
    std::optional<PassingBuffer> passing;
    unsigned char* target = nullptr;
    std::size_t stride = rowBytes;
    if (!out.Start(width, height, 1)) return DecodeResult::Failed(out.failure());
    if (sink == nullptr) {
        target = reinterpret_cast<unsigned char*>(out.Row(0));
        stride = out.stride();
    } else if ((target = sink->Destination(0, height)) == nullptr) {
        // The sink has no place of its own for the rows: a buffer of the reader's.
        passing.emplace(rowBytes * std::size_t(height));
        if (passing->data() == nullptr) return DecodeResult::Failed(DecodeError::OutOfMemory);
        target = passing->data();
    }

    // Declared before the decoder, which keeps using it.
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return DecodeResult::Failed(DecodeError::OutOfMemory);
    WebPDecBuffer& output = config.output;
    output.colorspace = MODE_BGRA;
    output.is_external_memory = 1;
    output.u.RGBA.rgba = target;
    output.u.RGBA.stride = static_cast<int>(stride);
    output.u.RGBA.size = stride * std::size_t(height);
    // The library filters and converts a row of blocks on a thread of its own while it
    // decodes the next (for pictures at least 512 wide): the same pixels, sooner.
    config.options.use_threads = 1;
    Decoder decoder;
    decoder.decoder = WebPIDecode(nullptr, 0, &config);
    if (decoder.decoder == nullptr) return DecodeResult::Failed(DecodeError::OutOfMemory);

    const std::size_t step = std::max(kSmallestStep, streamSize / kSteps);
    int done = 0;
    // Hands on rows done .. rows - 1, once the decoder has finished them.
    const auto handOn = [&](int rows) {
        if (rows <= done) return true;
        for (int y = done; y < rows; ++y) {
            auto* row = reinterpret_cast<Pixel*>(target + std::size_t(y) * stride);
            if (alpha) Composite(row, w, background);
        }
        bool wanted = false;
        if (sink != nullptr) {
            wanted = out.PutToSink(done, rows - done, target + std::size_t(done) * stride);
            if (passing) passing->Release(std::size_t(rows) * stride);
        } else {
            wanted = out.Finish(rows);
        }
        done = rows;
        return wanted;
    };
    for (std::size_t fed = 0; fed < streamSize;) {
        fed = std::min(streamSize, fed + step);
        const VP8StatusCode status = WebPIUpdate(decoder.decoder, stream, fed);
        if (status != VP8_STATUS_OK && status != VP8_STATUS_SUSPENDED)
            return DecodeResult::Failed(status == VP8_STATUS_OUT_OF_MEMORY ? DecodeError::OutOfMemory
                                                                           : DecodeError::Unreadable);
        if (status == VP8_STATUS_OK) break;
        if (fed == streamSize) return DecodeResult::Failed(DecodeError::Unreadable);  // the stream ends early
        int rows = 0;
        if (WebPIDecGetRGB(decoder.decoder, &rows, nullptr, nullptr, nullptr) != nullptr &&
            !handOn(std::min(rows, height)))
            return DecodeResult::Failed(DecodeError::Cancelled);
    }
    if (!handOn(height)) return DecodeResult::Failed(DecodeError::Cancelled);
    DecodeResult stored = out.Taken();
    if (orientation == 1) return stored;
    return DeliveredUpright(std::move(stored.surface->image()), orientation, heard);
}

}  // namespace vistrel
