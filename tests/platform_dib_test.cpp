#include <gtest/gtest.h>

#include <vector>

#include "platform/Dib.h"
#include "support.h"

using namespace vistrel;
using testing_support::Bgra;

TEST(Surface, ColourValuesBecomeOpaquePixels) {
    EXPECT_EQ(OpaquePixel(0x0000FF), 0xFFFF0000u);  // red
    EXPECT_EQ(OpaquePixel(0xFF0000), 0xFF0000FFu);  // blue
    EXPECT_EQ(OpaquePixel(0x8080), 0xFF808000u);    // the start-up lamp colour
    Surface s(3, 2, 0x00FF00);
    EXPECT_EQ(s.width(), 3);
    EXPECT_EQ(s.height(), 2);
    EXPECT_EQ(s.pixel(2, 1), 0x00FF00u);
    s.reset(0, 5, 0);
    EXPECT_TRUE(s.isNull());
}

TEST(Surface, AdoptedPicturesAreConvertedToTheSurfaceFormat) {
    QImage argb(2, 1, QImage::Format_ARGB32);
    argb.setPixel(0, 0, 0xFF102030);
    argb.setPixel(1, 0, 0xFFFFFFFF);
    Surface s(argb);
    EXPECT_EQ(s.image().format(), QImage::Format_RGB32);
    EXPECT_EQ(s.pixel(0, 0), 0x102030u);
}

TEST(DibHeader, TopDownHeaderFollowsTheStrideRule) {
    const auto h = TopDownHeader(412, 256);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 412);
    EXPECT_EQ(h.biHeight, -256);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 32);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 421888u);
    EXPECT_EQ(TopDownHeader(100, 256).biSizeImage, 102400u);
    EXPECT_EQ(DibStride(32, 32768), 131072u);
    EXPECT_EQ(DibStride(24, 3), 12u);  // padded to whole 32-bit words
}

TEST(DibTransfer, GetDIBitsReadsTopDownWithTheFourthByteCleared) {
    Surface s(3, 2, 0);
    s.row(0)[0] = 0xFF010203;
    s.row(0)[2] = 0xFF0A0B0C;
    s.row(1)[1] = 0xFFFFFFFF;
    std::vector<korvex::Pixel> bits(6, 0xDEADBEEF);
    const auto header = TopDownHeader(3, 2);
    EXPECT_EQ(GetDIBits(s, 0, 2, bits.data(), header), 2);
    EXPECT_EQ(bits, (std::vector<korvex::Pixel>{0x010203, 0, 0x0A0B0C, 0, 0xFFFFFF, 0}));
}

TEST(DibTransfer, SetDIBitsShowsEveryPixelOpaqueAndRoundTrips) {
    Surface s(2, 2, 0);
    const std::vector<korvex::Pixel> bits = {Bgra(1, 2, 3, 77), Bgra(4, 5, 6, 0), Bgra(7, 8, 9, 255), Bgra(10, 11, 12, 151)};
    EXPECT_EQ(SetDIBits(s, 0, 2, bits.data(), TopDownHeader(2, 2)), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(s.row(y)[x] >> 24, 0xFFu);
    EXPECT_EQ(s.pixel(1, 0), 0x060504u);
    EXPECT_EQ(s.pixel(0, 1), 0x090807u);
    std::vector<korvex::Pixel> back(4);
    GetDIBits(s, 0, 2, back.data(), TopDownHeader(2, 2));
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(back[i], bits[i] & 0xFFFFFFu);
}

TEST(DibTransfer, TransfersAreClippedToTheSurfaceAndTheBuffer) {
    Surface s(2, 2, 0);
    // A buffer wider and taller than the surface: its rows keep their own stride.
    std::vector<korvex::Pixel> bits = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(SetDIBits(s, 0, 3, bits.data(), TopDownHeader(3, 3)), 2);
    EXPECT_EQ(s.pixel(0, 1), 4u);
    EXPECT_EQ(s.pixel(1, 1), 5u);
    // Asking for fewer rows writes only those.
    Surface t(2, 2, 0);
    EXPECT_EQ(SetDIBits(t, 0, 1, bits.data(), TopDownHeader(2, 2)), 1);
    EXPECT_EQ(t.pixel(0, 1), 0u);
    // Degenerate requests do nothing.
    Surface empty;
    EXPECT_EQ(SetDIBits(empty, 0, 1, bits.data(), TopDownHeader(1, 1)), 0);
    EXPECT_EQ(GetDIBits(t, 0, 2, nullptr, TopDownHeader(2, 2)), 0);
    EXPECT_EQ(GetDIBits(t, 0, 0, bits.data(), TopDownHeader(2, 2)), 0);
}
