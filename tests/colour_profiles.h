#pragma once
// Profiles the colour tests build with lcms2 (tables, grey, CMYK, an sRGB look-alike), and
// lcms2's own answers to hold the program's conversions against.

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "colour/ColourConvert.h"

namespace colour_profiles {

using vistrel::colour::StandardSpace;


using Profile = std::vector<unsigned char>;

struct Space {
    StandardSpace space;
    const char* name;
};
constexpr Space kWideSpaces[] = {{StandardSpace::AdobeRgb, "Adobe RGB (1998)"},
                                 {StandardSpace::DisplayP3, "Display P3"},
                                 {StandardSpace::ProPhoto, "ProPhoto RGB"},
                                 {StandardSpace::Rec2020, "Rec. 2020"}};

inline cmsHPROFILE Open(const Profile& p) { return cmsOpenProfileFromMem(p.data(), cmsUInt32Number(p.size())); }

inline Profile Save(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    Profile bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// A profile of tables, not of a matrix: Adobe RGB sampled into a 17-point grid to Lab.
inline Profile TableProfile() {
    cmsHPROFILE adobe = Open(vistrel::colour::StandardProfile(StandardSpace::AdobeRgb));
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(adobe, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHPROFILE out = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(out, 4.3);
    cmsSetDeviceClass(out, cmsSigInputClass);
    cmsSetColorSpace(out, cmsSigRgbData);
    cmsSetPCS(out, cmsSigLabData);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 3, 3);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 17, 3, 3, nullptr);
    cmsStageSampleCLut16bit(
        grid,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void* transform) -> cmsInt32Number {
            cmsDoTransform(static_cast<cmsHTRANSFORM>(transform), in, out, 1);
            return TRUE;
        },
        toLab, 0);
    // lutAtoBType holds a grid between two sets of curves (here straight ones).
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, grid);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(out, cmsSigAToB0Tag, pipeline);
    cmsWriteTag(out, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(pipeline);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(adobe);
    cmsCloseProfile(lab);
    return Save(out);
}

// A profile of sRGB's primaries under another tone curve, or another's primaries
// under sRGB's curve and name.
inline Profile SrgbLookalike(bool primariesOfAdobe) {
    const cmsCIExyY d65{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries =
        primariesOfAdobe ? cmsCIExyYTRIPLE{{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}}
                         : cmsCIExyYTRIPLE{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = primariesOfAdobe ? cmsBuildParametricToneCurve(nullptr, 4, srgb) : cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE p = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(curve);
    return Save(p);
}

inline void Describe(cmsHPROFILE profile, const char* name) {
    cmsMLU* description = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(description, "en", "US", name);
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
    cmsMLUfree(description);
}

// A grey profile of one tone curve (its kTRC tag).
inline Profile GreyProfile(cmsToneCurve* curve, const char* name) {
    cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    Describe(p, name);
    return Save(p);
}
inline Profile GreyGamma18() { return GreyProfile(cmsBuildGamma(nullptr, 1.8), "Grey, gamma 1.8"); }

// A printer's CMYK profile, made of tables as print profiles are (AToB0 and BToA0 over
// Lab): each ink spreads on the paper (dot gain), inks mix imperfectly, and the paper's
// white and a black of some density bound them. Its cyans and greens lie beyond sRGB.
inline double DotGain(double ink) { return 1 - std::pow(1 - ink, 1.6); }
inline cmsInt32Number InksToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void*) {
    const double c = DotGain(in[0] / 65535.0), m = DotGain(in[1] / 65535.0), y = DotGain(in[2] / 65535.0),
                 k = DotGain(in[3] / 65535.0);
    // Light left in Adobe RGB's primaries, linear.
    const double r = (1 - c) * (1 - 0.1 * m) * (1 - k) * 0.97 + 0.01, g = (1 - m) * (1 - 0.15 * c) * (1 - k) * 0.97 + 0.01,
                 b = (1 - y) * (1 - 0.2 * m) * (1 - k) * 0.97 + 0.01;
    const cmsCIEXYZ xyz{0.6097559 * r + 0.2052401 * g + 0.1492240 * b, 0.3111242 * r + 0.6256560 * g + 0.0632197 * b,
                        0.0194811 * r + 0.0608902 * g + 0.7448387 * b};
    cmsCIELab lab;
    cmsXYZ2Lab(cmsD50_XYZ(), &lab, &xyz);
    cmsFloat2LabEncoded(out, &lab);
    return TRUE;
}
inline cmsInt32Number LabToInks(const cmsUInt16Number in[], cmsUInt16Number out[], void*) {
    cmsCIELab lab;
    cmsLabEncoded2Float(&lab, in);
    cmsCIEXYZ x;
    cmsLab2XYZ(cmsD50_XYZ(), &x, &lab);
    const double rgb[3] = {1.9624274 * x.X - 0.6105343 * x.Y - 0.3413404 * x.Z, -0.9787684 * x.X + 1.9161415 * x.Y + 0.0334540 * x.Z,
                           0.0286869 * x.X - 0.1406752 * x.Y + 1.3487655 * x.Z};
    for (int i = 0; i < 3; ++i) {
        const double ink = 1 - std::clamp((rgb[i] - 0.01) / 0.97, 0.0, 1.0);
        out[i] = cmsUInt16Number(std::lround((1 - std::pow(1 - ink, 1 / 1.6)) * 65535));
    }
    out[3] = 0;
    return TRUE;
}
inline Profile CmykProfile() {
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(p, 4.3);
    cmsSetDeviceClass(p, cmsSigOutputClass);
    cmsSetColorSpace(p, cmsSigCmykData);
    cmsSetPCS(p, cmsSigLabData);
    const auto table = [&](cmsTagSignature tag, cmsUInt32Number points, cmsUInt32Number in, cmsUInt32Number out, cmsSAMPLER16 sampler) {
        cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, in, out);
        cmsStage* grid = cmsStageAllocCLut16bit(nullptr, points, in, out, nullptr);
        cmsStageSampleCLut16bit(grid, sampler, nullptr, 0);
        cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, in, nullptr));
        cmsPipelineInsertStage(pipeline, cmsAT_END, grid);
        cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, out, nullptr));
        cmsWriteTag(p, tag, pipeline);
        cmsPipelineFree(pipeline);
    };
    table(cmsSigAToB0Tag, 9, 4, 3, InksToLab);
    table(cmsSigBToA0Tag, 17, 3, 4, LabToInks);
    cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    Describe(p, "Test press, coated");
    return Save(p);
}

// sRGB's channels (0 .. 1, not clipped) through lcms2 at double precision, from grey
// levels (0 .. 1) or from inks (0 .. 1, four to a pixel).
inline std::vector<double> ThroughLcms(const Profile& from, const std::vector<double>& samples) {
    cmsHPROFILE a = Open(from), srgb = cmsCreate_sRGBProfile();
    const bool grey = cmsGetColorSpace(a) == cmsSigGrayData;
    cmsHTRANSFORM t = cmsCreateTransform(a, grey ? TYPE_GRAY_DBL : TYPE_CMYK_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<double> in(samples);
    if (!grey)
        for (double& v : in) v *= 100;  // lcms2's floating-point inks are percentages
    std::vector<double> out(in.size() / (grey ? 1 : 4) * 3);
    cmsDoTransform(t, in.data(), out.data(), cmsUInt32Number(out.size() / 3));
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(srgb);
    return out;
}
inline std::uint32_t Level(double v) { return std::uint32_t(std::nearbyint(std::clamp(v, 0.0, 1.0) * 255)); }
// Light beyond sRGB by more than a rounding, as the converters count it.
inline bool Outside(double v) {
    const double light = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    return light < -1.0 / 255 || light > 1 + 1.0 / 255;
}
// Inks as a converter takes them: cyan, magenta, yellow and black in memory order.
inline std::uint32_t InkPixel(const std::array<std::uint8_t, 4>& inks) {
    std::uint32_t p;
    std::memcpy(&p, inks.data(), 4);
    return p;
}

// Primaries and white, as xy.
struct Primaries {
    double rx, ry, gx, gy, bx, by, wx, wy;
};
constexpr Primaries kSrgb{0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};
constexpr Primaries kDisplayP3{0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290};
constexpr Primaries kRec2020{0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290};

// The whole cube, every fourth level and the last.
inline std::vector<std::uint32_t> CubeSample() {
    std::vector<std::uint32_t> levels;
    for (std::uint32_t v = 0; v < 255; v += 4) levels.push_back(v);
    levels.push_back(255);
    std::vector<std::uint32_t> cube;
    for (const std::uint32_t r : levels)
        for (const std::uint32_t g : levels)
            for (const std::uint32_t b : levels) cube.push_back(0xFF000000u | (r << 16) | (g << 8) | b);
    return cube;
}

inline int LargestDifference(std::uint32_t a, std::uint32_t b) {
    int largest = 0;
    for (int shift : {0, 8, 16})
        largest = std::max(largest, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
    return largest;
}

}  // namespace colour_profiles
