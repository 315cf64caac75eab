#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <thread>

#include <lcms2.h>
#include <zlib.h>

#include "colour/ColourConvert.h"
#include "colour/SignalCount.h"
#include "colour/SignalSource.h"
#include "decoding/Decode.h"
#include "decoding/Readers.h"
#include "decoding/worker/WorkerClient.h"
#include "kernels/simd.h"
#include "colour_profiles.h"
#include "heif_pictures.h"

using namespace vistrel;

namespace {

// --- the plain way: every pixel on its own, in double, from the file's samples ---------

struct Xy {
    double rx, ry, gx, gy, bx, by;
};
constexpr Xy kRec709{0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
constexpr Xy kP3{0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
constexpr Xy kRec2020{0.708, 0.292, 0.170, 0.797, 0.131, 0.046};
constexpr double kWx = 0.3127, kWy = 0.3290;

using M3 = std::array<std::array<double, 3>, 3>;

// Solved by Cramer's rule: the primaries' XYZ columns scaled so that RGB 1 is D65 at Y 1.
M3 ToXyz(const Xy& p) {
    const double cols[3][3] = {{p.rx / p.ry, 1, (1 - p.rx - p.ry) / p.ry},
                               {p.gx / p.gy, 1, (1 - p.gx - p.gy) / p.gy},
                               {p.bx / p.by, 1, (1 - p.bx - p.by) / p.by}};
    const double w[3] = {kWx / kWy, 1, (1 - kWx - kWy) / kWy};
    const auto det = [](const double a[3], const double b[3], const double c[3]) {
        return a[0] * (b[1] * c[2] - b[2] * c[1]) - b[0] * (a[1] * c[2] - a[2] * c[1]) + c[0] * (a[1] * b[2] - a[2] * b[1]);
    };
    const double d = det(cols[0], cols[1], cols[2]);
    const double s[3] = {det(w, cols[1], cols[2]) / d, det(cols[0], w, cols[2]) / d, det(cols[0], cols[1], w) / d};
    M3 m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i][j] = cols[j][i] * s[j];
    return m;
}

std::array<double, 3> Apply(const M3& m, const std::array<double, 3>& v) {
    return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2], m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
            m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}

// v for which m v = b, by Gauss-Jordan elimination.
std::array<double, 3> Solve(const M3& m, const std::array<double, 3>& b) {
    double a[3][4];
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) a[i][j] = m[i][j];
        a[i][3] = b[i];
    }
    for (int c = 0; c < 3; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 3; ++r)
            if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
        std::swap(a[c], a[pivot]);
        for (int r = 0; r < 3; ++r) {
            if (r == c) continue;
            const double f = a[r][c] / a[c][c];
            for (int k = 0; k < 4; ++k) a[r][k] -= f * a[c][k];
        }
    }
    return {a[0][3] / a[0][0], a[1][3] / a[1][1], a[2][3] / a[2][2]};
}

// XYZ back to the gamut's RGB, solved each time, against the slack.
bool OutsideOf(const Xy& gamut, const std::array<double, 3>& xyz) {
    for (const double v : Solve(ToXyz(gamut), xyz))
        if (v < -1.0 / 4096 || v > 1 + 1.0 / 4096) return true;
    return false;
}

double Pq(double e) {
    const double m1 = 0.1593017578125, m2 = 78.84375, c1 = 0.8359375, c2 = 18.8515625, c3 = 18.6875;
    const double p = std::pow(e, 1 / m2);
    return 10000 * std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1);
}
double HlgInverse(double e) {
    const double a = 0.17883277, b = 1 - 4 * a, c = 0.5 - a * std::log(4 * a);
    return e <= 0.5 ? e * e / 3 : (std::exp((e - c) / a) + b) / 12;
}
double Srgb(double e) { return e <= 0.04045 ? e / 12.92 : std::pow((e + 0.055) / 1.055, 2.4); }
double Rec709(double e) { return e < 0.081 ? e / 4.5 : std::pow((e + 0.099) / 1.099, 1 / 0.45); }

enum class Curve { Srgb, Rec709, Linear, Gamma22, Gamma28, Pq, Hlg };

// What a plain loop counts of samples (0 .. 1) in these primaries through this curve,
// or (xyz set) from lcms2's own XYZ (D65) of each pixel.
struct Plain {
    std::uint64_t pixels = 0;
    std::array<std::uint64_t, 3> outside{};
    std::vector<std::uint32_t> cells = std::vector<std::uint32_t>(512 * 512);
    double maxNits = 0, sumNits = 0;

    void AddXyz(const std::array<double, 3>& xyz) {
        ++pixels;
        const double sum = xyz[0] + xyz[1] + xyz[2];
        if (sum > 0) {
            const auto cell = [](double v) { return std::clamp(int(std::floor(v / 0.9 * 512)), 0, 511); };
            ++cells[std::size_t(cell(xyz[1] / sum)) * 512 + std::size_t(cell(xyz[0] / sum))];
        }
        const Xy* gamuts[3] = {&kRec709, &kP3, &kRec2020};
        for (int g = 0; g < 3; ++g) outside[std::size_t(g)] += OutsideOf(*gamuts[g], xyz);
    }
    void Add(const Xy& primaries, Curve curve, const std::array<double, 3>& e) {
        std::array<double, 3> light{};
        for (int c = 0; c < 3; ++c) {
            const double v = e[std::size_t(c)];
            switch (curve) {
                case Curve::Srgb: light[std::size_t(c)] = Srgb(v); break;
                case Curve::Rec709: light[std::size_t(c)] = Rec709(v); break;
                case Curve::Linear: light[std::size_t(c)] = v; break;
                case Curve::Gamma22: light[std::size_t(c)] = std::pow(v, 2.2); break;
                case Curve::Gamma28: light[std::size_t(c)] = std::pow(v, 2.8); break;
                case Curve::Pq: light[std::size_t(c)] = Pq(v) / 10000; break;
                case Curve::Hlg: light[std::size_t(c)] = HlgInverse(v); break;
            }
        }
        if (curve == Curve::Pq || curve == Curve::Hlg) {
            double nits = *std::max_element(light.begin(), light.end()) * 10000;
            if (curve == Curve::Hlg) {
                const double ys = 0.2627 * light[0] + 0.6780 * light[1] + 0.0593 * light[2];
                nits = ys > 0 ? 1000 * std::pow(ys, 0.2) * *std::max_element(light.begin(), light.end()) : 0;
            }
            maxNits = std::max(maxNits, nits);
            sumNits += nits;
        }
        AddXyz(Apply(ToXyz(primaries), light));
    }
};

// How far two xy histograms differ: the pixels in one and not the other, as a share.
double CellsApart(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b, std::uint64_t pixels) {
    std::uint64_t apart = 0;
    for (std::size_t i = 0; i < a.size(); ++i) apart += std::uint64_t(std::abs(std::int64_t(a[i]) - std::int64_t(b[i])));
    return double(apart) / 2 / double(pixels);
}

// --- pictures -----------------------------------------------------------------------------

QByteArray BigEndian32(std::uint32_t v) {
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}
QByteArray PngChunk(const char* type, const QByteArray& data) {
    const QByteArray typed = QByteArray(type, 4) + data;
    return BigEndian32(std::uint32_t(data.size())) + typed +
           BigEndian32(std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size()))));
}
QByteArray Png(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}
// A 16-bit PNG of these samples, its cICP chunk after the header (8 bytes of signature, 25 of IHDR).
QByteArray CicpPng(const QImage& image, int primaries, int transfer) {
    const char data[4] = {char(primaries), char(transfer), 0, 1};
    return Png(image).insert(33, PngChunk("cICP", QByteArray(data, 4)));
}
// A PNG with an iCCP chunk carrying the profile after its header.
QByteArray PngWithProfile(QByteArray png, const std::vector<unsigned char>& profile) {
    uLongf size = compressBound(uLong(profile.size()));
    QByteArray deflated(qsizetype(size), '\0');
    compress(reinterpret_cast<Bytef*>(deflated.data()), &size, profile.data(), uLong(profile.size()));
    deflated.truncate(qsizetype(size));
    return png.insert(33, PngChunk("iCCP", QByteArray("grey\0\0", 6) + deflated));
}
QString Write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return file.fileName();
}

// Random 16-bit samples, with the cube's corners and a black pixel among them.
QImage Samples(int width, int height, unsigned seed) {
    QImage image(width, height, QImage::Format_RGBX64);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint16_t*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            for (int k = 0; k < 3; ++k) {
                const int corner = y * width + x;
                row[4 * x + k] = corner < 8 ? ((corner >> k) & 1) * 65535 : std::uint16_t(random() & 0xFFFF);
            }
            row[4 * x + 3] = 0xFFFF;
        }
    }
    return image;
}

std::array<double, 3> SampleAt(const QImage& image, int x, int y, double top = 65535) {
    const auto* p = reinterpret_cast<const std::uint16_t*>(image.constScanLine(y)) + 4 * x;
    return {p[0] / top, p[1] / top, p[2] / top};
}

// cellsApart: the share of pixels that may land in a neighbouring xy cell (their samples
// a rounding apart on the way).
void ExpectCountedAsPlain(const SignalStats& got, const Plain& plain, SignalTransfer transfer, double cellsApart = 0.002) {
    EXPECT_EQ(got.transfer, transfer);
    EXPECT_EQ(got.pixels, plain.pixels);
    // A pixel within a rounding of a gamut's edge may fall either way.
    for (std::size_t g = 0; g < 3; ++g)
        EXPECT_NEAR(double(got.outside[g]), double(plain.outside[g]), 0.001 * double(plain.pixels) + 1) << g;
    EXPECT_LE(CellsApart(got.chromaticity, plain.cells, plain.pixels), cellsApart);
    ASSERT_EQ(got.light.has_value(), transfer != SignalTransfer::Sdr);
    if (!got.light) return;
    EXPECT_NEAR(got.light->maxCll, plain.maxNits, 0.005 * plain.maxNits);
    const double fall = got.light->sumNits / double(got.pixels), plainFall = plain.sumNits / double(plain.pixels);
    EXPECT_NEAR(fall, plainFall, 0.005 * plainFall);
    std::uint64_t binned = 0;
    for (const std::uint64_t b : got.light->histogram) binned += b;
    EXPECT_EQ(binned, got.pixels);
}

}  // namespace

// Every transfer and set of primaries the readers name, 16-bit PNGs with cICP, ICC-tagged
// PNGs, 8-bit and 12-bit JPEG XL and plain sRGB: the decoder's counts against a plain
// loop over the file's samples, in process and through the worker's messages alike.
// What the program counts for a picture whose colours mean sRGB: its own pixels.
SignalStats SrgbCounts(const Surface& picture) {
    const QImage& image = picture.image();
    EXPECT_EQ(image.bytesPerLine(), image.width() * 4);
    return colour::CountSrgbPixels(reinterpret_cast<const std::uint32_t*>(image.constBits()),
                                   std::size_t(image.width()) * std::size_t(image.height()));
}

TEST(DecodeSignal, EveryTransferAndPrimariesCountsAsAPlainLoopOverTheSamples) {
    constexpr int kWidth = 300, kHeight = 260;  // more than one band, and split over threads
    const QImage samples = Samples(kWidth, kHeight, 7);
    struct Row {
        const char* name;
        int primaries, transfer;  // cICP's; 0: the picture carries `profile` instead
        Xy xy;
        Curve curve;
        SignalTransfer signal = SignalTransfer::Sdr;
        bool eightBit = false;  // shown as it is, and counted so: its 8-bit pixels
    };
    const Row rows[] = {
        {"BT.2020 PQ", 9, 16, kRec2020, Curve::Pq, SignalTransfer::Pq},
        {"BT.2020 HLG", 9, 18, kRec2020, Curve::Hlg, SignalTransfer::Hlg},
        {"Display P3 PQ", 12, 16, kP3, Curve::Pq, SignalTransfer::Pq},
        {"Display P3, sRGB curve", 12, 13, kP3, Curve::Srgb},
        {"BT.2020, Rec. 709 curve", 9, 1, kRec2020, Curve::Rec709},
        {"Display P3, BT.2020 10-bit curve", 12, 14, kP3, Curve::Rec709},
        {"Display P3, linear", 12, 8, kP3, Curve::Linear},
        {"Rec. 709, gamma 2.2", 1, 4, kRec709, Curve::Gamma22},
        {"BT.2020, gamma 2.8", 9, 5, kRec2020, Curve::Gamma28},
        {"sRGB", 1, 13, kRec709, Curve::Srgb, SignalTransfer::Sdr, true},
        {"untagged", 0, 0, kRec709, Curve::Srgb, SignalTransfer::Sdr, true},
    };
    QTemporaryDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Plain plain;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                std::array<double, 3> e = SampleAt(samples, x, y);
                if (row.eightBit)
                    for (double& v : e) v = std::nearbyint(v * 255) / 255;
                plain.Add(row.xy, row.curve, e);
            }
        const QString path = Write(dir, "p.png", row.primaries == 0 ? Png(samples) : CicpPng(samples, row.primaries, row.transfer));
        const DecodeResult here = DecodePicture(path, 0);
        const DecodeResult there = DecodeInWorker(path, 0);
        if (row.eightBit) {
            // Colours that mean sRGB are left to the program, which counts its own pixels.
            ASSERT_TRUE(here && there);
            EXPECT_FALSE(here.signal || there.signal);
            ExpectCountedAsPlain(SrgbCounts(*here.surface), plain, row.signal);
            EXPECT_EQ(SrgbCounts(*there.surface), SrgbCounts(*here.surface));
            continue;
        }
        ASSERT_TRUE(here && there && here.signal && there.signal);
        ExpectCountedAsPlain(*here.signal, plain, row.signal);
        EXPECT_EQ(*there.signal, *here.signal) << "the same counts through the worker's messages";
        // Stored values are the same samples: the same counts, but for the 8 bits they are shown at.
        const DecodeResult stored = DecodePicture(path, 0, nullptr, ColourHandling::StoredValues);
        ASSERT_TRUE(stored && stored.signal);
        for (std::size_t g = 0; g < 3; ++g)
            EXPECT_NEAR(double(stored.signal->outside[g]), double(here.signal->outside[g]), 0.01 * double(plain.pixels)) << g;
        if (row.signal != SignalTransfer::Sdr) {
            EXPECT_NEAR(stored.signal->light->maxCll, plain.maxNits, 0.02 * plain.maxNits);
        }
    }

    // 12-bit JPEG XL, row by row through the conversion at its own depth, and 8-bit
    // JPEG XL band by band.
    for (const int bits : {12, 8}) {
        SCOPED_TRACE(bits);
        heif_pictures::Options options;
        options.bits = bits;
        options.cicp = {9, 16};
        const QString path = Write(dir, "p.jxl", heif_pictures::EncodeJxl(samples, options));
        const std::vector<unsigned char> stored = heif_pictures::Samples(samples, options, false);
        const double top = (1 << bits) - 1;
        Plain plain;
        for (std::size_t i = 0; i < std::size_t(kWidth) * kHeight; ++i) {
            std::array<double, 3> e{};
            for (std::size_t k = 0; k < 3; ++k)
                e[k] = (bits == 8 ? stored[3 * i + k] : stored[6 * i + 2 * k] | stored[6 * i + 2 * k + 1] << 8) / top;
            plain.Add(kRec2020, Curve::Pq, e);
        }
        const DecodeResult result = DecodeInWorker(path, 0);
        ASSERT_TRUE(result && result.signal);
        // libjxl widens 12-bit samples to 16 bits, rounding them.
        ExpectCountedAsPlain(*result.signal, plain, SignalTransfer::Pq, 0.005);
    }

    // ICC profiles: the plain loop takes lcms2's own XYZ of each pixel (D50), adapted to
    // D65 by Bradford's matrix.
    const M3 adapt = [] {
        const M3 bradford{{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
        const std::array<double, 3> d50{0.9642, 1.0, 0.8249}, d65{0.95047, 1.0, 1.08883};
        const std::array<double, 3> from = Apply(bradford, d50), to = Apply(bradford, d65);
        M3 inverse{};
        for (int c = 0; c < 3; ++c) {
            // Column c of the inverse: the cone response that Bradford's matrix takes to unit c.
            std::array<double, 3> unit{};
            unit[std::size_t(c)] = 1;
            const std::array<double, 3> xyz = Solve(bradford, unit);
            for (int r = 0; r < 3; ++r) inverse[std::size_t(r)][std::size_t(c)] = xyz[std::size_t(r)];
        }
        M3 scaled = bradford;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) scaled[std::size_t(r)][std::size_t(c)] *= to[std::size_t(r)] / from[std::size_t(r)];
        M3 m{};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                for (int k = 0; k < 3; ++k) m[std::size_t(r)][std::size_t(c)] += inverse[std::size_t(r)][std::size_t(k)] * scaled[std::size_t(k)][std::size_t(c)];
        return m;
    }();
    for (const colour::StandardSpace space : {colour::StandardSpace::AdobeRgb, colour::StandardSpace::ProPhoto}) {
        SCOPED_TRACE(int(space));
        const std::vector<unsigned char> profile = colour::StandardProfile(space);
        QImage tagged = samples;
        tagged.setColorSpace(QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char*>(profile.data()), qsizetype(profile.size()))));
        cmsHPROFILE from = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
        cmsHPROFILE xyz = cmsCreateXYZProfile();
        cmsHTRANSFORM t = cmsCreateTransform(from, TYPE_RGB_DBL, xyz, TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
        Plain plain;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const std::array<double, 3> e = SampleAt(samples, x, y);
                std::array<double, 3> d50{};
                cmsDoTransform(t, e.data(), d50.data(), 1);
                plain.AddXyz(Apply(adapt, d50));
            }
        cmsDeleteTransform(t), cmsCloseProfile(from), cmsCloseProfile(xyz);
        const DecodeResult result = DecodeInWorker(Write(dir, "icc.png", Png(tagged)), 0);
        ASSERT_TRUE(result && result.signal);
        EXPECT_GT(result.signal->outside[SignalStats::Srgb], 0u);
        ExpectCountedAsPlain(*result.signal, plain, SignalTransfer::Sdr);
    }
}

// A grey picture with a grey profile (8 and 16 bits, PNG's iCCP), counted from its own
// samples through its grey curve: each pixel with light lies at D65, black (no light) in
// no cell, as a plain loop over the samples through the curve's own formula has it. A
// curve whose light stays within 0 .. 1 leaves no gamut; one that rises above 1 leaves
// them all where it does.
TEST(DecodeSignal, GreyPicturesCountThroughTheirGreyCurve) {
    constexpr int kWidth = 300, kHeight = 260;
    const QImage samples = Samples(kWidth, kHeight, 23);
    struct Row {
        const char* name;
        // lcms2's parametric curves, each one ICC stores as such: 1 x^g; 2 (a x + b)^g
        // from -b / a on, 0 below; 3 the same plus c, c below; 4 (a x + b)^g from d on, c x below
        int type;
        std::vector<double> parameters;
        bool above1;  // the curve makes light above 1
    };
    const Row rows[] = {
        {"gamma 1.8", 1, {1.8}, false},
        {"black raised", 3, {2.0, 0.9, 0.05, 0.02}, false},
        {"black crushed", 2, {2.4, 1.2, -0.2}, false},
        {"a linear toe", 4, {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081}, false},
        {"light above 1", 2, {2.2, 1.1, 0.0}, true},
    };
    QTemporaryDir dir;
    for (const Row& row : rows) {
        const std::vector<double>& p = row.parameters;
        const auto curve = [&](double x) {
            switch (row.type) {
                case 1: return std::pow(x, p[0]);
                case 2: return x >= -p[2] / p[1] ? std::pow(p[1] * x + p[2], p[0]) : 0.0;
                case 3: return (x >= -p[2] / p[1] ? std::pow(p[1] * x + p[2], p[0]) : 0.0) + p[3];
                default: return x >= p[4] ? std::pow(p[1] * x + p[2], p[0]) : p[3] * x;
            }
        };
        const colour_profiles::Profile profile =
            colour_profiles::GreyProfile(cmsBuildParametricToneCurve(nullptr, row.type, p.data()), row.name);
        for (const bool sixteen : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (sixteen ? ", 16 bits" : ", 8 bits"));
            QImage grey(kWidth, kHeight, sixteen ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
            Plain plain;
            const double white[3] = {kWx / kWy, 1, (1 - kWx - kWy) / kWy};
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const std::uint16_t v = reinterpret_cast<const std::uint16_t*>(samples.constScanLine(y))[4 * x];
                    const double e = sixteen ? v / 65535.0 : (v >> 8) / 255.0;
                    if (sixteen) reinterpret_cast<std::uint16_t*>(grey.scanLine(y))[x] = v;
                    else grey.scanLine(y)[x] = std::uint8_t(v >> 8);
                    const double light = curve(e);
                    plain.AddXyz({light * white[0], light * white[1], light * white[2]});
                }
            const QString path = Write(dir, "grey.png", PngWithProfile(Png(grey), profile));
            const DecodeResult here = DecodePicture(path, 0);
            const DecodeResult there = DecodeInWorker(path, 0);
            ASSERT_TRUE(here && there && here.signal && there.signal);
            EXPECT_TRUE(here.colourConverted);
            ExpectCountedAsPlain(*here.signal, plain, SignalTransfer::Sdr);
            EXPECT_EQ(*there.signal, *here.signal) << "the same counts through the worker's messages";
            EXPECT_EQ(here.signal->outside[0] != 0, row.above1);
            // Black is wherever the curve gives no light, not where sRGB's would.
            const std::size_t d65 = std::size_t(SignalStats::ChromaCell(kWy)) * SignalStats::kChromaCells +
                                    std::size_t(SignalStats::ChromaCell(kWx));
            EXPECT_EQ(here.signal->chromaticity[d65], plain.cells[d65]);
        }
    }
}

// The issue's own picture: half pure Display P3 green, half grey, 16 bits, sRGB's curve:
// half outside sRGB, none outside P3 or Rec. 2020; an sRGB picture outside nothing.
TEST(DecodeSignal, PureP3GreenLiesOutsideSrgbOnlyAndSrgbOutsideNothing) {
    QImage image(64, 40, QImage::Format_RGBX64);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, x < 32 ? QColor::fromRgba64(0, 65535, 0) : QColor::fromRgba64(30000, 30000, 30000));
    QTemporaryDir dir;
    const DecodeResult p3 = DecodeInWorker(Write(dir, "p3.png", CicpPng(image, 12, 13)), 0);
    ASSERT_TRUE(p3 && p3.signal);
    EXPECT_EQ(p3.signal->outside, (std::array<std::uint64_t, 3>{64 * 40 / 2, 0, 0}));
    EXPECT_FALSE(p3.signal->light);
    const DecodeResult decoded = DecodeInWorker(Write(dir, "srgb.png", Png(image)), 0);
    ASSERT_TRUE(decoded);
    const SignalStats counted = SrgbCounts(*decoded.surface);
    const SignalStats* const srgb = &counted;
    EXPECT_EQ(srgb->outside, (std::array<std::uint64_t, 3>{}));
    // Grey lands on D65's cell, green on P3's green's, in one cell each.
    const auto cell = [](double x, double y) {
        return std::size_t(SignalStats::ChromaCell(y)) * SignalStats::kChromaCells + std::size_t(SignalStats::ChromaCell(x));
    };
    EXPECT_EQ(p3.signal->chromaticity[cell(0.265, 0.690)], 64u * 40 / 2);
    EXPECT_EQ(srgb->chromaticity[cell(0.3127, 0.3290)], 64u * 40 / 2);
}

// However the pixels are split over tallies and threads, and whether wide vectors or
// plain ones count them, the counts are the same to the last bit: integers throughout,
// the light's sum in fixed point, the same float operations in the same order.
TEST(DecodeSignal, CountsAreTheSameAtAnySplitOverThreadsAndOnAnyVectors) {
    const colour::SignalSpace space = colour::SignalSpace::Of(colour::kRec2020Primaries, SignalTransfer::Hlg);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> light(-0.01f, 1.0f);
    std::vector<float> rgb(3 * 100003);
    for (float& v : rgb) v = light(random);
    const std::size_t pixels = rgb.size() / 3;
    colour::SignalCount whole(space);
    {
        const colour::SignalCount::Lease tally(whole);
        tally->Add(rgb.data(), pixels);
    }
    const SignalStats once = whole.Stats();
    EXPECT_EQ(once.pixels, pixels);
    EXPECT_GT(once.outside[SignalStats::Srgb], 0u);
    // The narrower builds, each where a wider one counted the above.
    const auto countedWith = [&](bool wide, bool widest) {
        korvex::detail::AllowWideVectors(wide);
        korvex::detail::AllowWidestVectors(widest);
        colour::SignalCount count(space);
        {
            const colour::SignalCount::Lease tally(count);
            tally->Add(rgb.data(), pixels);
        }
        korvex::detail::AllowWideVectors(true);
        korvex::detail::AllowWidestVectors(true);
        return count.Stats();
    };
    EXPECT_EQ(countedWith(true, false), once) << "256-bit vectors against the widest";
    EXPECT_EQ(countedWith(false, false), once) << "plain vectors against wide ones";
    for (const std::size_t parts : {2u, 7u, 64u}) {
        colour::SignalCount split(space);
        std::vector<std::thread> threads;
        for (std::size_t k = 0; k < parts; ++k)
            threads.emplace_back([&, k] {
                const std::size_t from = pixels * k / parts, to = pixels * (k + 1) / parts;
                // Each part in pieces of its own size, on a tally of whichever thread.
                for (std::size_t at = from; at < to; at += 1 + k * 31) {
                    const colour::SignalCount::Lease tally(split);
                    tally->Add(rgb.data() + 3 * at, std::min(to, at + 1 + k * 31) - at);
                }
            });
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(split.Stats(), once) << parts;
    }
}
