#include "dng_pictures.h"

#include <QFile>
#include <QTemporaryDir>

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace dng_pictures {

// DNG's PhotometricInterpretation for samples already in the camera's RGB, which libtiff
// does not name.
constexpr std::uint16_t kLinearRaw = 34892;

std::array<int, 4> CfaColours(Cfa cfa) {
    switch (cfa) {
        case Cfa::Rggb: return {0, 1, 1, 2};
        case Cfa::Bggr: return {2, 1, 1, 0};
        case Cfa::Grbg: return {1, 0, 2, 1};
        case Cfa::Gbrg: return {1, 2, 0, 1};
    }
    return {0, 1, 1, 2};
}

const char* CfaName(Cfa cfa) {
    switch (cfa) {
        case Cfa::Rggb: return "RGGB";
        case Cfa::Bggr: return "BGGR";
        case Cfa::Grbg: return "GRBG";
        case Cfa::Gbrg: return "GBRG";
    }
    return "?";
}

std::string WriteDng(const std::string& path, const Description& dng, const std::vector<std::uint16_t>& photosites) {
    const std::uint16_t samples = dng.linear ? 3 : 1;
    const std::size_t count = std::size_t{dng.width} * dng.height * samples;
    if (photosites.size() != count) return "the photosites do not fill the size";
    // BigTIFF only when the photosites need it.
    const std::string mode = std::string(count * 2 > 0xF0000000u ? "w8" : "w") + (dng.bigEndian ? "b" : "l");
    TIFF* tif = TIFFOpen(path.c_str(), mode.c_str());
    if (tif == nullptr) return "cannot create " + path;

    const std::uint8_t dngVersion[4] = {1, 4, 0, 0};
    const std::uint8_t backwardVersion[4] = {1, 1, 0, 0};
    const std::uint16_t repeat[2] = {2, 2};
    const std::uint16_t single[2] = {1, 1};
    std::uint8_t pattern[4];
    for (std::size_t i = 0; i < 4; ++i) pattern[i] = static_cast<std::uint8_t>(CfaColours(dng.cfa)[i]);
    const std::uint8_t planeColours[3] = {0, 1, 2};
    float black[4];
    for (std::size_t i = 0; i < 4; ++i) black[i] = dng.black[i];
    std::uint32_t white = dng.white;
    // Strips of about 256 KiB, as converters write them.
    const std::uint32_t rowsPerStrip = std::max<std::uint32_t>(1, (256u * 1024u) / (dng.width * 2u * samples));

    const auto cameraTags = [&] {
        TIFFSetField(tif, TIFFTAG_ORIENTATION, dng.orientation);
        TIFFSetField(tif, TIFFTAG_MAKE, dng.make.c_str());
        TIFFSetField(tif, TIFFTAG_MODEL, dng.model.c_str());
        if (!dng.dateTime.empty()) TIFFSetField(tif, TIFFTAG_DATETIME, dng.dateTime.c_str());
        TIFFSetField(tif, TIFFTAG_DNGVERSION, dngVersion);
        TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, backwardVersion);
        TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, (dng.make + " " + dng.model).c_str());
        TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, dng.colorMatrix1.data());
        TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, dng.calibrationIlluminant1);
        TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, dng.asShotNeutral.data());
    };
    if (dng.withPreview) {
        // A grey preview an eighth of the size in the first directory.
        const std::uint32_t width = std::max<std::uint32_t>(1, dng.width / 8);
        const std::uint32_t height = std::max<std::uint32_t>(1, dng.height / 8);
        std::uint64_t subDirectory = 0;
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
        TIFFSetField(tif, TIFFTAG_SUBIFD, 1, &subDirectory);
        if (!dng.previewProfile.empty())
            TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(dng.previewProfile.size()), dng.previewProfile.data());
        cameraTags();
        std::vector<std::uint8_t> grey(std::size_t{width} * 3, 128);
        for (std::uint32_t y = 0; y < height; ++y) TIFFWriteScanline(tif, grey.data(), y, 0);
        if (!TIFFWriteDirectory(tif)) {
            TIFFClose(tif);
            return "cannot write the preview";
        }
    }
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, dng.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, dng.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, dng.linear ? kLinearRaw : PHOTOMETRIC_CFA);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    if (dng.linear) {
        TIFFSetField(tif, TIFFTAG_BLACKLEVELREPEATDIM, single);
        TIFFSetField(tif, TIFFTAG_BLACKLEVEL, 3, black);
    } else {
        TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, repeat);
        TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, pattern);
        TIFFSetField(tif, TIFFTAG_CFAPLANECOLOR, 3, planeColours);
        TIFFSetField(tif, TIFFTAG_CFALAYOUT, 1);
        TIFFSetField(tif, TIFFTAG_BLACKLEVELREPEATDIM, dng.singleBlackLevel ? single : repeat);
        TIFFSetField(tif, TIFFTAG_BLACKLEVEL, dng.singleBlackLevel ? 1 : 4, black);
    }
    TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, &white);
    if (!dng.withPreview) cameraTags();

    std::string error;
    if (dng.directoryFirst) {
        // The directory goes out first, with room for the strips' arrays, filled in at the end.
        if (!TIFFDeferStrileArrayWriting(tif) || !TIFFWriteCheck(tif, 0, "WriteDng") || !TIFFWriteDirectory(tif) ||
            !TIFFSetDirectory(tif, 0))
            error = "cannot write the directory first";
        const std::uint32_t strips = (dng.height + rowsPerStrip - 1) / rowsPerStrip;
        // libtiff swaps a big-endian file's samples in the buffer it is given: a copy of
        // each strip, never the caller's photosites.
        std::vector<std::uint16_t> strip;
        for (std::uint32_t s = 0; s < strips && error.empty(); ++s) {
            const std::uint32_t rows = std::min(rowsPerStrip, dng.height - s * rowsPerStrip);
            const auto first = photosites.begin() + std::ptrdiff_t(std::size_t{s} * rowsPerStrip * dng.width * samples);
            strip.assign(first, first + std::ptrdiff_t(std::size_t{rows} * dng.width * samples));
            if (TIFFWriteEncodedStrip(tif, s, strip.data(), tmsize_t(strip.size()) * 2) < 0)
                error = "cannot write strip " + std::to_string(s);
        }
        if (error.empty() && !TIFFForceStrileArrayWriting(tif)) error = "cannot write the strips' arrays";
    } else {
        const std::size_t rowSamples = std::size_t{dng.width} * samples;
        std::vector<std::uint16_t> row(rowSamples);
        for (std::uint32_t y = 0; y < dng.height && error.empty(); ++y) {
            std::copy_n(photosites.begin() + std::ptrdiff_t(y * rowSamples), rowSamples, row.begin());
            if (TIFFWriteScanline(tif, row.data(), y, 0) < 0) error = "cannot write row " + std::to_string(y);
        }
    }
    TIFFClose(tif);
    return error;
}

QByteArray DngBytes(const Description& dng, const std::vector<std::uint16_t>& photosites) {
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.dng");
    if (!dir.isValid() || !WriteDng(path.toStdString(), dng, photosites).empty()) return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

std::vector<std::uint16_t> Scene(const Description& dng, std::uint32_t seed) {
    std::vector<std::uint16_t> sites(std::size_t{dng.width} * dng.height);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 6.0);
    const std::array<int, 4> colours = CfaColours(dng.cfa);
    constexpr double kTwoPi = 6.283185307179586;
    for (std::size_t y = 0; y < dng.height; ++y) {
        for (std::size_t x = 0; x < dng.width; ++x) {
            const double u = double(x) / dng.width, v = double(y) / dng.height;
            const double rgb[3] = {0.5 + 0.5 * std::cos(kTwoPi * u), 0.5 + 0.5 * std::cos(kTwoPi * u - kTwoPi / 3),
                                   0.5 + 0.5 * std::cos(kTwoPi * u + kTwoPi / 3)};
            const double brightness = std::pow(v, 2.2) * 1.3;  // the top of the range clips
            const std::size_t position = ((y & 1) << 1) | (x & 1);
            const auto c = static_cast<std::size_t>(colours[position]);
            const double black = dng.black[position];
            const double value = black + (dng.white - black) * brightness * (0.2 + 0.8 * rgb[c]) * dng.asShotNeutral[c] +
                                 noise(random);
            sites[y * dng.width + x] = static_cast<std::uint16_t>(std::clamp(std::nearbyint(value), 0.0, double(dng.white)));
        }
    }
    return sites;
}

std::array<CountedLevels, 3> CountLevels(const Description& dng, const std::vector<std::uint16_t>& photosites) {
    const std::array<int, 4> colours = CfaColours(dng.cfa);
    std::array<std::vector<std::uint16_t>, 3> byColour;
    for (std::uint32_t y = 0; y < dng.height; ++y)
        for (std::uint32_t x = 0; x < dng.width; ++x)
            byColour[std::size_t(colours[((y & 1) << 1) | (x & 1)])].push_back(photosites[std::size_t(y) * dng.width + x]);
    std::array<CountedLevels, 3> counted;
    for (std::size_t c = 0; c < 3; ++c) {
        std::vector<std::uint16_t>& values = byColour[c];
        if (values.empty()) continue;
        std::sort(values.begin(), values.end());
        counted[c].max = values.back();
        counted[c].p99 = values[(99 * values.size() + 99) / 100 - 1];
        counted[c].atWhite = std::uint64_t(values.end() - std::lower_bound(values.begin(), values.end(), dng.white));
    }
    return counted;
}

std::array<std::uint32_t, 2> SensorPositionOf(const Description& dng, std::uint32_t x, std::uint32_t y) {
    const std::uint32_t w = dng.width, h = dng.height;
    switch (dng.orientation) {
        case 2: return {w - 1 - x, y};
        case 3: return {w - 1 - x, h - 1 - y};
        case 4: return {x, h - 1 - y};
        case 5: return {y, x};
        case 6: return {y, h - 1 - x};
        case 7: return {w - 1 - y, h - 1 - x};
        case 8: return {w - 1 - y, x};
        default: return {x, y};
    }
}

std::array<std::vector<std::uint16_t>, 4> SitesUnder(const Description& dng, const std::vector<std::uint16_t>& photosites,
                                                     const UprightRect* region) {
    const bool turned = dng.orientation >= 5;
    const UprightRect all{0, 0, turned ? dng.height : dng.width, turned ? dng.width : dng.height};
    const UprightRect& r = region != nullptr ? *region : all;
    std::array<std::vector<std::uint16_t>, 4> sites;
    for (std::uint32_t y = r.y; y < r.y + r.height; ++y)
        for (std::uint32_t x = r.x; x < r.x + r.width; ++x) {
            const auto [column, row] = SensorPositionOf(dng, x, y);
            sites[((row & 1) << 1) | (column & 1)].push_back(photosites[std::size_t(row) * dng.width + column]);
        }
    for (std::vector<std::uint16_t>& values : sites) std::sort(values.begin(), values.end());
    return sites;
}

}  // namespace dng_pictures
