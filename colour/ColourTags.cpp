#include "colour/ColourTags.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <zlib.h>

#include "formats/ByteOrder.h"
#include "formats/JpegSegments.h"
#include "formats/PngChunks.h"
#include "formats/TiffDirectory.h"

namespace vistrel::colourtags {
namespace {

using bytes::Big32;
using bytes::Little32;
using bytes::StartsWith;
using headers::JpegScope;
using headers::TiffDirectory;

// A JPEG's segments before its first scan, each told to `visit` (marker, payload).
template <typename Visit>
void BeforeFirstScan(Bytes file, Visit visit) {
    headers::WalkJpegSegments(file, JpegScope::BeforeFirstScan, [&](unsigned char marker, Bytes payload) {
        visit(marker, payload);
        return true;
    });
}

// A zlib stream inflated, up to kMaxProfileBytes; empty when it is damaged or longer.
std::vector<unsigned char> Inflate(Bytes compressed) {
    std::vector<unsigned char> out;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return out;
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(std::min<std::size_t>(compressed.size(), UINT32_MAX));
    constexpr std::size_t kStep = 64 * 1024;
    int status = Z_OK;
    while (status == Z_OK) {
        if (out.size() >= kMaxProfileBytes) {
            status = Z_MEM_ERROR;
            break;
        }
        const std::size_t had = out.size();
        out.resize(had + kStep);
        stream.next_out = out.data() + had;
        stream.avail_out = static_cast<uInt>(kStep);
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(had + (kStep - stream.avail_out));
        if (status == Z_BUF_ERROR && stream.avail_in == 0) break;  // the stream ends early
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END || out.size() > kMaxProfileBytes) out.clear();
    return out;
}

}  // namespace

std::vector<unsigned char> JpegIccProfile(Bytes file) {
    constexpr char kSignature[] = "ICC_PROFILE";  // with its terminating zero
    constexpr std::size_t kHead = sizeof kSignature + 2;  // then the part's number and the count
    std::array<Bytes, 256> parts{};
    std::size_t count = 0;
    bool broken = false;
    BeforeFirstScan(file, [&](unsigned char marker, Bytes payload) {
        if (marker != 0xE2 || !StartsWith(payload, 0, kSignature, sizeof kSignature) || payload.size() < kHead) return;
        const std::size_t number = payload[sizeof kSignature], total = payload[sizeof kSignature + 1];
        if (count == 0) count = total;
        if (total != count || number < 1 || number > total || !parts[number].empty() || payload.size() == kHead) {
            broken = true;
            return;
        }
        parts[number] = payload.subspan(kHead);
    });
    std::vector<unsigned char> profile;
    if (broken || count == 0) return profile;
    std::size_t bytes = 0;
    for (std::size_t i = 1; i <= count; ++i) {
        if (parts[i].empty()) return profile;
        bytes += parts[i].size();
    }
    if (bytes > kMaxProfileBytes) return profile;
    profile.reserve(bytes);
    for (std::size_t i = 1; i <= count; ++i) profile.insert(profile.end(), parts[i].begin(), parts[i].end());
    return profile;
}

SampleKind JpegSamples(Bytes file) {
    SampleKind samples = SampleKind::Unknown;
    BeforeFirstScan(file, [&](unsigned char marker, Bytes payload) {
        if (!headers::IsJpegFrameHeader(marker) || samples != SampleKind::Unknown || payload.size() < 6) return;
        switch (payload[5]) {  // after the precision, the height and the width
            case 1: samples = SampleKind::Grey; break;
            case 3: samples = SampleKind::Rgb; break;
            case 4: samples = SampleKind::Cmyk; break;
            default: break;
        }
    });
    return samples;
}

bool JpegExifAdobeRgb(Bytes file) {
    constexpr std::uint32_t kExifDirectoryTag = 0x8769, kColorSpaceTag = 0xA001, kInteropDirectoryTag = 0xA005;
    constexpr std::uint32_t kInteropIndexTag = 0x0001;
    constexpr std::uint32_t kColorSpaceSrgb = 1, kColorSpaceAdobe = 2;
    bool adobe = false, seen = false;
    BeforeFirstScan(file, [&](unsigned char marker, Bytes payload) {
        if (seen || marker != 0xE1 || !StartsWith(payload, 0, "Exif\0\0", 6)) return;
        seen = true;
        const TiffDirectory tiff(payload.subspan(6));
        if (!tiff.ok()) return;
        const std::optional<std::size_t> exif = tiff.Find(tiff.FirstDirectory(), kExifDirectoryTag);
        if (!exif) return;
        const std::size_t exifDirectory = tiff.U32(*exif + 8);
        std::uint32_t colourSpace = 0;
        if (const std::optional<std::size_t> at = tiff.Find(exifDirectory, kColorSpaceTag)) colourSpace = tiff.U16(*at + 8);
        bool r03 = false;
        if (const std::optional<std::size_t> interop = tiff.Find(exifDirectory, kInteropDirectoryTag))
            if (const std::optional<std::size_t> index = tiff.Find(tiff.U32(*interop + 8), kInteropIndexTag))
                r03 = std::memcmp(tiff.data() + *index + 8, "R03", 3) == 0;  // four ASCII bytes fit in the entry
        adobe = colourSpace == kColorSpaceAdobe || (r03 && colourSpace != kColorSpaceSrgb);
    });
    return adobe;
}

FileColour PngColour(Bytes file) {
    FileColour colour;
    if (!StartsWith(file, 0, "\x89PNG\r\n\x1a\n", 8)) return colour;
    // IHDR first: its colour type, after the width, height and depth.
    constexpr std::size_t kColourType = 8 + 8 + 9;
    if (file.size() > kColourType && std::memcmp(file.data() + 12, "IHDR", 4) == 0) {
        const unsigned char type = file[kColourType];
        colour.samples = type == 0 || type == 4 ? SampleKind::Grey : type == 2 || type == 3 || type == 6 ? SampleKind::Rgb
                                                                                                         : SampleKind::Unknown;
    }
    // The colour chunks stand before the pixels.
    headers::WalkPngChunks(file, [&](const headers::PngChunk& chunk) {
        const Bytes data = chunk.data;
        const std::size_t length = data.size();
        if (chunk.is("IDAT")) return false;
        if (chunk.is("iCCP") && colour.profile.empty()) {
            // A name of 1 to 79 bytes, its zero, the compression method (0: zlib), the stream.
            const void* end = std::memchr(data.data(), 0, std::min<std::size_t>(length, 80));
            if (end == nullptr) return true;
            const auto nameBytes = static_cast<std::size_t>(static_cast<const unsigned char*>(end) - data.data());
            if (nameBytes == 0 || length < nameBytes + 2 || data[nameBytes + 1] != 0) return true;
            colour.profile = Inflate(data.subspan(nameBytes + 2));
        } else if (chunk.is("sRGB") && length == 1) {
            colour.srgb = true;
        } else if (chunk.is("gAMA") && length == 4) {
            colour.gamma = Big32(data.data());
        } else if (chunk.is("cHRM") && length == 32) {
            const unsigned char* p = data.data();
            colour.chromaticities = Chromaticities{Big32(p),      Big32(p + 4),  Big32(p + 8),  Big32(p + 12),
                                                   Big32(p + 16), Big32(p + 20), Big32(p + 24), Big32(p + 28)};
        } else if (chunk.is("cICP") && length == 4) {
            colour.cicp = Cicp{data[0], data[1], data[2], data[3]};
        }
        return true;
    });
    return colour;
}

std::vector<unsigned char> TiffIccProfile(Bytes file) {
    constexpr std::uint32_t kIccTag = 34675, kByte = 1, kUndefined = 7;
    const TiffDirectory tiff(file);
    if (!tiff.ok()) return {};
    const std::optional<std::size_t> entry = tiff.Find(tiff.FirstDirectory(), kIccTag);
    if (!entry) return {};
    const std::uint32_t type = tiff.U16(*entry + 2);
    const std::size_t count = tiff.U32(*entry + 4);
    if ((type != kByte && type != kUndefined) || count <= 4 || count > kMaxProfileBytes) return {};
    const std::size_t offset = tiff.U32(*entry + 8);
    if (offset > tiff.size() || tiff.size() - offset < count) return {};
    return {tiff.data() + offset, tiff.data() + offset + count};
}

SampleKind TiffSamples(Bytes file) {
    constexpr std::uint32_t kPhotometricTag = 262, kSamplesTag = 277, kInkSetTag = 332, kExtraSamplesTag = 338;
    constexpr std::uint32_t kShort = 3, kLong = 4;
    constexpr std::uint32_t kInkSetCmyk = 1;
    const TiffDirectory tiff(file);
    if (!tiff.ok()) return SampleKind::Unknown;
    const std::size_t directory = tiff.FirstDirectory();
    // A tag's single value, or its count (ExtraSamples'), or `absent`.
    const auto value = [&](std::uint32_t tag, std::uint32_t absent, bool count = false) -> std::uint32_t {
        const std::optional<std::size_t> at = tiff.Find(directory, tag);
        if (!at) return absent;
        if (count) return tiff.U32(*at + 4);
        const std::uint32_t type = tiff.U16(*at + 2);
        return type == kShort ? tiff.U16(*at + 8) : type == kLong ? tiff.U32(*at + 8) : absent;
    };
    constexpr std::uint32_t kAbsent = 0xFFFFFFFF;
    switch (value(kPhotometricTag, kAbsent)) {
        case 0: case 1: return SampleKind::Grey;        // white or black at zero
        case 2: case 3: case 6: return SampleKind::Rgb;  // RGB, a palette, YCbCr
        case 5: {                                        // separated: inks
            const std::uint32_t inks = value(kSamplesTag, 1) - std::min(value(kSamplesTag, 1), value(kExtraSamplesTag, 0, true));
            return value(kInkSetTag, kInkSetCmyk) == kInkSetCmyk && inks == 4 ? SampleKind::Cmyk : SampleKind::Unknown;
        }
        default: return SampleKind::Unknown;
    }
}

std::vector<unsigned char> WebpIccProfile(Bytes file) {
    if (!StartsWith(file, 0, "RIFF", 4) || !StartsWith(file, 8, "WEBP", 4)) return {};
    std::size_t pos = 12;
    while (file.size() - pos >= 8) {
        const unsigned char* head = file.data() + pos;
        const std::size_t length = Little32(head + 4);
        if (length > file.size() - pos - 8) return {};
        if (std::memcmp(head, "ICCP", 4) == 0) {
            if (length > kMaxProfileBytes) return {};
            return {head + 8, head + 8 + length};
        }
        // Only the chunks before the picture's may hold it.
        if (std::memcmp(head, "VP8 ", 4) == 0 || std::memcmp(head, "VP8L", 4) == 0 || std::memcmp(head, "ANMF", 4) == 0)
            return {};
        pos += 8 + length + (length & 1);  // chunks are padded to an even length
        if (pos > file.size()) return {};
    }
    return {};
}

FileColour ReadFileColour(Bytes file) {
    FileColour colour;
    if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8) {
        colour.profile = JpegIccProfile(file);
        colour.exifAdobeRgb = colour.profile.empty() && JpegExifAdobeRgb(file);
        colour.samples = JpegSamples(file);
    } else if (StartsWith(file, 0, "\x89PNG", 4)) {
        colour = PngColour(file);
    } else if (StartsWith(file, 0, "II*\0", 4) || StartsWith(file, 0, "MM\0*", 4)) {
        colour.profile = TiffIccProfile(file);
        colour.samples = TiffSamples(file);
    } else if (StartsWith(file, 0, "RIFF", 4)) {
        colour.profile = WebpIccProfile(file);
        colour.samples = SampleKind::Rgb;
    }
    return colour;
}

}  // namespace vistrel::colourtags
