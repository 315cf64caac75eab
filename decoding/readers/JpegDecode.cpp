#include "decoding/readers/JpegDecode.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "decoding/readers/Orientation.h"

namespace vistrel {
namespace {

// Rows decoded between two reports to the receiver: at least this many pixels, so that
// a report costs next to nothing against the band's decoding.
constexpr std::size_t kBandPixels = std::size_t{256} * 1024;

struct ErrorTrap {
    jpeg_error_mgr manager;  // first, so that libjpeg's pointer to it is a pointer to the trap
    std::jmp_buf exit;
};

[[noreturn]] void LeaveOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorTrap*>(info->err)->exit, 1);
}

// Warnings (level -1) tell of corrupt data that libjpeg would paper over with grey:
// they end the decode. Bytes between segments are the one harmless kind, common in
// files from cameras. Trace messages (levels 1 and up) are ignored.
void WarningsAreFailures(j_common_ptr info, int level) {
    if (level >= 0) return;
    if (info->err->msg_code == JWRN_EXTRANEOUS_DATA) return;
    LeaveOnError(info);
}

// EXIF's APP1 marker.
constexpr int kExifMarker = JPEG_APP0 + 1;

struct DecodeState {
    jpeg_decompress_struct info{};
    ErrorTrap trap{};
    QImage stored;                     // the picture as stored, before any turn
    std::vector<JSAMPROW> rowPointers;
    RowReceiver* receiver = nullptr;
    BandSink* sink = nullptr;
    Surface* streamed = nullptr;       // the receiver's picture while it streams
    bool started = false;              // the receiver has been told of the buffer
    bool cancelled = false;
    bool declined = false;             // colours this path does not take
    bool noMemory = false;
    int orientation = 1;
};

// CMYK JPEGs store their inks inverted (255 no ink), as Adobe's programs write them and
// as browsers and Qt read every CMYK JPEG, whether its Adobe marker is there or not
// (libjpeg writes one with every CMYK file it makes): turned into inks (0 no ink).
void InvertInks(std::uint32_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) pixels[i] = ~pixels[i];
}

// Everything libjpeg does happens here, so that its error exit lands in a frame that owns
// no objects of its own. False on any error; the state says which.
bool RunDecoder(DecodeState& s, const unsigned char* data, std::size_t size) {
    jpeg_decompress_struct& info = s.info;
    info.err = jpeg_std_error(&s.trap.manager);
    s.trap.manager.error_exit = LeaveOnError;
    s.trap.manager.emit_message = WarningsAreFailures;
    if (setjmp(s.trap.exit) != 0) return false;

    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&info, kExifMarker, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    // Inks go to a receiver whose conversion takes them (the picture's own CMYK profile's);
    // for the rest Qt's reader composes them, as it always did.
    const bool inks = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    if (inks && !(s.sink != nullptr ? s.sink->TakeInks() : s.receiver != nullptr && s.receiver->TakeInks())) {
        s.declined = true;
        return false;
    }
    if (!(info.image_width >= 1 && info.image_width <= kMaxPictureSide && info.image_height >= 1 &&
          info.image_height <= kMaxPictureSide))
        return false;
    for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next)
        if (m->marker == kExifMarker) {
            s.orientation = ExifOrientation(m->data, m->data_length);
            break;
        }

    info.out_color_space = inks ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    const int width = static_cast<int>(info.output_width);
    const int height = static_cast<int>(info.output_height);
    const std::size_t bandRows = std::max<std::size_t>(1, kBandPixels / static_cast<std::size_t>(width));
    // An upright picture streams: through a band buffer to the sink when there is one,
    // else into the surface the receiver reads. A turned one is decoded whole first.
    const bool toSink = s.orientation == 1 && s.sink != nullptr;
    const bool streaming = s.orientation == 1 && s.receiver != nullptr && !toSink;
    const int storedRows = toSink ? static_cast<int>(std::min<std::size_t>(bandRows, std::size_t(height))) : height;
    s.stored = QImage(width, storedRows, QImage::Format_RGB32);
    if (s.stored.isNull() || (toSink && !s.sink->Start(width, height))) {
        s.noMemory = true;
        return false;
    }
    if (streaming) {
        s.streamed->image() = std::move(s.stored);
        s.started = true;
        if (!s.receiver->PictureStarted(*s.streamed)) {
            s.cancelled = true;
            return false;
        }
    }
    QImage& target = streaming ? s.streamed->image() : s.stored;
    Q_ASSERT(static_cast<std::size_t>(target.bytesPerLine()) == std::size_t(width) * 4);
    while (info.output_scanline < info.output_height) {
        const JDIMENSION first = info.output_scanline;
        const JDIMENSION last = static_cast<JDIMENSION>(
            std::min<std::size_t>(info.output_height, std::size_t{first} + bandRows));
        const JDIMENSION targetFirst = toSink ? 0 : first;
        // The sink's own place for the band, when it has one, or the band buffer.
        uchar* const destination = toSink ? s.sink->Destination(int(first), int(last - first)) : nullptr;
        const std::size_t rowBytes = std::size_t(width) * 4;
        s.rowPointers.resize(last - first);
        for (JDIMENSION y = first; y < last; ++y)
            s.rowPointers[y - first] = destination != nullptr ? destination + (y - first) * rowBytes
                                                              : target.scanLine(static_cast<int>(targetFirst + y - first));
        while (info.output_scanline < last)
            jpeg_read_scanlines(&info, s.rowPointers.data() + (info.output_scanline - first),
                                last - info.output_scanline);
        if (inks)
            for (const JSAMPROW row : s.rowPointers) InvertInks(reinterpret_cast<std::uint32_t*>(row), std::size_t(width));
        const uchar* const band = destination != nullptr ? destination : target.constBits();
        const bool wanted = toSink      ? s.sink->Put(static_cast<int>(first), static_cast<int>(last - first), band)
                            : streaming ? s.receiver->RowsReady(static_cast<int>(last))
                                        : true;
        if (!wanted) {
            s.cancelled = true;
            return false;
        }
    }
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

ReadResult DecodeJpeg(const ReaderInput& input) {
    const auto& [bytes, background, colour, receiver, sink] = input;
    const unsigned char* const data = bytes.data();
    const std::size_t size = bytes.size();

    Surface streamed;
    DecodeState state;
    state.receiver = receiver;
    state.sink = sink;
    state.streamed = &streamed;
    const bool ok = RunDecoder(state, data, size);
    jpeg_destroy_decompress(&state.info);
    if (state.declined) return std::nullopt;

    DecodeResult result;
    if (!ok) {
        if (state.started) receiver->PictureDropped();
        result.error = state.cancelled ? DecodeError::Cancelled
                       : state.noMemory ? DecodeError::OutOfMemory
                                        : DecodeError::Unreadable;
        return result;
    }
    if (state.orientation == 1 && sink != nullptr) {
        result.surface.emplace();
        return result;
    }
    if (state.orientation == 1 && receiver != nullptr) {
        result.surface.emplace(std::move(streamed));
        return result;
    }
    return DeliveredUpright(std::move(state.stored), state.orientation, receiver);
}

}  // namespace vistrel
