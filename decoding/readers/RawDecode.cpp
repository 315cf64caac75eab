#include "decoding/readers/RawDecode.h"

#include <libraw/libraw.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "colour/SrgbCurve.h"
#include "decoding/readers/RowOutput.h"
#include "formats/FileHeaders.h"

namespace vistrel {
namespace {

// LibRaw's OpenMP team at most: each thread costs a stack, an allocator arena and a tile
// buffer of address space, and AHD gains little beyond a few.
constexpr int kRawThreads = 4;
// Every raw value a photosite can hold.
constexpr std::size_t kRawValues = 65536;

using LevelTable = std::array<std::uint8_t, kRawValues>;

// Linear light (0 .. 65535) to 8-bit sRGB, rounded once: LibRaw's own 8-bit output
// truncates its 16-bit curve instead, which makes it up to a level darker or brighter.
const LevelTable& SrgbFromLinear() {
    static const LevelTable table = [] {
        LevelTable t{};
        for (std::size_t v = 0; v < t.size(); ++v) {
            t[v] = static_cast<std::uint8_t>(std::nearbyint(255.0 * colour::SrgbEncode(double(v) / 65535.0)));
        }
        return t;
    }();
    return table;
}

// value * 255 / range to the nearest level, halves to even, in integers (no rounding of
// a product in floating point can make a half miss), clamped to 0 .. 255.
std::uint8_t StoredLevel(std::int64_t value, std::int64_t range) {
    if (value <= 0) return 0;
    if (value >= range) return 255;
    const std::int64_t scaled = value * 255;
    std::int64_t level = scaled / range;
    const std::int64_t twiceRest = 2 * (scaled % range);
    if (twiceRest > range || (twiceRest == range && (level & 1) != 0)) ++level;
    return static_cast<std::uint8_t>(level);
}

void SetOptions(libraw_output_params_t& p, ColourHandling colour) {
    p.user_qual = 3;  // AHD
    p.half_size = 0;
    p.four_color_rgb = 0;
    // Exposure stays as shot: the white level is the file's, not the brightest photosite's
    // (LibRaw takes that above 75 % of it by default, brightening the picture). LibRaw's
    // other brightening is in the curve of its own output, which is not used here.
    p.adjust_maximum_thr = 0.0f;
    p.no_auto_bright = 1;
    p.bright = 1.0f;
    p.highlight = 0;  // clipped
    p.med_passes = 0;
    p.use_auto_wb = 0;
    p.user_flip = -1;  // the camera's orientation
    p.user_black = -1;
    p.user_sat = -1;
    p.output_bps = 16;
    p.gamm[0] = 1.0;  // linear: the 8 bits are made here
    p.gamm[1] = 1.0;
    switch (colour) {
        case ColourHandling::ConvertToSrgb:
            p.use_camera_wb = 1;      // as shot
            p.use_camera_matrix = 1;  // the file's own matrix where it has one
            p.output_color = 1;       // sRGB
            break;
        case ColourHandling::StoredValues:
            p.use_camera_wb = 0;
            p.use_camera_matrix = 0;
            p.output_color = 0;  // the camera's own RGB
            for (float& m : p.user_mul) m = 1.0f;
            p.no_auto_scale = 1;  // raw units, black subtracted: scaled to 255 here, exactly
            break;
    }
}

DecodeError ErrorOf(int code) {
    switch (static_cast<LibRaw_errors>(code)) {
        case LIBRAW_FILE_UNSUPPORTED: return DecodeError::NotAPicture;
        case LIBRAW_UNSUFFICIENT_MEMORY:
        case LIBRAW_MEMPOOL_OVERFLOW: return DecodeError::OutOfMemory;
        case LIBRAW_TOO_BIG: return DecodeError::TooLarge;
        case LIBRAW_SUCCESS:
        case LIBRAW_UNSPECIFIED_ERROR:
        case LIBRAW_REQUEST_FOR_NONEXISTENT_IMAGE:
        case LIBRAW_OUT_OF_ORDER_CALL:
        case LIBRAW_NO_THUMBNAIL:
        case LIBRAW_UNSUPPORTED_THUMBNAIL:
        case LIBRAW_INPUT_CLOSED:
        case LIBRAW_NOT_IMPLEMENTED:
        case LIBRAW_DATA_ERROR:
        case LIBRAW_IO_ERROR:
        case LIBRAW_CANCELLED_BY_CALLBACK:
        case LIBRAW_BAD_CROP: return DecodeError::Unreadable;
    }
    return DecodeError::Unreadable;
}

// What LibRaw's callbacks report instead of writing on standard error: a read past the
// file's end or damaged data, and allocations that failed.
struct Complaints {
    int data = 0;
    int memory = 0;
};
void OnDataError(void* complaints, const char*, const int) { ++static_cast<Complaints*>(complaints)->data; }
void OnMemoryError(void* complaints, const char*, const char*) { ++static_cast<Complaints*>(complaints)->memory; }

// The make and model, in printable ASCII (a damaged file's bytes are not text).
QString CameraName(const LibRaw& raw) {
    const auto text = [](const char (&field)[64]) {
        return QByteArray(field, static_cast<qsizetype>(::strnlen(field, sizeof field))).trimmed();
    };
    QByteArray name = text(raw.imgdata.idata.make) + ' ' + text(raw.imgdata.idata.model);
    for (char& c : name)
        if (c < 0x20 || c > 0x7E) c = '?';
    name = name.trimmed();
    return name.isEmpty() ? QStringLiteral("Unknown camera") : QString::fromLatin1(name);
}

// 0 R, 1 G, 2 B: the colour of a photosite of the colour LibRaw numbers c.
int ChannelOf(const LibRaw& raw, int c) {
    switch (raw.imgdata.idata.cdesc[c]) {
        case 'R': return 0;
        case 'B': return 2;
        default: return 1;
    }
}

// A photosite's black level as LibRaw subtracts it, at (row, col) of the visible area:
// the common level, its colour's, and its place in the repeating pattern when there is one.
unsigned PhotositeBlack(LibRaw& raw, int row, int col, int colour) {
    const libraw_colordata_t& c = raw.imgdata.color;
    unsigned black = c.black + (colour < 4 ? c.cblack[colour] : 0);
    const unsigned rows = c.cblack[4], cols = c.cblack[5];
    if (rows > 0 && cols > 0 && rows * cols <= LIBRAW_CBLACK_SIZE - 6)
        black += c.cblack[6 + (unsigned(row) % rows) * cols + unsigned(col) % cols];
    return black;
}

// The black level of each of R, G and B: the mean of their photosites' over a repeat of
// the filter array (6 x 6 covers Bayer's and X-Trans'); a full-colour raw's per colour.
std::array<double, 3> ChannelBlacks(LibRaw& raw) {
    std::array<double, 3> sum{}, count{};
    if (raw.imgdata.idata.filters == 0) {
        for (int c = 0; c < 3; ++c) sum[std::size_t(c)] = PhotositeBlack(raw, 0, 0, c), count[std::size_t(c)] = 1;
    } else {
        constexpr int kRepeat = 6;
        for (int row = 0; row < kRepeat; ++row)
            for (int col = 0; col < kRepeat; ++col) {
                const int colour = raw.COLOR(row, col);
                if (colour < 0 || colour > 3) continue;
                const auto channel = static_cast<std::size_t>(ChannelOf(raw, colour));
                sum[channel] += PhotositeBlack(raw, row, col, colour);
                ++count[channel];
            }
    }
    for (std::size_t c = 0; c < 3; ++c) sum[c] = count[c] > 0 ? sum[c] / count[c] : 0;
    return sum;
}

// The levels of one colour's photosites from their histogram.
RawLevels LevelsOf(const std::vector<std::uint64_t>& histogram, std::uint32_t white) {
    RawLevels levels;
    std::uint64_t count = 0;
    for (const std::uint64_t n : histogram) count += n;
    if (count == 0) return levels;
    for (std::size_t v = histogram.size(); v-- > 0;)
        if (histogram[v] != 0) {
            levels.max = static_cast<std::uint32_t>(v);
            break;
        }
    const std::uint64_t need = (99 * count + 99) / 100;  // ceil(0.99 N)
    std::uint64_t below = 0;
    for (std::size_t v = 0; v < histogram.size(); ++v) {
        below += histogram[v];
        if (below >= need) {
            levels.p99 = static_cast<std::uint32_t>(v);
            break;
        }
    }
    for (std::size_t v = std::min<std::size_t>(white, histogram.size()); v < histogram.size(); ++v)
        levels.atWhite += histogram[v];
    return levels;
}

// The photosites' levels after unpacking, before anything is done to them, over the
// visible area; nothing for filter arrays that do not repeat every 2 x 2 photosites.
std::optional<RawPhotosites> Photosites(LibRaw& raw) {
    const libraw_data_t& d = raw.imgdata;
    const libraw_image_sizes_t& s = d.sizes;
    if (d.rawdata.raw_image == nullptr || d.idata.filters < 1000 || d.rawdata.ioparams.fuji_width != 0) return std::nullopt;
    if (std::size_t(s.top_margin) + s.height > s.raw_height || std::size_t(s.left_margin) + s.width > s.raw_width ||
        s.raw_pitch < 2 * std::size_t(s.raw_width))
        return std::nullopt;
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col)
            if (raw.COLOR(row, col) != raw.COLOR(row & 1, col & 1)) return std::nullopt;

    if (d.color.maximum == 0) return std::nullopt;
    RawPhotosites sites;
    sites.white = std::min<std::uint32_t>(d.color.maximum, kRawValues - 1);
    sites.bits = std::bit_width(sites.white);
    std::array<int, 4> channel{};  // of each position
    for (int i = 0; i < 4; ++i) {
        const int colour = raw.COLOR(i >> 1, i & 1);
        channel[std::size_t(i)] = ChannelOf(raw, colour);
        sites.cfa[std::size_t(i)] = "RGB"[channel[std::size_t(i)]];
        sites.black[std::size_t(i)] = std::min<std::uint32_t>(PhotositeBlack(raw, i >> 1, i & 1, colour), kRawValues - 1);
    }
    std::array<std::vector<std::uint64_t>, 3> histograms;
    for (auto& h : histograms) h.assign(kRawValues, 0);
    const std::size_t pitch = s.raw_pitch / 2;
    for (std::size_t row = 0; row < s.height; ++row) {
        const std::uint16_t* p = d.rawdata.raw_image + (row + s.top_margin) * pitch + s.left_margin;
        std::uint64_t* even = histograms[std::size_t(channel[(row & 1) * 2])].data();
        std::uint64_t* odd = histograms[std::size_t(channel[(row & 1) * 2 + 1])].data();
        std::size_t col = 0;
        for (; col + 1 < s.width; col += 2) {
            ++even[p[col]];
            ++odd[p[col + 1]];
        }
        if (col < s.width) ++even[p[col]];
    }
    for (std::size_t c = 0; c < 3; ++c) sites.levels[c] = LevelsOf(histograms[c], sites.white);
    return sites;
}

// Where the visible area's photosites start in LibRaw's raw buffer and how far apart its
// rows are, in values; nothing when the buffer does not hold that area as one value a
// photosite (a linear or a rotated Fuji sensor).
struct SensorRows {
    const std::uint16_t* first = nullptr;
    std::size_t pitch = 0;
};
std::optional<SensorRows> VisibleRows(const LibRaw& raw) {
    const libraw_data_t& d = raw.imgdata;
    const libraw_image_sizes_t& s = d.sizes;
    if (d.rawdata.raw_image == nullptr || d.rawdata.ioparams.fuji_width != 0 || s.width == 0 || s.height == 0)
        return std::nullopt;
    if (std::size_t(s.top_margin) + s.height > s.raw_height || std::size_t(s.left_margin) + s.width > s.raw_width ||
        s.raw_pitch < 2 * std::size_t(s.raw_width))
        return std::nullopt;
    const std::size_t pitch = s.raw_pitch / 2;
    return SensorRows{d.rawdata.raw_image + std::size_t(s.top_margin) * pitch + s.left_margin, pitch};
}

// The sensor's layout as the program is told it (RawSensor without its values): its
// filter array's classes and their black levels, the white level and the turn; nothing
// for a sensor without a filter array of R, G and B that repeats every 2 x 2 or (X-Trans)
// 6 x 6 photosites.
std::optional<RawSensor> SensorLayout(LibRaw& raw, std::uint32_t white, int bits) {
    const libraw_data_t& d = raw.imgdata;
    if (!VisibleRows(raw)) return std::nullopt;
    RawSensor sensor;
    sensor.width = static_cast<int>(d.sizes.width);
    sensor.height = static_cast<int>(d.sizes.height);
    sensor.white = white;
    sensor.bits = bits;
    if (d.idata.filters == 9) {
        sensor.repeat = 6;
    } else if (d.idata.filters >= 1000) {
        sensor.repeat = 2;
        for (int row = 0; row < 8; ++row)
            for (int col = 0; col < 8; ++col)
                if (raw.COLOR(row, col) != raw.COLOR(row & 1, col & 1)) return std::nullopt;
    } else {
        return std::nullopt;
    }
    const int repeat = sensor.repeat;
    std::array<int, kRawSites> places{};
    std::array<double, kRawSites> blacks{};
    for (int row = 0; row < repeat; ++row)
        for (int col = 0; col < repeat; ++col) {
            const int colour = raw.COLOR(row, col);
            if (colour < 0 || colour > 3) return std::nullopt;
            RawSite site = RawSite::G1;
            switch (ChannelOf(raw, colour)) {
                case 0: site = RawSite::R; break;
                case 2: site = RawSite::B; break;
                default:
                    // A 2 x 2 array's second green is a set of its own.
                    site = repeat == 2 && places[std::size_t(RawSite::G1)] > 0 ? RawSite::G2 : RawSite::G1;
                    break;
            }
            sensor.pattern[std::size_t(row * repeat + col)] = site;
            ++places[std::size_t(site)];
            blacks[std::size_t(site)] += PhotositeBlack(raw, row, col, colour);
        }
    const std::array<int, kRawSites> want = repeat == 2 ? std::array<int, kRawSites>{1, 1, 1, 1}
                                                        : std::array<int, kRawSites>{places[0], places[1], 0, places[3]};
    for (std::size_t i = 0; i < kRawSites; ++i) {
        if (places[i] != want[i] || (repeat == 6 && i != std::size_t(RawSite::G2) && places[i] == 0)) return std::nullopt;
        if (places[i] > 0)
            sensor.black[i] = static_cast<std::uint32_t>(
                std::min<double>(std::nearbyint(blacks[i] / places[i]), double(kRawValues - 1)));
    }
    return sensor;
}

// LibRaw's working image after processing, walked in the camera's orientation (as its
// own output would be turned): output row y starts at Start(y), its pixels `step` apart.
struct TurnedImage {
    const std::uint16_t (*image)[4] = nullptr;
    std::size_t width = 0, height = 0;  // turned
    std::size_t iwidth = 0, iheight = 0;
    int flip = 0;  // LibRaw's: 1 mirrored left to right, 2 top to bottom, 4 rows and columns swapped
    std::ptrdiff_t step = 1;

    std::size_t Index(std::size_t y, std::size_t x) const {
        std::size_t row = (flip & 4) != 0 ? x : y, col = (flip & 4) != 0 ? y : x;
        if ((flip & 2) != 0) row = iheight - 1 - row;
        if ((flip & 1) != 0) col = iwidth - 1 - col;
        return row * iwidth + col;
    }
    const std::uint16_t (*Start(std::size_t y) const)[4] { return image + Index(y, 0); }
};

// Nothing when processing left no three-colour image: a working image LibRaw could not
// allocate leaves an empty one behind and reports success.
std::optional<TurnedImage> ProcessedImage(const LibRaw& raw) {
    const libraw_data_t& d = raw.imgdata;
    if (d.image == nullptr || d.idata.colors != 3 || d.sizes.iwidth == 0 || d.sizes.iheight == 0 ||
        (d.progress_flags & LIBRAW_PROGRESS_CONVERT_RGB) == 0)
        return std::nullopt;
    TurnedImage turned;
    turned.image = d.image;
    turned.flip = d.sizes.flip;
    turned.iwidth = d.sizes.iwidth;
    turned.iheight = d.sizes.iheight;
    turned.width = (turned.flip & 4) != 0 ? turned.iheight : turned.iwidth;
    turned.height = (turned.flip & 4) != 0 ? turned.iwidth : turned.iheight;
    turned.step = turned.width > 1 ? std::ptrdiff_t(turned.Index(0, 1)) - std::ptrdiff_t(turned.Index(0, 0)) : 1;
    return turned;
}

void ToPixels(const TurnedImage& image, std::size_t y, const std::array<const std::uint8_t*, 3>& tables, Pixel* out) {
    const std::uint16_t(*p)[4] = image.Start(y);
    for (std::size_t x = 0; x < image.width; ++x, p += image.step)
        out[x] = 0xFF000000u | std::uint32_t{tables[0][(*p)[0]]} << 16 | std::uint32_t{tables[1][(*p)[1]]} << 8 |
                 tables[2][(*p)[2]];
}

struct PictureSize {
    int width = 0, height = 0;
};

// The developed picture's size before a photosite is unpacked, where LibRaw's processing
// keeps the file's own: a DNG of square photosites, not turned by 45 degrees. Told then,
// the program takes the picture's pages while LibRaw unpacks and develops, not after.
std::optional<PictureSize> SizeBeforeUnpacking(LibRaw& raw) {
    const libraw_data_t& d = raw.imgdata;
    if (d.idata.dng_version == 0 || d.sizes.pixel_aspect != 1.0 || raw.is_fuji_rotated() != 0 ||
        d.params.half_size != 0 || d.sizes.width == 0 || d.sizes.height == 0)
        return std::nullopt;
    const bool across = (d.sizes.flip & 4) != 0;
    return PictureSize{across ? d.sizes.height : d.sizes.width, across ? d.sizes.width : d.sizes.height};
}

// The developed picture's rows to the receiver or the sink (into its own place when it
// offers one), band by band, on this thread: the program analyses each band as the next
// is made, on the other core (an OpenMP team here would spin on it between bands). `out`
// was started already when `told` says so, at that size.
DecodeResult Deliver(const TurnedImage& image, const std::array<const std::uint8_t*, 3>& tables, RowOutput& out,
                     std::optional<PictureSize> told) {
    const int width = static_cast<int>(image.width), height = static_cast<int>(image.height);
    const int bandRows = BandRowsFor(width, height);
    if (told) {
        if (told->width != width || told->height != height) return DecodeResult::Failed(DecodeError::Unreadable);
    } else if (!out.Start(width, height, bandRows)) {
        return DecodeResult::Failed(out.failure());
    }
    for (int first = 0; first < height; first += bandRows) {
        const int count = std::min(bandRows, height - first);
        out.OpenBand(first, count);
        for (int i = 0; i < count; ++i) ToPixels(image, std::size_t(first + i), tables, out.Row(first + i));
        if (!out.Finish(first + count)) return DecodeResult::Failed(out.failure());
    }
    return out.Taken();
}

std::uint64_t Area(const headers::ClaimedSize& s) { return std::uint64_t(s.width) * std::uint64_t(s.height); }

}  // namespace

void PrepareRaw() {
    // With TZ set, the C library's time functions read no zone file.
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    omp_set_num_threads(std::min(kRawThreads, omp_get_max_threads()));
    // The team's threads start now and wait in libgomp's pool for LibRaw's regions.
#pragma omp parallel
    { (void)omp_get_thread_num(); }
    (void)SrgbFromLinear();
}

ReadResult DecodeRaw(const ReaderInput& input) {
    const auto& [bytes, background, colour, receiver, sink, photositeSink] = input;
    (void)background;  // raw pictures are opaque
    if (!headers::LooksLikeCameraRaw(bytes)) return std::nullopt;
    // A DNG whose photosites run past the file's end (LibRaw does not notice a missing last
    // byte), or whose filter pattern, depth or compressed photosites LibRaw would misread.
    const headers::RawWalk walk = headers::WalkRaw(bytes);
    if (walk.dataEnd > bytes.size() || walk.patternUnfit || walk.depthUnfit || walk.dataUnfit)
        return DecodeResult::Failed(DecodeError::Unreadable);

    Complaints complaints;
    // 750 KB of state: on the heap. Its own callbacks would write on standard error.
    const auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
    raw->set_dataerror_handler(OnDataError, &complaints);
    raw->set_memerror_handler(OnMemoryError, &complaints);
    SetOptions(raw->imgdata.params, colour);
    // LibRaw reads the buffer only; its interface takes it as writable.
    if (const int code = raw->open_buffer(const_cast<unsigned char*>(bytes.data()), bytes.size()); code != LIBRAW_SUCCESS)
        return DecodeResult::Failed(ErrorOf(code));

    // The sizes LibRaw read, checked before a photosite is unpacked: no side beyond what
    // the program takes, and no more photosites than our own walker found (the worker's
    // limits were measured from that).
    const libraw_image_sizes_t& sizes = raw->imgdata.sizes;
    if (sizes.raw_width == 0 || sizes.raw_height == 0 || sizes.width == 0 || sizes.height == 0)
        return DecodeResult::Failed(DecodeError::Unreadable);
    if (sizes.width > kMaxPictureSide || sizes.height > kMaxPictureSide) return DecodeResult::Failed(DecodeError::TooLarge);
    const std::uint64_t photosites = std::uint64_t{sizes.raw_width} * sizes.raw_height;
    if (walk.largest.known() && photosites > Area(walk.largest)) return DecodeResult::Failed(DecodeError::Unreadable);
    // LibRaw's raw buffer at most as large as those photosites need, four samples each.
    constexpr std::uint64_t kMostRawBytesPerPhotosite = 8;
    raw->imgdata.params.max_raw_memory_mb = static_cast<unsigned>((photosites * kMostRawBytesPerPhotosite >> 20) + 1);

    RowOutput out(receiver, sink);
    const std::optional<PictureSize> told = SizeBeforeUnpacking(*raw);
    if (told && !out.Start(told->width, told->height)) return DecodeResult::Failed(out.failure());

    if (const int code = raw->unpack(); code != LIBRAW_SUCCESS) return DecodeResult::Failed(ErrorOf(code));
    if (complaints.memory > 0) return DecodeResult::Failed(DecodeError::OutOfMemory);
    if (complaints.data > 0 || raw->error_count() > 0) return DecodeResult::Failed(DecodeError::Unreadable);

    RawPicture picture;
    picture.camera = CameraName(*raw);
    picture.photosites = Photosites(*raw);
    // A white level the photosites cannot reach is none: LibRaw puts a level of its own in
    // its place, which the file never gave, so nothing is counted against it.
    if (walk.whiteUnfit && picture.photosites) {
        RawPhotosites& sites = *picture.photosites;
        sites.white = 0;
        sites.bits = walk.bits;
        for (RawLevels& levels : sites.levels) levels.atWhite = 0;
    }
    // The sensor's layout as unpacked, for the program that asked for its photosites.
    std::optional<RawSensor> sensor;
    if (photositeSink != nullptr) {
        const std::uint32_t white = walk.whiteUnfit ? 0 : std::min<std::uint32_t>(raw->imgdata.color.maximum, kRawValues - 1);
        const int bits = walk.whiteUnfit ? walk.bits : std::bit_width(white);
        if (bits >= 1 && bits <= 16) sensor = SensorLayout(*raw, white, bits);
    }
    // The stored values' white: read now, since processing lowers LibRaw's by the smallest
    // black of all, which is another colour's when the colours' blacks differ.
    std::array<LevelTable, 3> stored{};
    if (colour == ColourHandling::StoredValues) {
        const std::array<double, 3> blacks = ChannelBlacks(*raw);
        for (std::size_t c = 0; c < 3; ++c) {
            const std::int64_t range =
                std::max<std::int64_t>(1, std::int64_t{raw->imgdata.color.maximum} - std::int64_t(std::nearbyint(blacks[c])));
            for (std::size_t v = 0; v < kRawValues; ++v) stored[c][v] = StoredLevel(std::int64_t(v), range);
        }
    }

    if (const int code = raw->dcraw_process(); code != LIBRAW_SUCCESS) return DecodeResult::Failed(ErrorOf(code));
    if (complaints.memory > 0) return DecodeResult::Failed(DecodeError::OutOfMemory);
    if (complaints.data > 0 || raw->error_count() > 0) return DecodeResult::Failed(DecodeError::Unreadable);
    const std::optional<TurnedImage> image = ProcessedImage(*raw);
    // A sensor of four colours (CMYG) keeps them in its stored values: no picture of ours.
    if (!image)
        return DecodeResult::Failed(raw->imgdata.image != nullptr && raw->imgdata.idata.colors != 3 ? DecodeError::NotAPicture
                                                                                                 : DecodeError::OutOfMemory);
    if (image->width > kMaxPictureSide || image->height > kMaxPictureSide) return DecodeResult::Failed(DecodeError::TooLarge);

    std::array<const std::uint8_t*, 3> tables{};
    switch (colour) {
        case ColourHandling::ConvertToSrgb: tables.fill(SrgbFromLinear().data()); break;
        case ColourHandling::StoredValues:
            for (std::size_t c = 0; c < 3; ++c) tables[c] = stored[c].data();
            break;
    }
    DecodeResult result = Deliver(*image, tables, out, told);
    if (!result) return result;
    if (sensor) {
        sensor->flip = raw->imgdata.sizes.flip;
        const std::optional<SensorRows> rows = VisibleRows(*raw);
        if (!rows || !photositeSink->TakePhotosites(*sensor, rows->first, rows->pitch))
            return DecodeResult::Failed(DecodeError::OutOfMemory);
    }
    result.raw = std::move(picture);
    return result;
}

}  // namespace vistrel
