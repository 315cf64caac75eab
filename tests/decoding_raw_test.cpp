// The camera raw reader, on DNGs the tests write (tests/dng_pictures.h): stored values
// exactly the sensor's levels scaled to the white level; converted pictures LibRaw's own
// development rounded once, in every filter array and orientation; the photosites' levels
// exactly those of counting them; cut, damaged and oversized files refused cleanly.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <libraw/libraw.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "colour/ColourConvert.h"
#include "dng_pictures.h"
#include "hostile_corpus.h"
#include "libraw_own.h"
#include "support.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "formats/FileHeaders.h"
#include "model/RawCounts.h"

// Printed as the numbers they are.
namespace vistrel {
void PrintTo(const RawLevels& l, std::ostream* out) {
    *out << "{max " << l.max << ", p99 " << l.p99 << ", at white " << l.atWhite << "}";
}
}  // namespace vistrel

using namespace vistrel;
using dng_pictures::Cfa;
using dng_pictures::Description;

namespace {

constexpr ColorValue kBackground = 0x00336699;

QString Write(const QTemporaryDir& dir, const QString& name, const Description& dng, const std::vector<std::uint16_t>& sites) {
    const QString path = dir.filePath(name);
    const std::string error = dng_pictures::WriteDng(path.toStdString(), dng, sites);
    EXPECT_TRUE(error.empty()) << error;
    return path;
}

QString WriteBytes(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return file.fileName();
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

std::uint32_t Channel(QRgb pixel, int c) { return c == 0 ? qRed(pixel) : c == 1 ? qGreen(pixel) : qBlue(pixel); }

// LibRaw's own development of the file, turned as the camera was held.
struct Developed {
    int width = 0, height = 0;
    std::vector<std::uint16_t> rgb;
};
Developed LibRawsOwn(const QString& path, int bits) {
    const auto raw = std::make_unique<LibRaw>();
    libraw_own::AskReadersSettings(raw->imgdata.params, bits);
    Developed developed;
    int code = raw->open_file(path.toLocal8Bit().constData());
    if (code == LIBRAW_SUCCESS) code = raw->unpack();
    if (code == LIBRAW_SUCCESS) code = raw->dcraw_process();
    EXPECT_EQ(code, LIBRAW_SUCCESS);
    libraw_processed_image_t* image = raw->dcraw_make_mem_image(&code);
    if (image == nullptr) {
        ADD_FAILURE() << "no image from LibRaw";
        return developed;
    }
    developed.width = image->width;
    developed.height = image->height;
    const std::size_t samples = std::size_t(image->width) * image->height * 3;
    developed.rgb.resize(samples);
    for (std::size_t i = 0; i < samples; ++i)
        developed.rgb[i] = bits == 8 ? image->data[i] : reinterpret_cast<const std::uint16_t*>(image->data)[i];
    LibRaw::dcraw_clear_mem(image);
    return developed;
}

// sRGB's curve, from its definition.
double SrgbEncoded(double linear) {
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

// The photosites' levels as the reader reports them are those of counting the written ones.
void ExpectLevelsCounted(const DecodeResult& result, const Description& dng, const std::vector<std::uint16_t>& sites) {
    ASSERT_TRUE(result) << int(result.error);
    ASSERT_TRUE(result.raw && result.raw->photosites);
    const RawPhotosites& got = *result.raw->photosites;
    const std::array<dng_pictures::CountedLevels, 3> counted = dng_pictures::CountLevels(dng, sites);
    EXPECT_EQ(std::string(got.cfa.data(), 4), dng_pictures::CfaName(dng.cfa));
    EXPECT_EQ(got.white, dng.white);
    EXPECT_EQ(got.bits, std::bit_width(dng.white));
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(got.black[i], dng.singleBlackLevel ? dng.black[0] : dng.black[i]);
    for (std::size_t c = 0; c < 3; ++c)
        EXPECT_EQ(got.levels[c], (RawLevels{counted[c].max, counted[c].p99, counted[c].atWhite})) << "colour " << c;
}

// Counts of raw values, one a value, as the histograms hold them.
std::vector<std::uint32_t> HistogramOf(const std::vector<std::uint16_t>& values) {
    std::vector<std::uint32_t> histogram(korvex::kPhotositeValues, 0);
    for (const std::uint16_t v : values) ++histogram[v];
    return histogram;
}

// The levels of sorted values, read the slow way.
RawChannelLevels SortedLevels(const std::vector<std::uint16_t>& sorted, std::uint32_t white) {
    RawChannelLevels levels;
    levels.count = sorted.size();
    if (sorted.empty()) return levels;
    levels.max = sorted.back();
    levels.p50 = sorted[(sorted.size() + 1) / 2 - 1];
    levels.p99 = sorted[(99 * sorted.size() + 99) / 100 - 1];
    levels.atWhite = std::uint64_t(sorted.end() - std::lower_bound(sorted.begin(), sorted.end(), white));
    return levels;
}

// The sensor's photosites as the reader hands them over are those written, each place of
// the filter array a class of its own (the first green G1), with its black level; and
// their counts, whole and under a region of the upright picture turned back onto the
// sensor, are those of counting the written photosites under it.
void ExpectSensorCounted(const std::shared_ptr<RawSensor>& sensor, const Description& dng,
                         const std::vector<std::uint16_t>& sites, int pictureWidth, int pictureHeight) {
    ASSERT_TRUE(sensor);
    ASSERT_EQ(sensor->width, int(dng.width));
    ASSERT_EQ(sensor->height, int(dng.height));
    ASSERT_EQ(sensor->repeat, 2);
    EXPECT_EQ(sensor->white, dng.white);
    EXPECT_EQ(sensor->bits, std::bit_width(dng.white));
    EXPECT_TRUE(std::equal(sensor->values.begin(), sensor->values.end(), sites.begin(), sites.end()))
        << "the photosites handed over are not those written";
    const std::array<int, 4> colours = dng_pictures::CfaColours(dng.cfa);
    bool greenSeen = false;
    std::array<RawSite, 4> places{};
    for (std::size_t i = 0; i < 4; ++i) {
        const RawSite want = colours[i] == 0 ? RawSite::R : colours[i] == 2 ? RawSite::B : greenSeen ? RawSite::G2 : RawSite::G1;
        greenSeen = greenSeen || colours[i] == 1;
        places[i] = sensor->SiteAt(i >> 1, i & 1);
        EXPECT_EQ(places[i], want) << "place " << i;
        EXPECT_EQ(sensor->black[std::size_t(places[i])], dng.singleBlackLevel ? dng.black[0] : dng.black[i]) << "place " << i;
    }
    const std::shared_ptr<const RawSensor> shared = sensor;
    const dng_pictures::UprightRect region{std::uint32_t(pictureWidth) / 5 + 1, std::uint32_t(pictureHeight) / 3,
                                           std::uint32_t(pictureWidth) / 2 + 1, std::uint32_t(pictureHeight) / 3 + 2};
    for (const bool whole : {true, false}) {
        SCOPED_TRACE(whole ? "whole" : "region");
        const std::optional<korvex::PixelRect> rect =
            whole ? std::nullopt : std::optional(korvex::PixelRect{region.x, region.y, region.width, region.height});
        const RawCounts counts = CountRaw(shared, pictureWidth, pictureHeight, rect);
        const std::array<std::vector<std::uint16_t>, 4> under = dng_pictures::SitesUnder(dng, sites, whole ? nullptr : &region);
        for (std::size_t i = 0; i < 4; ++i) {
            const std::vector<std::uint32_t>& got = counts.histograms[std::size_t(places[i])];
            EXPECT_TRUE(got == HistogramOf(under[i])) << "place " << i;
            EXPECT_EQ(LevelsOf(got, dng.white), SortedLevels(under[i], dng.white)) << "place " << i;
        }
        // Both greens together are G, as the decoder's own levels count it.
        std::vector<std::uint16_t> greens;
        for (std::size_t i = 0; i < 4; ++i)
            if (colours[i] == 1) greens.insert(greens.end(), under[i].begin(), under[i].end());
        std::sort(greens.begin(), greens.end());
        EXPECT_EQ(LevelsOf(counts.Histogram(RawChannel::G), dng.white), SortedLevels(greens, dng.white));
    }
}

TEST(RawReader, ConvertedIsLibRawsOwnDevelopmentRoundedOnceAndThePhotositesAreCountedInEveryLayout) {
    QTemporaryDir dir;
    int files = 0;
    std::uint64_t samples = 0, offByOne = 0;
    for (const Cfa cfa : dng_pictures::kEveryCfa) {
        for (std::uint16_t orientation = 1; orientation <= 8; ++orientation) {
            Description dng;
            dng.width = 97;  // odd sides: the last column and row of the filter array are half
            dng.height = 61;
            dng.cfa = cfa;
            dng.orientation = orientation;
            dng.black = {510, 512, 512, 516};
            dng.asShotNeutral = {0.45f + 0.05f * orientation, 1.0f, 0.9f - 0.04f * orientation};
            // The layouts converters and cameras write, and a time stamp (which LibRaw
            // reads through the C library's time functions).
            dng.withPreview = orientation % 4 == 1;
            // A preview tagged Adobe RGB says nothing of the photosites' colours.
            if (orientation == 5) dng.previewProfile = colour::StandardProfile(colour::StandardSpace::AdobeRgb);
            dng.directoryFirst = orientation % 4 == 2;
            dng.singleBlackLevel = orientation % 4 == 3;
            // White levels of 14- and 12-bit cameras, and one below the top of 14 bits.
            dng.white = orientation == 3 ? 15000 : orientation == 6 ? 4095 : 16383;
            dng.bigEndian = orientation % 3 == 0;
            if (orientation == 4) dng.dateTime = "2024:05:06 07:08:09";
            SCOPED_TRACE(std::string(dng_pictures::CfaName(cfa)) + " orientation " + std::to_string(orientation));
            // Every other scene dark, where LibRaw would brighten unless told not to.
            std::vector<std::uint16_t> sites = dng_pictures::Scene(dng, orientation);
            if (orientation % 2 == 0)
                for (std::uint16_t& site : sites) site = std::uint16_t(516 + std::max(0, site - 516) / 8);
            const QString path = Write(dir, QString("c%1.dng").arg(files++), dng, sites);

            PhotositeCopy copy;
            const DecodeResult ours =
                DecodePictureBytes(ReadPictureFile(path), kBackground, nullptr, nullptr, ColourHandling::ConvertToSrgb, &copy);
            ASSERT_TRUE(ours) << int(ours.error);
            ASSERT_TRUE(ours.raw);
            EXPECT_EQ(ours.raw->camera, "Vistrel Test Camera");
            EXPECT_TRUE(ours.colourSpace.isEmpty());
            EXPECT_FALSE(ours.colourConverted);
            // The photosites' levels, counted before demosaicing.
            ExpectLevelsCounted(ours, dng, sites);
            const Developed own8 = LibRawsOwn(path, 8), own16 = LibRawsOwn(path, 16);
            const QImage& image = ours.surface->image();
            const bool turned = orientation >= 5;
            ASSERT_EQ(image.width(), int(turned ? dng.height : dng.width));
            ASSERT_EQ(image.height(), int(turned ? dng.width : dng.height));
            ExpectSensorCounted(copy.sensor, dng, sites, image.width(), image.height());
            ASSERT_EQ(own8.width, image.width());
            ASSERT_EQ(own8.height, image.height());
            ASSERT_EQ(own16.rgb.size(), own8.rgb.size());
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    for (int c = 0; c < 3; ++c) {
                        const std::size_t at = (std::size_t(y) * image.width() + x) * 3 + c;
                        const auto got = static_cast<int>(Channel(image.pixel(x, y), c));
                        // Our curve, rounded once, on LibRaw's linear development...
                        const int want = static_cast<int>(std::nearbyint(255 * SrgbEncoded(own16.rgb[at] / 65535.0)));
                        ASSERT_EQ(got, want) << x << "," << y << " channel " << c;
                        // ... which is within a level of LibRaw's own 8 bits, that truncate.
                        ASSERT_LE(std::abs(got - int(own8.rgb[at])), 1) << x << "," << y << " channel " << c;
                        offByOne += got != int(own8.rgb[at]);
                        ++samples;
                    }
        }
    }
    // The two curves do differ: the comparison is not of one picture with itself.
    EXPECT_GT(offByOne, samples / 50);
}

// Flat patches of photosites at chosen levels above each position's black: the stored
// values read (raw - black) * 255 / (white - black), to the nearest, halves to even,
// black at 0 and white (or above) at 255; below black is 0. The blacks stand where LibRaw
// keeps them: one for all, one a place in the filter array's repeat, or (a linear DNG)
// one a colour.
TEST(RawReader, StoredValuesAreTheSensorsLevelsScaledExactlyToTheWhiteLevel) {
    constexpr int kPatch = 24, kMargin = 6;  // AHD reproduces a flat patch beyond its window
    constexpr int kColumns = 8, kRows = 6;
    QTemporaryDir dir;
    std::mt19937 random(7);
    int files = 0;
    std::uint64_t checked = 0, halves = 0;
    enum class Blacks { APlace, One, AColour };
    for (const Cfa cfa : dng_pictures::kEveryCfa) {
        for (const Blacks blacks : {Blacks::APlace, Blacks::One, Blacks::AColour}) {
            if (blacks == Blacks::AColour && cfa != Cfa::Rggb) continue;  // no filter array: once
            const bool single = blacks == Blacks::One, linear = blacks == Blacks::AColour;
            Description dng;
            dng.width = kColumns * kPatch;
            dng.height = kRows * kPatch;
            dng.cfa = cfa;
            dng.singleBlackLevel = single;
            dng.linear = linear;
            // Greens alike, as cameras write them; white 255 * 62 above the single black, so
            // that every level 62k + 31 is an exact half.
            dng.black = single ? std::array<std::uint16_t, 4>{510, 510, 510, 510} : std::array<std::uint16_t, 4>{};
            const std::array<int, 4> colours = dng_pictures::CfaColours(cfa);
            const std::array<int, 3> perColour = {508, 512, 516};
            if (linear)
                for (std::size_t c = 0; c < 3; ++c) dng.black[c] = std::uint16_t(perColour[c]);
            else if (!single)
                for (std::size_t i = 0; i < 4; ++i) dng.black[i] = std::uint16_t(perColour[std::size_t(colours[i])]);
            dng.white = 510 + 255 * 62;
            std::array<int, 3> range{};
            for (int c = 0; c < 3; ++c) range[std::size_t(c)] = int(dng.white) - (single ? 510 : perColour[std::size_t(c)]);

            // Each patch's level above black, per colour: black, white, above white, below
            // black, exact halves, and levels anywhere.
            std::vector<std::array<int, 3>> levels(kColumns * kRows);
            for (std::size_t p = 0; p < levels.size(); ++p)
                for (std::size_t c = 0; c < 3; ++c) {
                    const int r = range[c];
                    const int k = int(random() % 255);
                    switch (p % 6) {
                        case 0: levels[p][c] = p == 0 ? 0 : p == 6 ? r : 62 * k + 31; break;
                        case 1: levels[p][c] = p == 1 ? r + 300 : p == 7 ? -200 : 62 * k; break;
                        default: levels[p][c] = int(random() % std::uint32_t(r + 1)); break;
                    }
                }
            const std::size_t samples = linear ? 3 : 1;
            std::vector<std::uint16_t> sites(std::size_t(dng.width) * dng.height * samples);
            for (std::uint32_t y = 0; y < dng.height; ++y)
                for (std::uint32_t x = 0; x < dng.width; ++x) {
                    const std::size_t position = ((y & 1) << 1) | (x & 1);
                    const std::size_t p = (y / kPatch) * kColumns + x / kPatch;
                    for (std::size_t s = 0; s < samples; ++s) {
                        const std::size_t c = linear ? s : std::size_t(colours[position]);
                        const int value = (linear ? perColour[c] : dng.black[position]) + levels[p][c];
                        sites[(std::size_t(y) * dng.width + x) * samples + s] = std::uint16_t(std::clamp(value, 0, 65535));
                    }
                }
            SCOPED_TRACE(linear ? std::string("linear, a black a colour")
                                : std::string(dng_pictures::CfaName(cfa)) + (single ? " one black" : " a black a place"));
            const QString path = Write(dir, QString("s%1.dng").arg(files++), dng, sites);
            const DecodeResult result = DecodePicture(path, kBackground, nullptr, ColourHandling::StoredValues);
            ASSERT_TRUE(result) << int(result.error);
            ASSERT_TRUE(result.raw);
            const QImage& image = result.surface->image();
            ASSERT_EQ(image.size(), QSize(int(dng.width), int(dng.height)));
            for (std::size_t p = 0; p < levels.size(); ++p) {
                const int left = int(p % kColumns) * kPatch, top = int(p / kColumns) * kPatch;
                for (std::size_t c = 0; c < 3; ++c) {
                    const int level = levels[p][c], r = range[c];
                    const int want = level <= 0 ? 0 : level >= r ? 255 : int(std::nearbyint(double(level) * 255 / r));
                    halves += level > 0 && level < r && (level * 255) % r * 2 == r;
                    for (int y = top + kMargin; y < top + kPatch - kMargin; ++y)
                        for (int x = left + kMargin; x < left + kPatch - kMargin; ++x, ++checked)
                            ASSERT_EQ(int(Channel(image.pixel(x, y), int(c))), want)
                                << "patch " << p << " colour " << c << " level " << level << " of " << r << " at " << x << "," << y;
                }
            }
        }
    }
    EXPECT_GT(checked, 100000u);
    EXPECT_GT(halves, 20u);
}


// A little-endian DNG with one entry of its first directory changed: the first `bytes`
// of its value (held in the entry) set to `value`, in the file's byte order.
QByteArray Patched(QByteArray file, std::uint16_t tag, std::uint32_t value, int bytes) {
    const auto word = [&](qsizetype at, int size) {
        std::uint32_t v = 0;
        for (int i = size; i-- > 0;) v = v << 8 | static_cast<unsigned char>(file[at + i]);
        return v;
    };
    const qsizetype directory = word(4, 4);
    for (std::uint32_t i = 0; i < word(directory, 2); ++i) {
        const qsizetype entry = directory + 2 + 12 * qsizetype(i);
        if (word(entry, 2) != tag) continue;
        for (int b = 0; b < bytes; ++b) file[entry + 8 + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
        return file;
    }
    ADD_FAILURE() << "no tag " << tag;
    return file;
}

// DNGs with one entry changed the way a damaged or crafted file has it: each either fails
// with a reason, or loads with the numbers of its photosites as that entry makes them
// mean (its white level, its filter array, its turn, 8-bit photosites), exactly those of
// counting them the slow way; never with numbers the file does not hold. (Photosites said
// to be lossless JPEG loaded, before the walker looked at their strips, with photosites
// LibRaw made up from the bytes.)
TEST(RawReader, MutatedFilesThatLoadReportTheNumbersTheirPhotositesMean) {
    QTemporaryDir dir;
    Description dng;
    dng.width = 64;
    dng.height = 48;
    dng.directoryFirst = true;  // the photosites' directory first
    dng.singleBlackLevel = true;
    std::vector<std::uint16_t> sites = dng_pictures::Scene(dng, 5);
    // Some photosites far above the 14-bit white level, as a 16-bit field allows.
    for (std::size_t i = 0; i < sites.size(); i += 37) sites[i] = std::uint16_t(20000 + i);
    const QByteArray bytes = dng_pictures::DngBytes(dng, sites);
    ASSERT_FALSE(bytes.isEmpty());
    constexpr std::uint16_t kBitsPerSample = 258, kCompression = 259, kOrientation = 274, kSamplesPerPixel = 277,
                            kCfaPattern = 0x828E, kWhiteLevel = 0xC61D;
    enum class Outcome { Fails, Counted, AllGreen, EightBits };
    struct Mutation {
        const char* what;
        std::uint16_t tag;
        std::uint32_t value;
        int bytes;
        Description means;  // what the photosites mean then, when they are Counted
        Outcome outcome;
    };
    const auto with = [&](auto change) {
        Description d = dng;
        change(d);
        return d;
    };
    using enum Outcome;
    const Mutation mutations[] = {
        {"white level of 12 bits", kWhiteLevel, 4095, 4, with([](Description& d) { d.white = 4095; }), Counted},
        {"white level of 16 bits", kWhiteLevel, 65535, 4, with([](Description& d) { d.white = 65535; }), Counted},
        {"white level one above 14 bits", kWhiteLevel, 16384, 4, with([](Description& d) { d.white = 16384; }), Counted},
        {"filter array BGGR", kCfaPattern, 0x00010102, 4, with([](Description& d) { d.cfa = Cfa::Bggr; }), Counted},
        {"filter array GBRG", kCfaPattern, 0x01000201, 4, with([](Description& d) { d.cfa = Cfa::Gbrg; }), Counted},
        {"turned 180 degrees", kOrientation, 3, 2, with([](Description& d) { d.orientation = 3; }), Counted},
        {"turned 270 degrees", kOrientation, 8, 2, with([](Description& d) { d.orientation = 8; }), Counted},
        {"a filter array of one colour", kCfaPattern, 0x01010101, 4, dng, AllGreen},
        {"8 bits a photosite on 16", kBitsPerSample, 8, 2, dng, EightBits},
        {"a filter array of a fourth colour", kCfaPattern, 0x03010100, 4, dng, Fails},
        {"7 bits a photosite", kBitsPerSample, 7, 2, dng, Fails},
        {"17 bits a photosite", kBitsPerSample, 17, 2, dng, Fails},
        {"two samples a photosite", kSamplesPerPixel, 2, 2, dng, Fails},
        {"lossless JPEG, yet not", kCompression, 7, 2, dng, Fails},
    };
    // Every photosite written, in one sorted list.
    std::vector<std::uint16_t> all = sites;
    std::sort(all.begin(), all.end());
    for (const Mutation& m : mutations) {
        SCOPED_TRACE(m.what);
        const QString path = WriteBytes(dir, "mutated.dng", Patched(bytes, m.tag, m.value, m.bytes));
        PhotositeCopy copy;
        const DecodeResult result =
            DecodePictureBytes(ReadPictureFile(path), kBackground, nullptr, nullptr, ColourHandling::ConvertToSrgb, &copy);
        switch (m.outcome) {
            case Fails:
                EXPECT_FALSE(result);
                EXPECT_FALSE(copy.sensor);
                break;
            case Counted: {
                ASSERT_TRUE(result) << int(result.error);
                ExpectLevelsCounted(result, m.means, sites);
                const QImage& image = result.surface->image();
                ExpectSensorCounted(copy.sensor, m.means, sites, image.width(), image.height());
                break;
            }
            case AllGreen: {
                // Every photosite green, as the file says: G holds them all, R and B none, and
                // no filter array of three colours for the raw histogram.
                ASSERT_TRUE(result && result.raw && result.raw->photosites) << int(result.error);
                const RawPhotosites& got = *result.raw->photosites;
                EXPECT_EQ(std::string(got.cfa.data(), 4), "GGGG");
                const std::uint64_t atWhite = std::uint64_t(all.end() - std::lower_bound(all.begin(), all.end(), dng.white));
                EXPECT_EQ(got.levels[1], (RawLevels{all.back(), all[(99 * all.size() + 99) / 100 - 1], atWhite}));
                EXPECT_EQ(got.levels[0], RawLevels{});
                EXPECT_EQ(got.levels[2], RawLevels{});
                EXPECT_FALSE(copy.sensor);
                break;
            }
            case EightBits: {
                // Read as the 8-bit photosites it says it has: the bytes of the 16-bit ones,
                // in order, with no white level (16383 is beyond 8 bits).
                ASSERT_TRUE(result && copy.sensor) << int(result.error);
                std::vector<std::uint16_t> bytes8;
                for (std::size_t i = 0; bytes8.size() < sites.size(); ++i)
                    bytes8.push_back(std::uint16_t(i % 2 == 0 ? sites[i / 2] & 0xFF : sites[i / 2] >> 8));
                EXPECT_TRUE(std::equal(copy.sensor->values.begin(), copy.sensor->values.end(), bytes8.begin(), bytes8.end()));
                EXPECT_EQ(copy.sensor->white, 0u);
                EXPECT_EQ(copy.sensor->bits, 8);
                ASSERT_TRUE(result.raw->photosites);
                EXPECT_EQ(result.raw->photosites->white, 0u);
                for (const RawLevels& levels : result.raw->photosites->levels) EXPECT_EQ(levels.atWhite, 0u);
                break;
            }
        }
    }
}

// Cut anywhere, a raw file reads as damaged or cut short (a byte short too, which LibRaw
// alone does not notice); one claiming more photosites than the program takes is refused
// before LibRaw reads it, one LibRaw finds more photosites in than our walker before
// they are unpacked. (The hostile corpus takes them through the program's decoder.)
TEST(RawReader, CutAndOversizedFilesFailCleanly) {
    QTemporaryDir dir;
    Description dng;
    dng.width = 128;
    dng.height = 96;
    dng.directoryFirst = true;
    const QString whole = Write(dir, "whole.dng", dng, dng_pictures::Scene(dng));
    const QByteArray bytes = ReadAll(whole);
    ASSERT_TRUE(DecodePicture(whole, kBackground));
    // Our own walker, at every length: a cut file is no raw file, tells no size, or has
    // its photosites end past its end.
    for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
        const headers::Bytes part(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(cut));
        const headers::RawWalk walk = headers::WalkRaw(part);
        if (cut == bytes.size()) {
            EXPECT_TRUE(headers::LooksLikeCameraRaw(part));
            EXPECT_EQ(walk.largest.width, 128);
            EXPECT_EQ(walk.largest.height, 96);
            EXPECT_EQ(walk.dataEnd, std::uint64_t(cut));
        } else {
            ASSERT_TRUE(!headers::LooksLikeCameraRaw(part) || !walk.largest.known() || walk.dataEnd > std::uint64_t(cut)) << cut;
        }
    }
    std::vector<qsizetype> cuts = {8, 16, 100, 300, bytes.size() / 2, bytes.size() - 2, bytes.size() - 1};
    for (qsizetype cut = 400; cut < bytes.size(); cut += 1999) cuts.push_back(cut);
    for (const qsizetype cut : cuts) {
        SCOPED_TRACE(cut);
        const QString path = WriteBytes(dir, "cut.dng", bytes.left(cut));
        EXPECT_EQ(DecodePicture(path, kBackground).error, DecodeError::Unreadable);
        EXPECT_EQ(DecodePicture(path, kBackground, nullptr, ColourHandling::StoredValues).error, DecodeError::Unreadable);
    }
    for (const auto& [name, error] : {std::pair{"raw-claims-60000-by-40000.dng", DecodeError::TooLarge},
                                      std::pair{"raw-claims-more-than-its-file-holds.dng", DecodeError::Unreadable},
                                      std::pair{"raw-cut-in-its-last-directory.dng", DecodeError::Unreadable},
                                      std::pair{"raw-bits-per-sample-0.dng", DecodeError::Unreadable},
                                      std::pair{"raw-bits-per-sample-7.dng", DecodeError::Unreadable},
                                      std::pair{"raw-lossless-jpeg-that-is-none.dng", DecodeError::Unreadable}}) {
        EXPECT_EQ(DecodePicture(testing_support::HostileFolder().filePath(name), kBackground).error, error) << name;
    }
    // A white level of 0, or beyond the 16-bit photosites, is none: LibRaw's own stand-in
    // (65535) is not reported as the file's, and no photosite is counted at it.
    for (const char* name : {"raw-white-level-0.dng", "raw-white-level-4294967295.dng"}) {
        const DecodeResult result = DecodePicture(testing_support::HostileFolder().filePath(name), kBackground);
        ASSERT_TRUE(result && result.raw && result.raw->photosites) << name;
        const RawPhotosites& sites = *result.raw->photosites;
        EXPECT_EQ(sites.white, 0u) << name;
        EXPECT_EQ(sites.bits, 16) << name;
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(sites.levels[std::size_t(c)].atWhite, 0u) << name;
            EXPECT_FALSE(sites.HeadroomEv(c)) << name;
        }
    }
}

}  // namespace
