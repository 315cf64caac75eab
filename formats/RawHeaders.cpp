// Camera raw files: which bytes are one, and what size their structures claim.

#include <algorithm>
#include <cstring>
#include <optional>

#include "formats/ByteOrder.h"
#include "formats/FileHeaders.h"
#include "formats/IsoBoxes.h"
#include "formats/JpegSegments.h"
#include "formats/TiffDirectory.h"

namespace vistrel::headers {
namespace {

using bytes::StartsWith;

std::uint64_t Area(const ClaimedSize& s) { return std::uint64_t(s.width) * std::uint64_t(s.height); }

void KeepLarger(ClaimedSize& largest, ClaimedSize size) {
    if (size.width > 0 && size.height > 0 && (!largest.known() || Area(size) > Area(largest))) largest = size;
}

// Directories a walk visits at most, over the chain and every sub-directory: cameras
// write fewer than ten, and a loop of offsets ends here.
constexpr int kMaxDirectories = 64;

// Tags a raw file's directories hold.
enum Tag : std::uint32_t {
    kSensorWidth = 2,  // Panasonic's RW2 keeps its sides in these
    kSensorHeight = 3,
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kStripOffsets = 273,
    kStripByteCounts = 279,
    kTileOffsets = 324,
    kTileByteCounts = 325,
    kSampleFormat = 339,
    kSubDirectories = 330,
    kCfaRepeatPatternDim = 0x828D,
    kCfaPattern = 0x828E,
    kCfaPlaneColor = 0xC616,
    kDngVersion = 0xC612,
    kLinearizationTable = 0xC618,
    kWhiteLevel = 0xC61D,
    kFujiTable = 0xF000,  // a directory of Fuji's, holding the next two
    kFujiWidth = 0xF001,
    kFujiHeight = 0xF002,
};
constexpr std::uint32_t kColourFilterArray = 32803, kLinearRaw = 34892;
constexpr std::uint32_t kUnsignedSamples = 1, kFloatingSamples = 3;  // SampleFormat's
constexpr std::uint32_t kLosslessJpeg = 7;  // Compression's: each strip or tile a JPEG stream
constexpr std::uint32_t kShort = TiffDirectory::kShort, kLong = TiffDirectory::kLong, kDirectoryOffset = 13;

// A TIFF-structured raw file from `base` on (offsets count from there), in either byte
// order, whatever number its header has in the place of TIFF's 42 (Olympus and
// Panasonic write their own), so TiffDirectory is only its reader of numbers.
class TiffWalker {
public:
    explicit TiffWalker(Bytes bytes) : b_(bytes), numbers_(bytes) {}

    std::uint32_t U16(std::size_t at) const { return numbers_.U16(at); }
    std::uint32_t U32(std::size_t at) const { return numbers_.U32(at); }
    bool Holds(std::uint64_t at, std::uint64_t n) const { return at <= b_.size() && n <= b_.size() - at; }

    struct Found {
        bool raw = false;  // a directory of photosites, or a DNG
        bool dng = false;
        bool patternUnfit = false;  // a filter pattern that does not fit its own description
        bool depthUnfit = false;    // photosites of a depth no raw file stores
        bool whiteUnfit = false;    // a white level its photosites cannot reach, or 0
        bool dataUnfit = false;     // photosites said to be lossless JPEG whose pieces are none
        int bits = 0;               // the photosites' depth, as their directory gives it
        ClaimedSize largest;
        std::uint64_t dataEnd = 0;  // where the photosite directories' strips or tiles end
        bool dataEndKnown = true;
    };

    // The chain from the header's first directory, each directory's sub-directories
    // walked as they come. When cr2, the fourth directory of the chain holds the
    // photosites as a lossless JPEG, whose frame tells their size.
    Found Walk(bool cr2) {
        Found found;
        if (Holds(4, 4)) Chain(U32(4), found, cr2);
        return found;
    }

private:
    // The value of an entry as a number: a short or a long, or the first of several.
    std::uint32_t Value(std::size_t entry) const { return U16(entry + 2) == kShort ? U16(entry + 8) : U32(entry + 8); }

    // The values of an array of shorts or longs (or directory offsets, as longs), inline
    // or elsewhere; nothing when it lies outside the bytes.
    struct Array {
        std::size_t at = 0, count = 0, width = 4;
    };
    std::optional<Array> ArrayOf(std::size_t entry) const {
        const std::uint32_t type = U16(entry + 2);
        if (type != kShort && type != kLong && type != kDirectoryOffset) return std::nullopt;
        const std::size_t width = type == kShort ? 2 : 4;
        const std::uint64_t count = U32(entry + 4);
        const std::uint64_t bytes = count * width;
        const std::uint64_t at = bytes <= 4 ? entry + 8 : U32(entry + 8);
        if (!Holds(at, bytes)) return std::nullopt;
        return Array{static_cast<std::size_t>(at), static_cast<std::size_t>(count), width};
    }
    std::uint32_t Element(const Array& array, std::size_t i) const {
        return array.width == 2 ? U16(array.at + 2 * i) : U32(array.at + 4 * i);
    }

    // Where the pieces (strips or tiles) of a directory end, the furthest; nothing when
    // their arrays lie outside the bytes.
    std::optional<std::uint64_t> PiecesEnd(std::optional<std::size_t> offsets, std::optional<std::size_t> counts) const {
        if (!offsets || !counts) return std::uint64_t{0};
        const std::optional<Array> starts = ArrayOf(*offsets), lengths = ArrayOf(*counts);
        if (!starts || !lengths) return std::nullopt;
        std::uint64_t end = 0;
        for (std::size_t i = 0; i < std::min(starts->count, lengths->count); ++i)
            end = std::max(end, std::uint64_t{Element(*starts, i)} + Element(*lengths, i));
        return end;
    }

    // Whether every piece (strip or tile) with bytes in it starts as a JPEG stream does,
    // with its start-of-image marker.
    bool PiecesAreJpeg(std::optional<std::size_t> offsets, std::optional<std::size_t> counts) const {
        if (!offsets || !counts) return true;
        const std::optional<Array> starts = ArrayOf(*offsets), lengths = ArrayOf(*counts);
        if (!starts || !lengths) return false;
        for (std::size_t i = 0; i < std::min(starts->count, lengths->count); ++i) {
            const std::uint64_t start = Element(*starts, i);
            if (Element(*lengths, i) == 0) continue;
            if (!Holds(start, 2) || b_[start] != 0xFF || b_[start + 1] != 0xD8) return false;
        }
        return true;
    }

    void Chain(std::uint64_t directory, Found& found, bool cr2) {
        for (int index = 0; directory != 0 && budget_ > 0; ++index) {
            const std::optional<std::uint64_t> next = Directory(directory, found, cr2 && index == 3);
            if (!next) return;
            directory = *next;
        }
    }

    // One directory; the offset of the next in its chain, or nothing when it does not fit.
    std::optional<std::uint64_t> Directory(std::uint64_t at, Found& found, bool cr2Photosites) {
        --budget_;
        constexpr std::size_t kEntryBytes = 12;
        if (!Holds(at, 2)) return std::nullopt;
        const std::uint64_t count = U16(at);
        if (!Holds(at + 2, count * kEntryBytes + 4)) return std::nullopt;
        std::int64_t width = 0, height = 0;
        std::uint32_t photometric = 0, sampleFormat = kUnsignedSamples, compression = 0;
        std::optional<std::size_t> stripOffsets, stripCounts, tileOffsets, tileCounts, repeat, pattern, planes, depth,
            white;
        bool linearized = false;
        for (std::uint64_t i = 0; i < count; ++i) {
            const auto entry = static_cast<std::size_t>(at + 2 + i * kEntryBytes);
            switch (U16(entry)) {
                case kSensorWidth:
                case kImageWidth:
                case kFujiWidth: width = std::max<std::int64_t>(width, Value(entry)); break;
                case kSensorHeight:
                case kImageLength:
                case kFujiHeight: height = std::max<std::int64_t>(height, Value(entry)); break;
                case kPhotometric: photometric = Value(entry); break;
                case kCompression: compression = Value(entry); break;
                case kBitsPerSample: depth = entry; break;
                case kSampleFormat: sampleFormat = Value(entry); break;
                case kWhiteLevel: white = entry; break;
                case kLinearizationTable: linearized = true; break;
                case kStripOffsets: stripOffsets = entry; break;
                case kStripByteCounts: stripCounts = entry; break;
                case kTileOffsets: tileOffsets = entry; break;
                case kTileByteCounts: tileCounts = entry; break;
                case kDngVersion: found.dng = found.raw = true; break;
                case kCfaRepeatPatternDim: repeat = entry; break;
                case kCfaPattern: pattern = entry; break;
                case kCfaPlaneColor: planes = entry; break;
                case kSubDirectories:
                case kFujiTable:
                    if (const std::optional<Array> subs = ArrayOf(entry); subs && subs->width == 4)
                        for (std::size_t k = 0; k < subs->count && budget_ > 0; ++k) Chain(Element(*subs, k), found, false);
                    break;
                default: break;
            }
        }
        KeepLarger(found.largest, {width, height});
        if (photometric == kColourFilterArray && !PatternFits(repeat, pattern, planes)) found.patternUnfit = true;
        if (photometric == kColourFilterArray || photometric == kLinearRaw) {
            found.raw = true;
            const std::optional<std::uint64_t> strips = PiecesEnd(stripOffsets, stripCounts);
            const std::optional<std::uint64_t> tiles = PiecesEnd(tileOffsets, tileCounts);
            if (strips && tiles) found.dataEnd = std::max({found.dataEnd, *strips, *tiles});
            else found.dataEndKnown = false;
            CheckLevels(depth, sampleFormat, white, linearized, found);
            // LibRaw decodes any bytes as lossless JPEG, and makes up photosites from them.
            if (compression == kLosslessJpeg &&
                (!PiecesAreJpeg(stripOffsets, stripCounts) || !PiecesAreJpeg(tileOffsets, tileCounts)))
                found.dataUnfit = true;
        }
        if (cr2Photosites && stripOffsets) KeepLarger(found.largest, LosslessJpegSize(Value(*stripOffsets)));
        return U32(static_cast<std::size_t>(at + 2 + count * kEntryBytes));
    }

    // The photosites' depth, which every value of BitsPerSample gives alike: whole numbers
    // of 8 to 16 bits, or floating point of 16, 24 or 32 (DNG's own range; LibRaw reads
    // an impossible depth as another and makes up levels the file does not hold). Their
    // white level: none (the depth's largest value), or above 0 and within the depth in
    // every sample (of 16 bits when a table linearizes them, since it is the table's
    // values that white is read against).
    void CheckLevels(std::optional<std::size_t> depth, std::uint32_t sampleFormat, std::optional<std::size_t> white,
                     bool linearized, Found& found) const {
        const std::optional<Array> depths = depth ? ArrayOf(*depth) : std::nullopt;
        if (!depths || depths->count == 0) {
            found.depthUnfit = true;
            return;
        }
        const std::uint32_t bits = Element(*depths, 0);
        for (std::size_t i = 1; i < depths->count; ++i)
            if (Element(*depths, i) != bits) found.depthUnfit = true;
        const bool floating = sampleFormat == kFloatingSamples;
        if (floating ? bits != 16 && bits != 24 && bits != 32 : sampleFormat != kUnsignedSamples || bits < 8 || bits > 16)
            found.depthUnfit = true;
        if (found.depthUnfit) return;
        found.bits = std::max(found.bits, static_cast<int>(bits));
        if (!white || floating) return;
        const std::optional<Array> whites = ArrayOf(*white);
        if (!whites || whites->count == 0) {
            found.whiteUnfit = true;
            return;
        }
        constexpr std::uint32_t kLinearizedBits = 16;
        const std::uint32_t range = linearized ? kLinearizedBits : bits;
        for (std::size_t i = 0; i < whites->count; ++i)
            if (const std::uint32_t level = Element(*whites, i); level == 0 || (level >> range) != 0) found.whiteUnfit = true;
    }

    // A filter pattern as TIFF/EP and DNG describe it: as many colours as its repeat's
    // rows times columns, inside the file, each one of the planes' (three unless said).
    bool PatternFits(std::optional<std::size_t> repeat, std::optional<std::size_t> pattern,
                     std::optional<std::size_t> planes) const {
        if (!pattern) return true;
        constexpr std::uint32_t kByte = 1;
        const auto bytesOf = [this](std::size_t entry) -> std::optional<Array> {
            if (U16(entry + 2) != kByte) return std::nullopt;
            const std::uint64_t count = U32(entry + 4);
            const std::uint64_t at = count <= 4 ? entry + 8 : U32(entry + 8);
            if (!Holds(at, count)) return std::nullopt;
            return Array{static_cast<std::size_t>(at), static_cast<std::size_t>(count), 1};
        };
        const std::optional<Array> colours = bytesOf(*pattern);
        if (!colours) return false;
        std::size_t planeCount = 3;
        if (planes) {
            const std::optional<Array> named = bytesOf(*planes);
            if (!named) return false;
            planeCount = named->count;
        }
        if (repeat) {
            const std::optional<Array> sides = ArrayOf(*repeat);
            if (!sides || sides->count != 2 ||
                std::uint64_t{Element(*sides, 0)} * Element(*sides, 1) != colours->count)
                return false;
        }
        for (std::size_t i = 0; i < colours->count; ++i)
            if (b_[colours->at + i] >= planeCount) return false;
        return true;
    }

    // A lossless JPEG's frame: its height, and its width times its components, which is
    // how many photosites a row of a CR2 holds.
    ClaimedSize LosslessJpegSize(std::uint64_t at) const {
        ClaimedSize size;
        if (at >= b_.size()) return size;
        WalkJpegSegments(b_.subspan(static_cast<std::size_t>(at)), JpegScope::BeforeFirstScan,
                         [&size](unsigned char marker, Bytes payload) {
                             constexpr unsigned char kLosslessFrame = 0xC3;
                             if (marker != kLosslessFrame || payload.size() < 6) return true;
                             size = {bytes::Big16(payload.data() + 1),
                                     std::int64_t{bytes::Big16(payload.data() + 3)} * payload[5]};
                             return false;
                         });
        return size;
    }

    Bytes b_;
    TiffDirectory numbers_;
    int budget_ = kMaxDirectories;
};

enum class RawKind { None, Tiff, Cr2, Orf, Rw2, Raf, Cr3, Iiq, Crw, Mrw };

bool TiffOrder(Bytes file) { return StartsWith(file, 0, "II", 2) || StartsWith(file, 0, "MM", 2); }

// The kind a file's first bytes tell; a plain TIFF is only a candidate (Tiff) until its
// directories are seen.
RawKind KindOf(Bytes file) {
    if (StartsWith(file, 0, "FUJIFILMCCD-RAW ", 16)) return RawKind::Raf;
    if (StartsWith(file, 4, "ftypcrx ", 8)) return RawKind::Cr3;
    if (StartsWith(file, 0, "\0MRM", 4)) return RawKind::Mrw;
    if ((StartsWith(file, 0, "IIII", 4) || StartsWith(file, 0, "MMMM", 4)) && StartsWith(file, 5, "waR", 3))
        return RawKind::Iiq;
    if (!TiffOrder(file) || file.size() < 8) return RawKind::None;
    if (StartsWith(file, 6, "HEAPCCDR", 8)) return RawKind::Crw;
    if (StartsWith(file, 0, "IIRO", 4) || StartsWith(file, 0, "IIRS", 4) || StartsWith(file, 0, "MMOR", 4))
        return RawKind::Orf;
    if (StartsWith(file, 0, "IIU\0", 4)) return RawKind::Rw2;
    if (!(StartsWith(file, 0, "II*\0", 4) || StartsWith(file, 0, "MM\0*", 4))) return RawKind::None;
    return StartsWith(file, 8, "CR\2", 3) ? RawKind::Cr2 : RawKind::Tiff;
}

// Fuji's RAF: a header with big-endian offsets, then at one of them a table of records
// (the photosites' sides in record 0x100, the picture's in 0x121), and at another a
// TIFF-structured directory of its own.
ClaimedSize RafSize(Bytes file) {
    constexpr std::size_t kTableOffsetAt = 92, kDirectoryOffsetAt = 100;
    constexpr std::uint32_t kMaxRecords = 255;
    ClaimedSize largest;
    if (file.size() < kDirectoryOffsetAt + 4) return largest;
    std::uint64_t at = bytes::Big32(file.data() + kTableOffsetAt);
    if (at <= file.size() && file.size() - at >= 4 && bytes::Big32(file.data() + at) <= kMaxRecords) {
        std::uint32_t records = bytes::Big32(file.data() + at);
        for (at += 4; records-- > 0 && at <= file.size() && file.size() - at >= 4;) {
            const std::uint32_t tag = bytes::Big16(file.data() + at), length = bytes::Big16(file.data() + at + 2);
            at += 4;
            if ((tag == 0x100 || tag == 0x121) && length >= 4 && file.size() - at >= 4)
                KeepLarger(largest, {bytes::Big16(file.data() + at + 2), bytes::Big16(file.data() + at)});
            at += length;
        }
    }
    const std::uint64_t directory = bytes::Big32(file.data() + kDirectoryOffsetAt);
    if (directory < file.size()) KeepLarger(largest, TiffWalker(file.subspan(directory)).Walk(false).largest);
    return largest;
}

// Canon's CR3: ISO boxes, each track's sample descriptions in moov/trak/mdia/minf/stbl/stsd;
// the photosites' track is the largest of their CRAW entries.
ClaimedSize Cr3Size(Bytes file) {
    ClaimedSize largest;
    const auto inside = [file](const Box& box, const char* type, auto visit) {
        ForEachBox(file, box.payload, box.end, [&](const Box& child) {
            if (child.is(type)) visit(child);
        });
    };
    ForEachBox(file, 0, file.size(), [&](const Box& moov) {
        if (!moov.is("moov")) return;
        inside(moov, "trak", [&](const Box& trak) {
            inside(trak, "mdia", [&](const Box& mdia) {
                inside(mdia, "minf", [&](const Box& minf) {
                    inside(minf, "stbl", [&](const Box& stbl) {
                        inside(stbl, "stsd", [&](const Box& stsd) {
                            constexpr std::size_t kEntriesAt = 8;  // version, flags and the entries' count
                            if (stsd.end - stsd.payload < kEntriesAt) return;
                            ForEachBox(file, stsd.payload + kEntriesAt, stsd.end, [&](const Box& entry) {
                                // A visual sample entry's sides follow 24 bytes of its own.
                                constexpr std::size_t kSidesAt = 24;
                                if (!entry.is("CRAW") || entry.end - entry.payload < kSidesAt + 4) return;
                                const unsigned char* sides = file.data() + entry.payload + kSidesAt;
                                KeepLarger(largest, {bytes::Big16(sides), bytes::Big16(sides + 2)});
                            });
                        });
                    });
                });
            });
        });
    });
    return largest;
}

// Phase One's IIQ: a directory of 16-byte entries (tag, type, length, value), the
// photosites' sides in tags 0x108 and 0x109.
ClaimedSize IiqSize(Bytes file) {
    constexpr std::size_t kEntryBytes = 16;
    constexpr std::uint32_t kMaxEntries = 4096;
    const bool big = file[0] == 'M';
    const auto u32 = [&](std::uint64_t at) { return big ? bytes::Big32(file.data() + at) : bytes::Little32(file.data() + at); };
    if (file.size() < 12) return {};
    const std::uint64_t at = u32(8);
    if (at > file.size() || file.size() - at < 8) return {};
    const std::uint64_t entries = u32(at);
    if (entries > kMaxEntries || (file.size() - at - 8) / kEntryBytes < entries) return {};
    std::int64_t width = 0, height = 0;
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint64_t entry = at + 8 + i * kEntryBytes;
        const std::uint32_t tag = u32(entry), value = u32(entry + 12);
        if (tag == 0x108) width = value;
        if (tag == 0x109) height = value;
    }
    ClaimedSize size;
    KeepLarger(size, {width, height});
    return size;
}

}  // namespace

bool LooksLikeCameraRaw(Bytes file) {
    switch (KindOf(file)) {
        case RawKind::None: return false;
        case RawKind::Tiff: return TiffWalker(file).Walk(false).raw;
        case RawKind::Cr2:
        case RawKind::Orf:
        case RawKind::Rw2:
        case RawKind::Raf:
        case RawKind::Cr3:
        case RawKind::Iiq:
        case RawKind::Crw:
        case RawKind::Mrw: return true;
    }
    return false;
}

bool MayBeCameraRaw(Bytes file) { return KindOf(file) != RawKind::None; }

RawWalk WalkRaw(Bytes file) {
    RawWalk walk;
    switch (KindOf(file)) {
        case RawKind::None:
        case RawKind::Crw:  // sides in nested heaps, and no camera of either is over 16 megapixels
        case RawKind::Mrw: break;
        case RawKind::Tiff:
        case RawKind::Cr2:
        case RawKind::Orf:
        case RawKind::Rw2: {
            const TiffWalker::Found found = TiffWalker(file).Walk(KindOf(file) == RawKind::Cr2);
            if (!found.raw && KindOf(file) == RawKind::Tiff) break;  // a TIFF of another kind
            walk.largest = found.largest;
            if (found.dng && found.dataEndKnown) walk.dataEnd = found.dataEnd;
            walk.patternUnfit = found.dng && found.patternUnfit;
            walk.depthUnfit = found.dng && found.depthUnfit;
            walk.whiteUnfit = found.dng && found.whiteUnfit;
            walk.dataUnfit = found.dng && found.dataUnfit;
            walk.bits = found.dng ? found.bits : 0;
            break;
        }
        case RawKind::Raf: walk.largest = RafSize(file); break;
        case RawKind::Cr3: walk.largest = Cr3Size(file); break;
        case RawKind::Iiq: walk.largest = IiqSize(file); break;
    }
    return walk;
}

Claims RawClaims(Bytes file) {
    const ClaimedSize largest = WalkRaw(file).largest;
    return {largest, largest};
}

}  // namespace vistrel::headers
