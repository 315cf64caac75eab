// Draws Vistrel's test card, the picture the program offers at start-up:
// 75 % colour bars, a 0-255 luma ramp, a hue and saturation sweep and a row of
// skin tones, 1280 x 960 (4:3, so that it is shown whole at the view's full
// height). Deterministic: the same file on every build.
//
//   make_testcard OUTPUT.jpg

#include <QColor>
#include <QImage>
#include <QString>

#include <cmath>
#include <cstdio>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 960;
// The bands' first rows: bars, luma ramp, hue sweep, patches.
constexpr int kRampTop = 384;
constexpr int kSweepTop = 512;
constexpr int kPatchTop = 768;
constexpr int kBarLevel = 191;  // 75 % of full scale

void Fill(QImage& image, int x0, int y0, int x1, int y1, QRgb colour) {
    for (int y = y0; y < y1; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = x0; x < x1; ++x) row[x] = colour;
    }
}

QImage TestCard() {
    QImage card(kWidth, kHeight, QImage::Format_RGB32);
    card.fill(qRgb(0, 0, 0));

    // Colour bars, rows 0-383: white, yellow, cyan, green, magenta, red, blue at 75 %.
    const QRgb bars[] = {qRgb(kBarLevel, kBarLevel, kBarLevel), qRgb(kBarLevel, kBarLevel, 0),
                         qRgb(0, kBarLevel, kBarLevel),         qRgb(0, kBarLevel, 0),
                         qRgb(kBarLevel, 0, kBarLevel),         qRgb(kBarLevel, 0, 0),
                         qRgb(0, 0, kBarLevel)};
    for (int i = 0; i < 7; ++i) Fill(card, i * kWidth / 7, 0, (i + 1) * kWidth / 7, kRampTop, bars[i]);

    // Luma ramp, rows 384-511: 0 at the left to 255 at the right, in 5-pixel steps.
    for (int x = 0; x < kWidth; ++x) {
        const int v = x * 256 / kWidth;
        Fill(card, x, kRampTop, x + 1, kSweepTop, qRgb(v, v, v));
    }

    // Hue across, saturation falling from full at the top to none at the bottom, rows 512-767.
    for (int y = kSweepTop; y < kPatchTop; ++y) {
        const double saturation = 1.0 - (y - kSweepTop) / static_cast<double>(kPatchTop - kSweepTop - 1);
        auto* row = reinterpret_cast<QRgb*>(card.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            const double hue = x * 360.0 / kWidth;
            row[x] = QColor::fromHsvF(static_cast<float>(hue / 360.0), static_cast<float>(saturation), 0.9f).rgb();
        }
    }

    // Skin tones from light to deep, then black, 100 % white and a near-black step, rows 768-959.
    const QRgb patches[] = {qRgb(255, 224, 196), qRgb(241, 194, 167), qRgb(224, 172, 138), qRgb(198, 134, 94),
                            qRgb(161, 102, 70),  qRgb(120, 72, 48),   qRgb(82, 50, 36),    qRgb(0, 0, 0),
                            qRgb(255, 255, 255), qRgb(16, 16, 16)};
    constexpr int kPatches = sizeof patches / sizeof patches[0];
    for (int i = 0; i < kPatches; ++i)
        Fill(card, i * kWidth / kPatches, kPatchTop, (i + 1) * kWidth / kPatches, kHeight, patches[i]);
    return card;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_testcard OUTPUT.jpg\n");
        return 2;
    }
    return TestCard().save(argv[1], "JPG", 95) ? 0 : 1;
}
