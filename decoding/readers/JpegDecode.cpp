#include "decoding/readers/JpegDecode.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "decoding/readers/Orientation.h"
#include "decoding/readers/RowOutput.h"

namespace vistrel {
namespace {

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

// Everything the decode owns lives here, outside the frame libjpeg's error exit leaves.
struct DecodeState {
    explicit DecodeState(RowReceiver* r, BandSink* s) : receiver(r), sink(s), held(r) {}
    jpeg_decompress_struct info{};
    ErrorTrap trap{};
    std::vector<JSAMPROW> rowPointers;
    RowReceiver* receiver = nullptr;
    BandSink* sink = nullptr;
    HeldForTurning held;               // where a turned picture is decoded whole, as stored
    std::optional<RowOutput> out;      // made once the orientation is known
    bool declined = false;             // colours this path does not take
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
    // An upright picture streams to the sink or the receiver; a turned one is decoded
    // whole first.
    const bool upright = s.orientation == 1;
    RowOutput& out = s.out.emplace(upright ? s.receiver : &s.held, upright ? s.sink : nullptr);
    const int bandRows = BandRowsFor(width, height);
    if (!out.Start(width, height, bandRows)) return false;
    Q_ASSERT(out.stride() == std::size_t(width) * 4);
    while (info.output_scanline < info.output_height) {
        const JDIMENSION first = info.output_scanline;
        const JDIMENSION last = std::min<JDIMENSION>(info.output_height, first + JDIMENSION(bandRows));
        out.OpenBand(int(first), int(last - first));
        s.rowPointers.resize(last - first);
        for (JDIMENSION y = first; y < last; ++y)
            s.rowPointers[y - first] = reinterpret_cast<JSAMPROW>(out.Row(static_cast<int>(y)));
        while (info.output_scanline < last)
            jpeg_read_scanlines(&info, s.rowPointers.data() + (info.output_scanline - first),
                                last - info.output_scanline);
        if (inks)
            for (const JSAMPROW row : s.rowPointers) InvertInks(reinterpret_cast<std::uint32_t*>(row), std::size_t(width));
        if (!out.Finish(static_cast<int>(last))) return false;
    }
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

ReadResult DecodeJpeg(const ReaderInput& input) {
    const auto& [bytes, background, colour, receiver, sink, photosites] = input;
    const unsigned char* const data = bytes.data();
    const std::size_t size = bytes.size();

    DecodeState state(receiver, sink);
    const bool ok = RunDecoder(state, data, size);
    jpeg_destroy_decompress(&state.info);
    if (state.declined) return std::nullopt;
    // Before the rows' buffer is made every failure is the file's; after it, the output says.
    if (!ok) return DecodeResult::Failed(state.out ? state.out->failure() : DecodeError::Unreadable);
    if (state.orientation == 1) return state.out->Taken();
    return DeliveredUpright(std::move(state.out->Taken().surface->image()), state.orientation, receiver);
}

}  // namespace vistrel
