// The nits scale's code levels against the PQ and HLG formulas written out here on their
// own, the reference points BT.2408 gives, and each curve against its inverse over the range.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "colour/HdrScale.h"

namespace {

using namespace vistrel;

// ST 2084's inverse EOTF as the document writes it: Y = L / 10000, N = ((c1 + c2 Y^m1) / (1 + c3 Y^m1))^m2.
double PqByHand(double nits) {
    const double m1 = 0.1593017578125, m2 = 78.84375, c1 = 0.8359375, c2 = 18.8515625, c3 = 18.6875;
    const double ym = std::pow(nits / 10000, m1);
    return std::pow((c1 + c2 * ym) / (1 + c3 * ym), m2);
}

// BT.2100 HLG for a grey on a 1000-nit display: Fd = 1000 Ys^1.2, so scene light E = (Fd / 1000)^(1 / 1.2),
// then the OETF: sqrt(3E) up to 1/12, a ln(12E - b) + c above.
double HlgByHand(double nits) {
    const double a = 0.17883277, b = 0.28466892, c = 0.55991073;
    const double e = std::pow(nits / 1000, 1 / 1.2);
    return e <= 1.0 / 12 ? std::sqrt(3 * e) : a * std::log(12 * e - b) + c;
}

TEST(HdrScale, CodeLevelsOfTheScaleLightsFollowTheFormulasAndTheReferencePoints) {
    std::vector<hdr::ScaleLine> pq;
    std::vector<hdr::ScaleLine> hlg;
    for (const double nits : hdr::kScaleNits) {
        pq.push_back({nits, static_cast<int>(std::nearbyint(PqByHand(nits) * 255))});
        if (nits <= 1000) hlg.push_back({nits, static_cast<int>(std::nearbyint(HlgByHand(nits) * 255))});
    }
    EXPECT_EQ(hdr::ScaleLines(SignalTransfer::Pq), pq);
    // HLG's display peaks at 1000 nits: 4000 and 10,000 have no level.
    EXPECT_EQ(hdr::ScaleLines(SignalTransfer::Hlg), hlg);
    EXPECT_TRUE(hdr::ScaleLines(SignalTransfer::Sdr).empty());
    EXPECT_FALSE(hdr::NitsLevel(SignalTransfer::Hlg, 1001));
    EXPECT_EQ(hdr::NitsLevel(SignalTransfer::Hlg, 1000), 255);
    EXPECT_EQ(hdr::NitsLevel(SignalTransfer::Pq, 10000), 255);

    // BT.2408: reference white, 203 nits, at 58 % PQ and 75 % HLG; PQ's 100 nits at 50.8 %,
    // 1000 nits at 75.2 %.
    EXPECT_NEAR(hdr::PqSignal(203), 0.58, 0.001);
    EXPECT_NEAR(hdr::HlgSignal(203), 0.75, 0.001);
    EXPECT_NEAR(hdr::PqSignal(100), 0.5081, 0.0001);
    EXPECT_NEAR(hdr::PqSignal(1000), 0.7518, 0.0001);
}

TEST(HdrScale, EachCurveUndoesItsInverseOverTheWholeRangeAndLevelsReadBackAsNits) {
    for (double nits = 0.01; nits <= 10000; nits *= 1.07) {
        EXPECT_NEAR(hdr::PqSignal(nits), PqByHand(nits), 1e-12) << nits;
        EXPECT_NEAR(hdr::PqNits(hdr::PqSignal(nits)) / nits, 1, 1e-9) << nits;
        if (nits > 1000) continue;
        EXPECT_NEAR(hdr::HlgSignal(nits), HlgByHand(nits), 1e-9) << nits;
        EXPECT_NEAR(hdr::HlgNits(hdr::HlgSignal(nits)) / nits, 1, 1e-6) << nits;
    }
    // A level reads as the light it carries, monotonic from black to the peak.
    for (const SignalTransfer transfer : {SignalTransfer::Pq, SignalTransfer::Hlg}) {
        EXPECT_EQ(hdr::LevelNits(transfer, 0), 0);
        for (int level = 1; level <= 255; ++level)
            EXPECT_GT(hdr::LevelNits(transfer, level), hdr::LevelNits(transfer, level - 1)) << level;
    }
    EXPECT_NEAR(hdr::LevelNits(SignalTransfer::Pq, 255), 10000, 1e-6);
    EXPECT_NEAR(hdr::LevelNits(SignalTransfer::Hlg, 255), 1000, 1e-3);
    EXPECT_EQ(hdr::LevelNits(SignalTransfer::Sdr, 200), 0);
}

}  // namespace
