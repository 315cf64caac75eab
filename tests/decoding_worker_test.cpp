#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <csignal>
#include <string_view>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "dng_pictures.h"
#include "picture_bytes.h"
#include "support.h"
#include "decoding/Decode.h"
#include "decoding/PageBuffer.h"
#include "decoding/Readers.h"
#include "decoding/worker/PictureMemory.h"
#include "decoding/worker/WorkerClient.h"
#include "decoding/worker/WorkerMessages.h"

using namespace vistrel;
using namespace picture_bytes;

namespace {

constexpr ColorValue kBackground = 0x00336699;
using Kind = WorkerMessageKind;

struct Message {
    Kind kind;
    std::uint32_t first, second;
};

std::vector<std::uint8_t> Bytes(const std::vector<Message>& messages) {
    std::vector<std::uint8_t> bytes;
    for (const Message& m : messages) {
        const WorkerMessageBytes one = EncodeWorkerMessage(m.kind, m.first, m.second);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

std::vector<std::uint8_t> Raw(std::uint32_t kind, std::uint32_t first, std::uint32_t second) {
    std::vector<std::uint8_t> bytes(12);
    const std::uint32_t words[3] = {kind, first, second};
    std::memcpy(bytes.data(), words, sizeof words);
    return bytes;
}

const std::uint32_t kUnreadable = WorkerErrorCode(DecodeError::Unreadable);

// ---- the message reader ----------------------------------------------------

// A raw picture's camera and photosites, as a worker sends them.
RawPicture SomeRawPicture() {
    RawPicture raw;
    raw.camera = QStringLiteral("Phase One IQ4 150MP, a name longer than any message");
    RawPhotosites sites;
    sites.cfa = {'G', 'B', 'R', 'G'};
    sites.bits = 14;
    sites.black = {510, 65535, 0, 512};
    sites.white = 16383;
    sites.levels = {RawLevels{16383, 9000, 3}, RawLevels{16000, 16000, 0}, RawLevels{600, 0, 7}};
    raw.photosites = sites;
    return raw;
}

// A sensor's layout as a worker sends it before its photosites: 3 x 5, turned (flip 6)
// to the 5 x 3 picture of the tests here, GRBG.
RawSensor SomeSensor() {
    RawSensor sensor;
    sensor.width = 3;
    sensor.height = 5;
    sensor.repeat = 2;
    sensor.pattern[0] = RawSite::G1;
    sensor.pattern[1] = RawSite::R;
    sensor.pattern[2] = RawSite::B;
    sensor.pattern[3] = RawSite::G2;
    sensor.flip = 6;
    sensor.bits = 12;
    sensor.white = 4000;
    sensor.black = {256, 255, 257, 65535};
    return sensor;
}

// A PQ picture's counts for 15 pixels, as a worker sends them.
SignalStats SomeSignal() {
    SignalStats signal;
    signal.transfer = SignalTransfer::Pq;
    signal.pixels = 15;
    signal.outside = {3, 1, 0};
    signal.chromaticity.assign(512 * 512, 0);
    signal.chromaticity[1000] = 7;
    signal.chromaticity[512 * 512 - 1] = 7;
    SignalLight light;
    light.maxCll = 812.5;
    light.sumNits = 1500.25;
    light.histogram[10] = 5;
    light.histogram[700] = 10;
    signal.light = light;
    return signal;
}

TEST(WorkerMessages, AStreamReadsTheSameHoweverItIsSplit) {
    std::vector<std::uint8_t> stream = Bytes({{Kind::Size, 5, 3}, {Kind::Rows, 1, 0}, {Kind::Rows, 3, 0}});
    const QByteArray raw = EncodeWorkerSensor(SomeSensor()) + EncodeWorkerRaw(SomeRawPicture());
    stream.insert(stream.end(), raw.begin(), raw.end());
    const std::vector<std::uint8_t> done = Bytes({{Kind::Done, 0, 0}});
    stream.insert(stream.end(), done.begin(), done.end());
    // Every split into three pieces, the empty pieces included.
    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); ++b) {
            WorkerMessageReader reader(8);
            std::vector<WorkerEvent> events;
            ASSERT_TRUE(reader.Feed(stream.data(), a, events));
            ASSERT_TRUE(reader.Feed(stream.data() + a, b - a, events));
            EXPECT_EQ(reader.finished(), b == stream.size());
            ASSERT_TRUE(reader.Feed(stream.data() + b, stream.size() - b, events));
            ASSERT_TRUE(reader.finished());
            ASSERT_EQ(events.size(), 5u);
            EXPECT_EQ(events[0].kind, Kind::Size);
            EXPECT_EQ(events[0].width, 5);
            EXPECT_EQ(events[0].height, 3);
            EXPECT_EQ(events[1].rows, 1);
            EXPECT_EQ(events[2].rows, 3);
            // The sensor's layout is whole: its photosites may be read.
            EXPECT_EQ(events[3].kind, Kind::RawSensorBlack);
            EXPECT_EQ(events[4].kind, Kind::Done);
            EXPECT_EQ(reader.raw(), SomeRawPicture());
            const RawSensor want = SomeSensor();
            ASSERT_TRUE(reader.sensor());
            const RawSensor& got = *reader.sensor();
            EXPECT_EQ(std::tie(got.width, got.height, got.repeat, got.flip, got.bits, got.white, got.black, got.pattern),
                      std::tie(want.width, want.height, want.repeat, want.flip, want.bits, want.white, want.black, want.pattern));
        }
    }
}

// The signal's counts come back as they went, in pieces of any size; a picture of no
// PQ or HLG has no light, and one whose worker sent no counts has none.
TEST(WorkerMessages, SignalCountsReadBackAsTheyWereSent) {
    SignalStats sdr = SomeSignal();
    sdr.transfer = SignalTransfer::Sdr;
    sdr.light.reset();
    for (const std::optional<SignalStats>& sent : {std::optional(SomeSignal()), std::optional(sdr), std::optional<SignalStats>()}) {
        std::vector<std::uint8_t> stream = Bytes({{Kind::Size, 5, 3}, {Kind::Rows, 3, 0}});
        const QByteArray signal = (sent ? EncodeWorkerSignal(*sent) : QByteArray()) + EncodeWorkerDone({"Rec. 2020 PQ", true, true, 0});
        stream.insert(stream.end(), signal.begin(), signal.end());
        for (std::size_t piece = 1; piece <= 13; ++piece) {
            WorkerMessageReader reader(8);
            std::vector<WorkerEvent> events;
            for (std::size_t at = 0; at < stream.size(); at += piece)
                ASSERT_TRUE(reader.Feed(stream.data() + at, std::min(piece, stream.size() - at), events));
            ASSERT_TRUE(reader.finished());
            EXPECT_EQ(reader.colourSpace(), "Rec. 2020 PQ");
            ASSERT_EQ(reader.signal() != nullptr, sent.has_value());
            if (sent) {
                EXPECT_EQ(*reader.signal(), *sent);
            }
        }
    }
}

// Which pixels were clipped crosses band by band, each band in runs or as a map,
// whichever takes fewer messages, and reads back pixel for pixel: pixels scattered, in
// long runs across rows and bands, alone, filling a band, at every offset in a word.
TEST(WorkerMessages, ClippedPixelsCrossInRunsOrMapsWhicheverIsFewer) {
    std::mt19937 random(29);
    constexpr int kWidth = 61, kHeight = 97;  // no band starts on a whole word
    constexpr std::size_t kPixels = std::size_t{kWidth} * kHeight;
    const auto picture = [&](int pattern) {
        std::vector<bool> clipped(kPixels);
        for (std::size_t i = 0; i < kPixels; ++i) {
            switch (pattern) {
                case 0: clipped[i] = random() % 3 == 0; break;                // scattered
                case 1: clipped[i] = i % 1500 < 700; break;                    // runs across rows and bands
                case 2: clipped[i] = i == 4321; break;                         // one pixel
                case 3: clipped[i] = true; break;                              // all of them
                case 4: clipped[i] = (i / 7) % 5 == 0 || random() % 40 == 0; break;  // short runs and strays
                default: clipped[i] = i >= kPixels - 3; break;                 // the last pixels
            }
        }
        return clipped;
    };
    for (int pattern = 0; pattern < 6; ++pattern) {
        SCOPED_TRACE(pattern);
        const std::vector<bool> clipped = picture(pattern);
        std::vector<std::uint8_t> stream = Bytes({{Kind::Size, kWidth, kHeight}});
        std::uint64_t total = 0;
        std::size_t messages = 0;
        for (int first = 0; first < kHeight;) {
            const int rows = std::min(kHeight - first, 1 + int(random() % 30));
            const std::size_t from = std::size_t(first) * kWidth, count = std::size_t(rows) * kWidth;
            std::vector<std::uint64_t> bits((count + 63) / 64, 0);
            std::size_t runs = 0, low = count, high = 0;
            for (std::size_t i = 0; i < count; ++i) {
                if (!clipped[from + i]) continue;
                bits[i / 64] |= std::uint64_t{1} << (i % 64);
                runs += i == 0 || !clipped[from + i - 1];
                low = std::min(low, i), high = i;
                ++total;
            }
            const std::vector<std::uint8_t> told = Bytes({{Kind::Rows, std::uint32_t(first + rows), 0}});
            stream.insert(stream.end(), told.begin(), told.end());
            const QByteArray band = EncodeWorkerClipped(from, count, bits.data());
            const std::size_t fewest = runs == 0 ? 0 : std::min(runs, 1 + (high - low + 64) / 64);
            EXPECT_EQ(std::size_t(band.size()), fewest * kWorkerMessageBytes);
            messages += std::size_t(band.size()) / kWorkerMessageBytes;
            stream.insert(stream.end(), band.begin(), band.end());
            first += rows;
        }
        const QByteArray done = EncodeWorkerDone({"Adobe RGB (1998)", true, false, total});
        stream.insert(stream.end(), done.begin(), done.end());
        WorkerMessageReader reader(128);
        std::vector<WorkerEvent> events;
        for (std::size_t at = 0; at < stream.size(); at += 7)
            ASSERT_TRUE(reader.Feed(stream.data() + at, std::min<std::size_t>(7, stream.size() - at), events));
        ASSERT_TRUE(reader.finished());
        EXPECT_EQ(events.back().outOfGamut, total);
        const std::shared_ptr<const korvex::PixelMask> mask = reader.clipped();
        ASSERT_NE(mask, nullptr);
        EXPECT_EQ(mask->count(), total);
        for (std::size_t i = 0; i < kPixels; ++i) ASSERT_EQ(mask->marked(i), clipped[i]) << i;
        if (pattern == 3) {
            EXPECT_LE(messages, std::size_t(kHeight)) << "a band clipped whole is one run";
        }
    }
    // A picture with nothing clipped sends nothing, and keeps no mask.
    const std::vector<std::uint64_t> none(4, 0);
    EXPECT_TRUE(EncodeWorkerClipped(0, 200, none.data()).isEmpty());
    const std::vector<std::uint8_t> clean = Bytes({{Kind::Size, 4, 3}, {Kind::Rows, 3, 0}, {Kind::Done, 0, 1}});
    WorkerMessageReader reader(8);
    std::vector<WorkerEvent> events;
    ASSERT_TRUE(reader.Feed(clean.data(), clean.size(), events));
    EXPECT_EQ(reader.clipped(), nullptr);
}

TEST(WorkerMessages, FailuresMayComeFirstOrMidwayAndCarryTheirCode) {
    for (const DecodeError error :
         {DecodeError::Unreadable, DecodeError::TooLarge, DecodeError::TooManyPixelsForItsFile, DecodeError::OutOfMemory,
          DecodeError::NotFound, DecodeError::NotARegularFile, DecodeError::NotAPicture}) {
        for (const auto& prefix : {std::vector<Message>{}, std::vector<Message>{{Kind::Size, 4, 4}, {Kind::Rows, 2, 0}}}) {
            std::vector<Message> messages = prefix;
            messages.push_back({Kind::Failed, WorkerErrorCode(error), 0});
            const std::vector<std::uint8_t> stream = Bytes(messages);
            WorkerMessageReader reader(8);
            std::vector<WorkerEvent> events;
            ASSERT_TRUE(reader.Feed(stream.data(), stream.size(), events));
            EXPECT_TRUE(reader.finished());
            ASSERT_EQ(events.size(), prefix.size() + 1);
            EXPECT_EQ(events.back().kind, Kind::Failed);
            EXPECT_EQ(events.back().error, error);
        }
    }
}

TEST(WorkerMessages, AnythingMalformedEndsTheStreamWhereItStands) {
    const auto size = Raw(1, 4, 3);
    const auto rows2 = Raw(2, 2, 0);
    const auto all = Raw(2, 3, 0);
    const auto camera = Raw(6, 0x41u, 0);
    const std::uint32_t kRggb = 0x42474752u;  // 'R' 'G' 'G' 'B' in memory
    const std::uint32_t kWhite14 = 16383u | 14u << 16;
    struct Case {
        const char* what;
        std::vector<std::vector<std::uint8_t>> messages;  // the last one is the fault
    };
    const std::vector<Case> cases = {
        {"unknown kind 0", {Raw(0, 0, 0)}},
        {"unknown kind 5", {size, Raw(5, 0, 0)}},
        {"unknown kind 10", {size, Raw(10, 0, 0)}},
        {"zero width", {Raw(1, 0, 3)}},
        {"zero height", {Raw(1, 3, 0)}},
        {"width over the largest side", {Raw(1, 9, 3)}},
        {"height far over", {Raw(1, 3, 0xFFFFFFFFu)}},
        {"size twice", {size, Raw(1, 4, 3)}},
        {"rows before the size", {Raw(2, 1, 0)}},
        {"no rows", {size, Raw(2, 0, 0)}},
        {"rows past the height", {size, Raw(2, 4, 0)}},
        {"rows repeated", {size, rows2, rows2}},
        {"rows going back", {size, rows2, Raw(2, 1, 0)}},
        {"rows with a second word", {size, Raw(2, 1, 1)}},
        {"done before the size", {Raw(3, 0, 0)}},
        {"done short of the last row", {size, rows2, Raw(3, 0, 0)}},
        {"done with more clipped pixels than the picture has", {size, all, Raw(3, 13, 1)}},
        {"done with clipped pixels, yet not converted", {size, all, Raw(3, 1, 0)}},
        {"done tone-mapped, yet not converted", {size, all, Raw(3, 0, 2)}},
        {"done with flags no worker sends", {size, all, Raw(3, 0, 5)}},
        {"colour name before the size", {Raw(5, 0x41414141u, 0x41414141u)}},
        {"colour name with text after its zeros", {size, Raw(5, 0x41u, 0x41u)}},
        {"colour name after its end", {size, Raw(5, 0x41u, 0), Raw(5, 0x41u, 0)}},
        {"colour name over 64 bytes",
         {size, Raw(5, 0x41414141u, 0x41414141u), Raw(5, 0x41414141u, 0x41414141u), Raw(5, 0x41414141u, 0x41414141u),
          Raw(5, 0x41414141u, 0x41414141u), Raw(5, 0x41414141u, 0x41414141u), Raw(5, 0x41414141u, 0x41414141u),
          Raw(5, 0x41414141u, 0x41414141u), Raw(5, 0x41414141u, 0x41414141u), Raw(5, 0x41u, 0)}},
        {"raw camera before the size", {Raw(6, 0x41414141u, 0)}},
        {"raw layout before the camera", {size, Raw(7, kRggb, kWhite14)}},
        {"raw camera after the layout", {size, camera, Raw(7, kRggb, kWhite14), Raw(6, 0x41u, 0)}},
        {"raw layout with a colour no filter has", {size, camera, Raw(7, 0x47474743u, kWhite14)}},
        {"raw white level over its bits", {size, camera, Raw(7, kRggb, 16383u | 13u << 16)}},
        {"raw white level of no bits", {size, camera, Raw(7, kRggb, 0)}},
        {"raw layout twice", {size, camera, Raw(7, kRggb, kWhite14), Raw(7, kRggb, kWhite14)}},
        {"raw levels before the black levels", {size, camera, Raw(7, kRggb, kWhite14), Raw(9, 100, 0)}},
        {"raw black levels before the layout", {size, camera, Raw(8, 0, 0)}},
        {"raw p99 over the max", {size, camera, Raw(7, kRggb, kWhite14), Raw(8, 0, 0), Raw(9, 100 | 101u << 16, 0)}},
        {"raw photosites at white beyond the picture's pixels",
         {size, camera, Raw(7, kRggb, kWhite14), Raw(8, 0, 0), Raw(9, 100, 7), Raw(9, 100, 6)}},
        {"a fourth colour's raw levels",
         {size, camera, Raw(7, kRggb, kWhite14), Raw(8, 0, 0), Raw(9, 0, 0), Raw(9, 0, 0), Raw(9, 0, 0), Raw(9, 0, 0)}},
        {"done with the photosites half told", {size, all, camera, Raw(7, kRggb, kWhite14), Raw(8, 0, 0), Raw(3, 0, 0)}},
        // The signal's counts: after the last row, whole, in order, within the picture.
        // A sensor's layout: after the last row, before the camera, whole and in order,
        // one of the two filter arrays, turned to within a factor of two of the picture.
        {"sensor before the last row", {size, rows2, Raw(20, 4, 3)}},
        {"sensor after the camera", {size, all, camera, Raw(20, 4, 3)}},
        {"sensor of no width", {size, all, Raw(20, 0, 3)}},
        {"sensor over the largest side", {size, all, Raw(20, 4, 9)}},
        {"sensor layout before the sensor", {size, all, Raw(21, 2, kWhite14)}},
        {"sensor repeat of 3", {size, all, Raw(20, 4, 3), Raw(21, 3, kWhite14)}},
        {"sensor turn beyond the flip bits", {size, all, Raw(20, 4, 3), Raw(21, 2 | 8u << 8, kWhite14)}},
        {"sensor more than twice the picture's height", {size, all, Raw(20, 4, 7), Raw(21, 2, kWhite14)}},
        {"sensor turned, less than half the picture's width", {size, all, Raw(20, 8, 1), Raw(21, 2 | 4u << 8, kWhite14)}},
        {"sensor white level over its bits", {size, all, Raw(20, 4, 3), Raw(21, 2, 16383u | 13u << 16)}},
        {"sensor pattern row out of order", {size, all, Raw(20, 4, 3), Raw(21, 2, kWhite14), Raw(22, 1, 0x32)}},
        {"sensor pattern of a class no array has", {size, all, Raw(20, 4, 3), Raw(21, 2, kWhite14), Raw(22, 0, 0x14)}},
        {"sensor pattern row longer than the array", {size, all, Raw(20, 4, 3), Raw(21, 2, kWhite14), Raw(22, 0, 0x310)}},
        {"sensor pattern of two reds", {size, all, Raw(20, 4, 3), Raw(21, 2, kWhite14), Raw(22, 0, 0x00), Raw(22, 1, 0x32), Raw(23, 0, 0)}},
        {"sensor black levels before the last pattern row", {size, all, Raw(20, 4, 3), Raw(21, 2, kWhite14), Raw(22, 0, 0x10), Raw(23, 0, 0)}},
        {"sensor pattern rows past the array", {size, all, Raw(20, 4, 3), Raw(21, 2, kWhite14), Raw(22, 0, 0x10), Raw(22, 1, 0x32), Raw(22, 2, 0x10)}},
        {"X-Trans with a second green", {size, all, Raw(20, 4, 3), Raw(21, 6, kWhite14), Raw(22, 0, 0x200000)}},
        {"a second sensor", {size, all, Raw(20, 4, 3), Raw(21, 2, kWhite14), Raw(22, 0, 0x10), Raw(22, 1, 0x32), Raw(23, 0, 0), Raw(20, 4, 3)}},
        {"done with the sensor half told", {size, all, Raw(20, 4, 3), Raw(21, 2, kWhite14), Raw(3, 0, 0)}},
        {"done with a sensor and no camera", {size, all, Raw(20, 4, 3), Raw(21, 2, kWhite14), Raw(22, 0, 0x10), Raw(22, 1, 0x32), Raw(23, 0, 0), Raw(3, 0, 0)}},
        {"signal before the last row", {size, rows2, Raw(10, 0, 0)}},
        {"signal of a transfer no worker names", {size, all, Raw(10, 3, 0)}},
        {"signal head twice", {size, all, Raw(10, 0, 0), Raw(10, 0, 0)}},
        {"signal gamuts out of order", {size, all, Raw(10, 0, 0), Raw(11, 1, 0)}},
        {"signal outside more than the picture has", {size, all, Raw(10, 0, 0), Raw(11, 0, 13)}},
        {"signal cell before the gamuts", {size, all, Raw(10, 0, 0), Raw(11, 0, 0), Raw(15, 0, 1)}},
        {"signal light for SDR", {size, all, Raw(10, 0, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(12, 0, 0)}},
        {"signal MaxCLL over PQ's peak", {size, all, Raw(10, 1, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(12, 0, 0x40C38880u)}},
        {"signal MaxCLL not a number", {size, all, Raw(10, 1, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(12, 0, 0x7FF80000u)}},
        {"signal light's sum over every pixel at MaxCLL",
         {size, all, Raw(10, 1, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(12, 0, 0x408F4000u), Raw(13, 0, 0x40C96400u)}},
        {"signal light bins short of the pixels",
         {size, all, Raw(10, 2, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(12, 0, 0x408F4000u), Raw(13, 0, 0), Raw(14, 5, 11), Raw(15, 0, 1)}},
        {"signal light bins beyond the pixels",
         {size, all, Raw(10, 1, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(12, 0, 0x408F4000u), Raw(13, 0, 0), Raw(14, 5, 12), Raw(14, 6, 1)}},
        {"signal light bin repeated",
         {size, all, Raw(10, 1, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(12, 0, 0x408F4000u), Raw(13, 0, 0), Raw(14, 5, 1), Raw(14, 5, 1)}},
        {"signal light bin past the last",
         {size, all, Raw(10, 1, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(12, 0, 0x408F4000u), Raw(13, 0, 0), Raw(14, 1024, 12)}},
        {"done with the light bins short",
         {size, all, Raw(10, 1, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(12, 0, 0x408F4000u), Raw(13, 0, 0), Raw(14, 5, 11), Raw(3, 0, 0)}},
        {"signal cell past the last", {size, all, Raw(10, 0, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(15, 262144, 1)}},
        {"signal cells beyond the pixels", {size, all, Raw(10, 0, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(15, 0, 12), Raw(15, 1, 1)}},
        {"signal cells going back", {size, all, Raw(10, 0, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(15, 9, 1), Raw(15, 8, 1)}},
        {"signal cell of no pixels", {size, all, Raw(10, 0, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(15, 3, 0)}},
        {"done with the signal half told", {size, all, Raw(10, 0, 0), Raw(11, 0, 0), Raw(3, 0, 0)}},
        {"signal after the colour name", {size, all, Raw(5, 0x41u, 0), Raw(10, 0, 0)}},
        // Which pixels were clipped: within the rows written, in order, whole, as many as done says.
        {"clipped pixels before the size", {Raw(24, 0, 1)}},
        {"clipped pixels in rows not yet written", {size, rows2, Raw(24, 7, 2)}},
        {"a run of no pixels", {size, all, Raw(24, 3, 0)}},
        {"runs going back", {size, all, Raw(24, 5, 2), Raw(24, 6, 1)}},
        {"a run past the picture", {size, all, Raw(24, 0xFFFFFFFFu, 2)}},
        {"a map of no pixels", {size, all, Raw(25, 0, 0)}},
        {"map bits without a map", {size, all, Raw(26, 1, 0)}},
        {"map bits past the map", {size, all, Raw(25, 0, 3), Raw(26, 0x9u, 0)}},
        {"a map whose first pixel is not clipped", {size, all, Raw(25, 0, 3), Raw(26, 0x6u, 0)}},
        {"a map whose last pixel is not clipped", {size, all, Raw(25, 0, 3), Raw(26, 0x3u, 0)}},
        {"rows while a map is read", {size, rows2, Raw(25, 0, 3), Raw(2, 3, 0)}},
        {"a run inside the map before it", {size, all, Raw(25, 2, 3), Raw(26, 0x5u, 0), Raw(24, 4, 1)}},
        {"done with fewer clipped than told", {size, all, Raw(24, 0, 2), Raw(3, 1, 1)}},
        {"done with more clipped than told", {size, all, Raw(24, 0, 2), Raw(3, 3, 1)}},
        {"done with clipped pixels told, none counted", {size, all, Raw(24, 0, 2), Raw(3, 0, 1)}},
        {"clipped pixels after the colour name", {size, all, Raw(5, 0x41u, 0), Raw(24, 0, 1)}},
        {"clipped pixels after the signal", {size, all, Raw(10, 0, 0), Raw(11, 0, 0), Raw(11, 1, 0), Raw(11, 2, 0), Raw(24, 0, 1)}},
        {"clipped pixels after the sensor", {size, all, Raw(20, 4, 3), Raw(24, 0, 1)}},
        {"failure code zero", {Raw(4, 0, 0)}},
        {"failure: empty name", {Raw(4, WorkerErrorCode(DecodeError::EmptyName), 0)}},
        {"failure: cancelled", {Raw(4, WorkerErrorCode(DecodeError::Cancelled), 0)}},
        // Only the program can tell that its worker stopped.
        {"failure: worker stopped", {Raw(4, WorkerErrorCode(DecodeError::WorkerStopped), 0)}},
        {"failure code unknown", {size, Raw(4, 99, 0)}},
        {"failure with a second word", {Raw(4, kUnreadable, 1)}},
        {"a message after done", {size, all, Raw(3, 0, 0), Raw(2, 3, 0)}},
        {"a byte after done", {size, all, Raw(3, 0, 0), {0}}},
        {"a byte after a failure", {Raw(4, kUnreadable, 0), {7}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WorkerMessageReader reader(8);
        std::vector<WorkerEvent> events;
        for (std::size_t i = 0; i + 1 < c.messages.size(); ++i)
            ASSERT_TRUE(reader.Feed(c.messages[i].data(), c.messages[i].size(), events));
        const std::size_t before = events.size();
        const auto& fault = c.messages.back();
        EXPECT_FALSE(reader.Feed(fault.data(), fault.size(), events));
        EXPECT_TRUE(reader.malformed());
        EXPECT_FALSE(reader.finished());
        EXPECT_EQ(events.size(), before);
        // And it stays so: even a valid ending is not taken.
        const auto done = Raw(3, 0, 0);
        EXPECT_FALSE(reader.Feed(done.data(), done.size(), events));
        EXPECT_EQ(events.size(), before);
    }
}

// Random streams, made mostly of messages near validity: whatever the reader accepts
// keeps its promises (sizes in range, rows growing within the height, done only
// after the last row, nothing after the end).
TEST(WorkerMessages, AcceptedStreamsKeepTheirPromisesOverRandomInput) {
    std::mt19937 random(13);
    const std::uint32_t interesting[] = {0, 1, 2, 3, 7, 8, 9, 0xFFFFFFFFu, 0x80000000u};
    int finishedStreams = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        std::vector<std::uint8_t> stream;
        const int count = static_cast<int>(random() % 6);
        for (int i = 0; i < count; ++i) {
            const auto message = Raw(random() % 10, interesting[random() % 9], random() % 4 == 0 ? 1 : 0);
            stream.insert(stream.end(), message.begin(), message.end());
        }
        if (random() % 4 == 0 && !stream.empty()) stream.pop_back();
        WorkerMessageReader reader(8);
        std::vector<WorkerEvent> events;
        std::size_t at = 0;
        while (at < stream.size()) {
            const std::size_t piece = std::min<std::size_t>(stream.size() - at, 1 + random() % 13);
            reader.Feed(stream.data() + at, piece, events);
            at += piece;
        }
        int width = -1, height = -1, rows = 0;
        bool ended = false;
        for (const WorkerEvent& e : events) {
            ASSERT_FALSE(ended);
            switch (e.kind) {
                case Kind::Size:
                    ASSERT_EQ(height, -1);
                    ASSERT_TRUE(e.width >= 1 && e.width <= 8 && e.height >= 1 && e.height <= 8);
                    width = e.width;
                    height = e.height;
                    break;
                case Kind::Rows:
                    ASSERT_TRUE(e.rows > rows && e.rows <= height);
                    rows = e.rows;
                    break;
                case Kind::Done:
                    ASSERT_EQ(rows, height);
                    ASSERT_LE(e.outOfGamut, std::uint64_t(width) * std::uint64_t(height));
                    ended = true;
                    break;
                case Kind::Failed:
                    ended = true;
                    break;
                case Kind::ColourName:
                case Kind::RawCamera:
                case Kind::RawLayout:
                case Kind::RawBlack:
                case Kind::RawLevels:
                case Kind::SignalHead:
                case Kind::SignalOutside:
                case Kind::SignalLightMax:
                case Kind::SignalLightSum:
                case Kind::SignalLightBin:
                case Kind::SignalCell:
                case Kind::ClipRun:
                case Kind::ClipMap:
                case Kind::ClipBits:
                case Kind::RawSensor:
                case Kind::RawSensorLayout:
                case Kind::RawSensorPattern:
                case Kind::RawSensorBlack:
                    FAIL() << "the reader keeps what they say; they are no events (and no sensor is sent here)";
            }
        }
        // A raw picture's photosites are whole and within the picture.
        if (const std::optional<RawPicture> raw = reader.raw(); raw && raw->photosites) {
            std::uint64_t atWhite = 0;
            for (const RawLevels& levels : raw->photosites->levels) {
                ASSERT_LE(levels.p99, levels.max);
                atWhite += levels.atWhite;
            }
            ASSERT_LE(atWhite, std::uint64_t(std::max(width, 0)) * std::uint64_t(std::max(height, 0)));
            ASSERT_FALSE(raw->camera.isEmpty());
        }
        // Bytes after the end make the stream malformed, its events stay as they were.
        if (!reader.malformed()) {
            EXPECT_EQ(reader.finished(), ended);
        }
        finishedStreams += ended;
    }
    EXPECT_GT(finishedStreams, 100);  // the generator reaches the ends, not only the faults
}

// ---- the worker, end to end -------------------------------------------------

QByteArray Encode(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(image)) << format;
    return bytes;
}

QImage Pattern(int width, int height, bool alpha = false) {
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 255 / width, y * 255 / height, (x * 7 + y * 3) % 256, alpha ? (x + y) % 256 : 255));
    return image;
}

std::vector<std::string> Children() {
    std::vector<std::string> children;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream file(("/proc/self/task/" + task + "/children").toStdString());
        std::string pid;
        while (file >> pid) children.push_back(pid);
    }
    return children;
}

// True once this process has no child at all. A worker that has delivered its picture
// is reaped on a thread of its own, so a child may linger for a moment; a zombie or a
// worker nobody ended never goes, and the wait then gives up.
bool NoChildrenLeft() {
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (Children().empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Every descriptor.
int OpenFds() {
    const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<int>(std::distance(std::filesystem::begin(entries), std::filesystem::end(entries)));
}

// Picture buffers still held once every dropped picture has been given back.
int SharedBuffersMapped() {
    WaitForReleasedPictures();
    return PictureBuffersHeld();
}

// Whether this address lies in a mapping of this process's.
bool Mapped(const void* at) {
    std::ifstream maps("/proc/self/maps");
    const auto address = reinterpret_cast<std::uintptr_t>(at);
    std::uintptr_t first = 0, end = 0;
    char dash = 0;
    std::string rest;
    while (maps >> std::hex >> first >> dash >> end && std::getline(maps, rest))
        if (first <= address && address < end) return true;
    return false;
}

// Records what the worker's receiver is told, and may stop it.
class Recorder final : public RowReceiver {
public:
    int stopAtRows = -1;  // RowsReady with at least this many rows answers false
    bool stopAtStart = false;
    const uchar* bits = nullptr;
    int height = 0;
    std::vector<int> rows;
    bool PictureStarted(Surface& picture) override {
        bits = picture.image().constBits();
        height = picture.height();
        return !stopAtStart;
    }
    bool RowsReady(int n) override {
        EXPECT_NE(bits, nullptr);
        if (!rows.empty()) {
            EXPECT_GT(n, rows.back());
        }
        rows.push_back(n);
        return stopAtRows < 0 || n < stopAtRows;
    }
    // Told once the picture it started on is about to be freed.
    void PictureDropped() override {
        EXPECT_NE(bits, nullptr);
        dropped = true;
    }
    bool dropped = false;
};

// What the workers write on standard error while this lives, as the program logs it.
class DecoderLog {
public:
    DecoderLog() {
        lines_ = &lines;
        previous_ = qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& line) {
            if (std::string_view(context.category) == "vistrel.decoding.messages") lines_->append(line);
        });
    }
    ~DecoderLog() { qInstallMessageHandler(previous_); }
    qsizetype bytes() const {
        qsizetype total = 0;
        for (const QString& line : lines) total += line.size();
        return total;
    }
    QStringList lines;

private:
    static inline QStringList* lines_ = nullptr;
    QtMessageHandler previous_ = nullptr;
};

// The test build of the worker, misbehaving as asked.
DecodeWorkerOptions FaultyWorker(const std::string& fault) {
    DecodeWorkerOptions options;
    options.executable = QStringLiteral(VISTREL_BINARY_DIR "/vistrel-decoder-test");
    options.arguments = {QString::fromStdString("--fault=" + fault)};
    return options;
}

class Worker : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
    QTemporaryDir dir;
};

void ExpectSameDecode(const QString& file, bool mustDecode = false) {
    SCOPED_TRACE(file.toStdString());
    const DecodeResult here = DecodePicture(file, kBackground);
    if (mustDecode) {
        EXPECT_TRUE(here) << "error " << int(here.error);
    }
    Recorder recorder;
    const DecodeResult there = DecodeInWorker(file, kBackground, &recorder);
    ASSERT_EQ(bool(here), bool(there));
    EXPECT_EQ(here.error, there.error);
    if (!here) return;
    EXPECT_EQ(here.raw, there.raw);
    const QImage& a = here.surface->image();
    const QImage& b = there.surface->image();
    ASSERT_EQ(a.size(), b.size());
    for (int y = 0; y < a.height(); ++y)
        ASSERT_EQ(std::memcmp(a.constScanLine(y), b.constScanLine(y), std::size_t(a.width()) * 4), 0) << "row " << y;
    // The receiver saw the very buffer returned, and every row arrive.
    EXPECT_EQ(recorder.bits, b.constBits());
    ASSERT_FALSE(recorder.rows.empty());
    EXPECT_EQ(recorder.rows.back(), b.height());
}

// A picture of every kind the readers take, in the depths and layouts their libraries
// treat apart; the large ones are above the size at which Qt's conversions split their
// rows over threads, which once made the confined worker call what its filter refused.
struct ValidPicture {
    const char* name;
    QByteArray bytes;
};

QByteArray Progressive(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

std::vector<ValidPicture> ValidPictures(int width, int height) {
    const QImage opaque = Pattern(width, height);
    const QImage alpha = Pattern(width, height, true);
    std::vector<ValidPicture> pictures;
    for (const char* format : {"png", "tiff"}) {
        pictures.push_back({"", Encode(opaque, format)});
        pictures.push_back({"", Encode(alpha, format)});
        pictures.push_back({"", Encode(opaque.convertToFormat(QImage::Format_Grayscale8), format)});
        pictures.push_back({"", Encode(opaque.convertToFormat(QImage::Format_Grayscale16), format)});
        pictures.push_back({"", Encode(opaque.convertToFormat(QImage::Format_RGBX64), format)});
        pictures.push_back({"", Encode(alpha.convertToFormat(QImage::Format_RGBA64), format)});
        pictures.push_back({"", Encode(opaque.convertToFormat(QImage::Format_Indexed8), format)});
        pictures.push_back({"", Encode(opaque.convertToFormat(QImage::Format_Mono), format)});
    }
    static const char* const kDepthNames[] = {"rgb", "rgba", "grey8", "grey16", "rgb16", "rgba16", "palette", "bilevel"};
    for (std::size_t i = 0; i < pictures.size(); ++i) pictures[i].name = kDepthNames[i % std::size(kDepthNames)];
    pictures.push_back({"jpeg", Encode(opaque, "jpeg")});
    pictures.push_back({"jpeg-grey", Encode(opaque.convertToFormat(QImage::Format_Grayscale8), "jpeg")});
    pictures.push_back({"jpeg-progressive", Progressive(opaque)});
    pictures.push_back({"webp", Encode(opaque, "webp")});
    pictures.push_back({"webp-alpha", Encode(alpha, "webp")});
    pictures.push_back({"bmp", Encode(opaque, "bmp")});
    pictures.push_back({"bmp-palette", Encode(opaque.convertToFormat(QImage::Format_Indexed8), "bmp")});
    GifFrame frame;
    for (int i = 0; i < width * height; ++i) frame.indices.push_back(static_cast<unsigned char>(i % 4));
    frame.transparentIndex = 3;
    pictures.push_back({"gif-two-frames", MakeGif(width, height, {frame, frame})});
    dng_pictures::Description dng;
    dng.width = std::uint32_t(width);
    dng.height = std::uint32_t(height);
    dng.withPreview = true;
    dng.orientation = 6;
    dng.dateTime = "2025:01:02 03:04:05";  // LibRaw reads it through the C library's time functions
    pictures.push_back({"dng", dng_pictures::DngBytes(dng, dng_pictures::Scene(dng))});
    return pictures;
}

TEST_F(Worker, EveryKindOfPictureDecodesToTheSamePixelsAsInProcess) {
    for (const auto& [width, height] : {std::pair{61, 37}, std::pair{2000, 1500}}) {
        int n = 0;
        for (const ValidPicture& picture : ValidPictures(width, height))
            ExpectSameDecode(write(QString("%1-%2-%3").arg(width).arg(n++).arg(picture.name), picture.bytes), true);
    }
    ExpectSameDecode(write("qt.ico", Encode(Pattern(48, 48, true), "ico")));
    ExpectSameDecode(write("qt.icns", Encode(Pattern(256, 256, true), "icns")), true);
    ExpectSameDecode(write("multi.ico", MakeIco({{16, qRgba(255, 0, 0, 255)}, {32, qRgba(0, 0, 255, 128), true}})));
    ExpectSameDecode(write("rect.wmf", MakeWmf()));
}

TEST_F(Worker, BrokenFilesFailAlikeInProcessAndInTheWorker) {
    const QByteArray jpeg = Encode(Pattern(200, 100), "jpeg");
    ExpectSameDecode(write("cut.jpg", jpeg.left(jpeg.size() / 2)));
    ExpectSameDecode(write("noise.png", QByteArray(300, '\x5a')));
    ExpectSameDecode(write("empty.png", QByteArray()));
    ExpectSameDecode(write("wide.bmp", BmpHeaderOnly(kMaxPictureSide + 1, 1)));
    ExpectSameDecode(write("flat.bmp", BmpHeaderOnly(1, 0)));
    const QByteArray wmf = MakeWmf();
    ExpectSameDecode(write("cut.wmf", wmf.left(22 + 18 + 7)));
    ExpectSameDecode(dir.filePath("missing.png"));
    ExpectSameDecode(dir.path());
    ExpectSameDecode("");
}

// This process's threads of that name.
int ThreadsNamed(const std::string& name) {
    int count = 0;
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed().toStdString() == name) ++count;
    }
    return count;
}

// The one child left once finished workers are reaped, when it is not the one before.
std::optional<std::string> OnlyChildOtherThan(const std::string& before) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        const std::vector<std::string> children = Children();
        if (children.size() == 1 && children.front() != before) return children.front();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

TEST_F(Worker, AWorkerKeptReadyTakesEachDecodeAndAnotherWaitsAfterIt) {
    const QString jpeg = write("big.jpg", Encode(Pattern(1600, 1200), "jpeg"));
    const QString png = write("alpha.png", Encode(Pattern(61, 37, true), "png"));
    const QString broken = write("cut.jpg", Encode(Pattern(200, 100), "jpeg").left(700));
    const int fds = OpenFds();
    KeepWorkerReady(true);
    std::optional<std::string> waiting = OnlyChildOtherThan("");
    ASSERT_TRUE(waiting);
    for (const QString& file : {jpeg, png, broken, jpeg}) {
        ExpectSameDecode(file);
        // The waiting worker did the decode (it is gone), and a new one waits in its place.
        waiting = OnlyChildOtherThan(*waiting);
        ASSERT_TRUE(waiting);
    }
    // A relative name means the program's current folder, not the one the worker started in.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    ExpectSameDecode("alpha.png");
    ASSERT_TRUE(QDir::setCurrent(before));
    waiting = OnlyChildOtherThan(*waiting);
    ASSERT_TRUE(waiting);
    // A waiting worker that has died is passed over: the decode starts one of its own.
    ::kill(std::stoi(*waiting), SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ExpectSameDecode(png);
    // The thread that keeps it is named, and the program's end takes it and its worker.
    waiting = OnlyChildOtherThan("");
    ASSERT_TRUE(waiting);
    EXPECT_EQ(ThreadsNamed("vistrel-standby"), 1);
    EndWorkers();
    EXPECT_EQ(ThreadsNamed("vistrel-standby"), 0);
    EXPECT_TRUE(Children().empty()) << "the waiting worker was reaped before the end returned";
    KeepWorkerReady(true);
    EXPECT_TRUE(OnlyChildOtherThan(*waiting));
    KeepWorkerReady(false);
    EXPECT_TRUE(NoChildrenLeft());
    EXPECT_EQ(OpenFds(), fds);
    EXPECT_EQ(SharedBuffersMapped(), 0);
}

TEST_F(Worker, MisbehavingWorkersEndInACleanFailure) {
    const QString file = write("fine.png", Encode(Pattern(64, 48), "png"));
    const int fds = OpenFds();
    // "short": done told with the rows pipe a byte short of the picture, which would leave
    // a kept buffer's last picture showing through.
    for (const std::string& fault :
         std::vector<std::string>{"crash", "hang", "garbage", "oversize", "backwards", "short", "quit"}) {
        SCOPED_TRACE(fault);
        DecodeWorkerOptions options = FaultyWorker(fault);
        options.watchdog = std::chrono::milliseconds(1500);
        Recorder recorder;
        const DecodeResult result = DecodeInWorker(file, kBackground, &recorder, options);
        EXPECT_FALSE(result);
        EXPECT_EQ(result.error, DecodeError::WorkerStopped);
        EXPECT_TRUE(NoChildrenLeft());
        EXPECT_EQ(OpenFds(), fds);
        EXPECT_EQ(SharedBuffersMapped(), 0);
    }
    // The shipped worker takes no such request: it refuses to start.
    DecodeWorkerOptions shipped = FaultyWorker("crash");
    shipped.executable = QStringLiteral(VISTREL_BINARY_DIR "/vistrel-decoder");
    EXPECT_FALSE(DecodeInWorker(file, kBackground, nullptr, shipped));
    // And the next worker, well behaved, is unaffected.
    ExpectSameDecode(file);
}

// A worker taken over by its file, trying each way out once it is confined: the filter
// stops every one, the log names the call, and nothing it tried happened.
TEST_F(Worker, EveryWayOutOfTheConfinementIsStoppedAndNamed) {
    const QString file = write("fine.png", Encode(Pattern(64, 48), "png"));
    const std::string folder = dir.filePath("made-by-worker").toStdString();
    const std::string written = dir.filePath("written-by-worker").toStdString();
    const int fds = OpenFds();
    const std::string stopped = "vistrel-decoder: stopped by the system-call filter at ";
    const std::pair<std::string, std::string> calls[] = {
        {"mkdir:" + folder, stopped + "mkdir"},
        {"mmap", stopped + "mmap"},          // executable memory, mapped
        {"mprotect", stopped + "mprotect"},  // or made so
        {"clone", stopped + "clone"},        // a process, not a thread
        {"fork", stopped + "fork"},
        {"vfork", stopped + "vfork"},
        // clone3's arguments lie in memory the filter cannot read: it fails as if the
        // kernel had none, so that the C library makes its threads with clone.
        {"clone3", "vistrel-decoder: clone3 returned -1 (ENOSYS)"},
        {"execve", stopped + "execve"},
        {"execveat", stopped + "execveat"},
        {"socket", stopped + "socket"},
        {"kill", stopped + "kill"},  // the program
        // What the filter allows only in part, tried the way it does not: a file opened
        // for writing (where the kernel has no Landlock, every open fails instead), the
        // handler of refused calls replaced, the memory made open to a debugger, the
        // program's limits, another descriptor written, an ioctl a pipe would answer, a
        // descriptor copied.
        {"openat:" + written, stopped + "openat"},
        {"rt_sigaction", stopped + "rt_sigaction"},
        {"prctl", stopped + "prctl"},
        {"prlimit64", stopped + "prlimit64"},
        {"writev", stopped + "writev"},
        {"ioctl", "vistrel-decoder: ioctl returned -1 (ENOTTY)"},
        {"fcntl", stopped + "fcntl"},
    };
    for (const auto& [call, line] : calls) {
        SCOPED_TRACE(call);
        DecoderLog log;
        const DecodeResult result = DecodeInWorker(file, kBackground, nullptr, FaultyWorker("forbidden:" + call));
        EXPECT_EQ(result.error, DecodeError::WorkerStopped);
        const QStringList refusedOpen{QStringLiteral("vistrel-decoder: openat returned -1 (EACCES)")};
        const bool openRefused = call.starts_with("openat") && log.lines == refusedOpen;
        EXPECT_EQ(log.lines, openRefused ? refusedOpen : QStringList{QString::fromStdString(line)});
        EXPECT_TRUE(NoChildrenLeft());
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_FALSE(std::filesystem::exists(written));
    EXPECT_EQ(OpenFds(), fds);
}

// A worker taken over by its file, trying what such a worker would once it is confined.
TEST_F(Worker, ATakenOverWorkerReachesNothingButItsPicture) {
    const QString file = write("fine.png", Encode(Pattern(64, 48), "png"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("private"));
    const QString secret = write("private/secret.txt", "the user's own");
    ASSERT_TRUE(QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner));
    ::setenv("VISTREL_TEST_SECRET", "1", 1);
    // A descriptor the program left open to children by mistake, on the private file.
    const int leaked = ::open(QFile::encodeName(secret).constData(), O_RDONLY);
    ASSERT_GE(leaked, 0);
    {
        DecoderLog log;
        const DecodeResult result = DecodeInWorker(file, kBackground, nullptr, FaultyWorker("probe:" + secret.toStdString()));
        EXPECT_TRUE(result);
        // Neither the private file nor the program's memory opens; nothing of the
        // program's environment or working folder is there; it holds its standard
        // streams, the report, go and rows pipes, and no other
        // descriptor. (A sanitized build passes its sanitizers' options on; the two
        // variables always there are the worker's own: OpenMP's wait policy and the
        // allocator's huge pages.)
        const int sanitizerOptions = testing_support::kUnderAddressSanitizer ? 3 : 0;
        ASSERT_EQ(log.lines.size(), 1) << log.lines.join('\n').toStdString();
        EXPECT_EQ(log.lines[0].section(" environment=", 0, 0), "probe private=refused memory=refused");
        const int variables = log.lines[0].section("environment=", 1).section(' ', 0, 0).toInt();
        EXPECT_GE(variables, 2);
        EXPECT_LE(variables, 2 + sanitizerOptions);
        EXPECT_TRUE(log.lines[0].endsWith(" folder=/ descriptors=0,1,2,3,4,5")) << log.lines[0].toStdString();
    }
    ::close(leaked);
    ::unsetenv("VISTREL_TEST_SECRET");
    {
        // A flood on standard error reaches neither the terminal nor the log past its cap.
        DecoderLog log;
        EXPECT_TRUE(DecodeInWorker(file, kBackground, nullptr, FaultyWorker("flood")));
        EXPECT_GT(log.bytes(), 32 * 1024);
        EXPECT_LE(log.bytes(), 64 * 1024 + 200);
    }
    EXPECT_TRUE(NoChildrenLeft());
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE), 0) << "the program's memory is open to processes of the same user";
}

// However large its file, a worker that tells nothing new is ended after the stall limit.
TEST_F(Worker, AStalledWorkerIsEndedWhateverItsFileSize) {
    const QString file = write("huge.png", Encode(Pattern(64, 48), "png"));
    ASSERT_EQ(::truncate(QFile::encodeName(file).constData(), off_t{4} << 30), 0);  // 4 GiB, sparse
    DecodeWorkerOptions options = FaultyWorker("hang");
    options.stall = std::chrono::milliseconds(500);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(DecodeInWorker(file, kBackground, nullptr, options));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_TRUE(NoChildrenLeft());
}

TEST_F(Worker, TheReceiverStopsTheWorkerAtOnce) {
    const QString file = write("big.jpg", Encode(Pattern(1600, 1200), "jpeg"));
    const int fds = OpenFds();
    for (const bool atStart : {true, false}) {
        Recorder recorder;
        recorder.stopAtStart = atStart;
        recorder.stopAtRows = 1;
        const DecodeResult result = DecodeInWorker(file, kBackground, &recorder);
        EXPECT_FALSE(result);
        EXPECT_EQ(result.error, DecodeError::Cancelled);
        EXPECT_EQ(recorder.rows.size(), atStart ? 0u : 1u);
        EXPECT_LT(recorder.rows.empty() ? 0 : recorder.rows.back(), 1200);
        EXPECT_TRUE(recorder.dropped);
        EXPECT_TRUE(NoChildrenLeft());
        EXPECT_EQ(OpenFds(), fds);
        EXPECT_EQ(SharedBuffersMapped(), 0);
    }
}

TEST_F(Worker, ASilentWorkerIsStoppedWhenTheLoadIsCancelled) {
    const QString file = write("fine.png", Encode(Pattern(64, 48), "png"));
    const int fds = OpenFds();
    int asked = 0;
    DecodeWorkerOptions options = FaultyWorker("hang");
    options.cancelled = [&] { return ++asked == 3; };
    Recorder recorder;
    const DecodeResult result = DecodeInWorker(file, kBackground, &recorder, options);
    EXPECT_EQ(result.error, DecodeError::Cancelled);
    EXPECT_EQ(asked, 3);
    EXPECT_TRUE(recorder.rows.empty());
    EXPECT_TRUE(NoChildrenLeft());
    EXPECT_EQ(OpenFds(), fds);
    EXPECT_EQ(SharedBuffersMapped(), 0);
}

TEST_F(Worker, APictureOutlivesItsWorkerAndGivesItsMemoryBack) {
    const QString file = write("fine.png", Encode(Pattern(64, 48), "png"));
    const int fds = OpenFds();
    const uchar* bits = nullptr;
    {
        DecodeResult result = DecodeInWorker(file, kBackground);
        ASSERT_TRUE(result);
        EXPECT_TRUE(NoChildrenLeft());
        EXPECT_EQ(OpenFds(), fds);  // the worker's channels went with it
        EXPECT_EQ(SharedBuffersMapped(), 1);
        bits = result.surface->image().constBits();
        EXPECT_TRUE(Mapped(bits));
        // The program writes into its picture (the luma byte): the memory is its own.
        result.surface->row(47)[63] = 0x12345678u;
        EXPECT_EQ(result.surface->row(47)[63], 0x12345678u);
    }
    EXPECT_EQ(SharedBuffersMapped(), 0);
    EXPECT_FALSE(Mapped(bits));
    EXPECT_EQ(OpenFds(), fds);
}

// Where a picture lands, seen before any of its rows has: it stops there.
class Peek final : public RowReceiver {
public:
    const uchar* bits = nullptr;
    bool PictureStarted(Surface& picture) override {
        bits = picture.image().constBits();
        return false;
    }
    bool RowsReady(int) override { return false; }
    void PictureDropped() override {}
};

TEST_F(Worker, APictureLetGoLendsItsBufferToTheNextPictureOfItsSize) {
    const QString first = write("first.png", Encode(Pattern(640, 480), "png"));
    const QString turned = write("turned.jpg", Encode(Pattern(480, 640), "jpeg"));  // as many bytes
    const QString small = write("small.png", Encode(Pattern(64, 48), "png"));
    {
        const PictureBufferReuse reuse;
        const uchar* kept = nullptr;
        {
            const DecodeResult a = DecodeInWorker(first, kBackground);
            ASSERT_TRUE(a);
            kept = a.surface->image().constBits();
        }
        // A load that fails before its first row keeps the buffer for the next one. (No
        // worker sees the buffer: it holds no descriptor but its pipes, as the probe shows.)
        Peek peek;
        EXPECT_FALSE(DecodeInWorker(first, kBackground, &peek, FaultyWorker("hang")));
        EXPECT_EQ(peek.bits, kept);
        // The next picture of that size is decoded into it, to the same pixels as ever.
        {
            const DecodeResult here = DecodePicture(turned, kBackground);
            const DecodeResult there = DecodeInWorker(turned, kBackground);
            ASSERT_TRUE(here && there);
            EXPECT_EQ(there.surface->image().constBits(), kept);
            EXPECT_EQ(there.surface->image(), here.surface->image());
        }
        // A picture of another size has a buffer of its own; the kept one goes back.
        const DecodeResult other = DecodeInWorker(small, kBackground);
        ASSERT_TRUE(other);
        EXPECT_EQ(other.surface->image(), DecodePicture(small, kBackground).surface->image());
    }
    EXPECT_EQ(SharedBuffersMapped(), 0);
}


// A large picture's pages are taken ahead of its rows without a byte changed: rows that
// land while the thread runs (read into the buffer, as the program reads them out of the
// rows pipe) keep what they hold, and the rest stays zero, whether the thread is stopped
// at once or midway.
TEST(PagesAhead, TakesAPicturesPagesWithoutChangingThem) {
    constexpr std::size_t kBytes = std::size_t{48} << 20;
    constexpr std::size_t kRowBytes = 24000;
    PageBuffer buffer(kBytes);
    ASSERT_NE(buffer.data(), nullptr);
    std::uint8_t* const bytes = buffer.data();
    const auto value = [](std::size_t at) { return static_cast<std::uint8_t>((at * 2654435761u >> 24) | 1u); };
    // A row of each byte value, to read rows from.
    const int rows = ::memfd_create("rows", MFD_CLOEXEC);
    ASSERT_GE(rows, 0);
    for (int v = 0; v < 256; ++v) {
        const std::vector<std::uint8_t> row(kRowBytes, static_cast<std::uint8_t>(v));
        ASSERT_EQ(::write(rows, row.data(), kRowBytes), static_cast<ssize_t>(kRowBytes));
    }
    { const PagesAhead stoppedAtOnce(bytes, kBytes); }
    for (std::size_t at = 0; at < kBytes / 2; at += 4096) bytes[at] = value(at);
    {
        const PagesAhead ahead(bytes, kBytes);
        // Every third row lands, from the front, as the thread takes the pages.
        for (std::size_t row = 0; (row + 1) * kRowBytes <= kBytes; row += 3)
            ASSERT_EQ(::pread(rows, bytes + row * kRowBytes, kRowBytes, static_cast<off_t>(value(row) * kRowBytes)),
                      static_cast<ssize_t>(kRowBytes));
    }
    ::close(rows);
    std::size_t wrong = 0;
    for (std::size_t at = 0; at < kBytes; ++at) {
        const std::size_t row = at / kRowBytes;
        const std::uint8_t expected = row % 3 == 0 && (row + 1) * kRowBytes <= kBytes ? value(row)
                                      : at < kBytes / 2 && at % 4096 == 0         ? value(at)
                                                                                   : 0;
        wrong += bytes[at] != expected;
    }
    EXPECT_EQ(wrong, 0u);
}

}  // namespace
