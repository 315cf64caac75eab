#pragma once
// What a decoder worker tells the program, and the program's reader of it. Every
// message is three 32-bit words in the machine's byte order (both ends run on the same
// machine): a kind and two values. In order: the picture's size; "rows 0 .. k - 1 are
// written" (to the rows pipe), k growing; the name of the picture's colour space, eight
// bytes a message, when it has one; for a picture developed from a camera raw file, the
// camera's name likewise and, when the photosites were counted, their layout, black
// levels and each colour's levels; then done (with the count of pixels clipped by its colour
// conversion, and whether its colours were converted and an HDR signal tone-mapped),
// or a failure with its code. The reader trusts nothing:
// anything out of order, out of range or after the end makes the whole stream malformed.

#include <QByteArray>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "decoding/Decode.h"

namespace vistrel {

// The descriptors a worker is started with.
inline constexpr int kWorkerReportFd = 3;  // written by the worker: its messages
// Read by the worker: its request, then the go byte.
inline constexpr int kWorkerGoFd = 4;
// Written by the worker once it has the go byte: the picture's rows, top to bottom, each
// width * 4 bytes, and nothing else. The program reads them into its own buffer.
inline constexpr int kWorkerRowsFd = 5;

// The longest file name a request carries, in bytes.
inline constexpr std::size_t kMaxRequestNameBytes = 64 * 1024;

// What the program asks of a worker: decode this file over this background. A worker
// starts, gets itself ready (libraries and image plugins loaded) and then waits for
// this, so that it can be started ahead of the picture it will decode. On the wire: the
// name's length, the colour and the colour handling (0: converted to sRGB, 1: stored
// values) as 32-bit words in the machine's byte order, then the name.
// With photosites, bit 1 of the colour handling's word asks for a camera raw's photosites.
QByteArray EncodeWorkerRequest(const QByteArray& fileName, ColorValue background,
                               ColourHandling colour = ColourHandling::ConvertToSrgb, bool photosites = false);
inline constexpr std::uint32_t kRequestPhotosites = 2;
inline constexpr std::size_t kWorkerRequestWords = 3;

// Once the picture's size is known and the program has room for it, it answers with the
// go byte; only then does the worker write rows.
inline constexpr char kGoByte = 'g';
bool SendGo(int socket);
// False when anything else came, or nothing.
bool ReceiveGo(int socket);

// A camera raw's messages, in this order before done: RawCamera (eight bytes of the
// name each, as ColourName), then, when its photosites were counted, RawLayout (the
// filter array's four letters; the white level, and the bits above it), RawBlack (the
// four positions' black levels, 16 bits each) and three RawLevels, for R, G and B (max,
// and p99 above it; the photosites at or above white).
enum class WorkerMessageKind : std::uint32_t {
    Size = 1,
    Rows = 2,
    Done = 3,
    Failed = 4,
    ColourName = 5,
    RawCamera = 6,
    RawLayout = 7,
    RawBlack = 8,
    RawLevels = 9,
    // The file's own samples, counted (SignalStats), after the last row and before the
    // colour space's name: SignalHead (the transfer: 0 SDR, 1 PQ, 2 HLG), three
    // SignalOutside (the gamut, 0 sRGB, 1 Display P3, 2 Rec. 2020, and its count); for PQ
    // and HLG, SignalLightMax and SignalLightSum (MaxCLL and the sum of every pixel's
    // light, in nits, as doubles' bits, low word first) and a SignalLightBin for every bin
    // with pixels in it (the bin, the count), bins rising; then a SignalCell for every xy
    // cell with pixels in it (the cell, the count), cells rising.
    SignalHead = 10,
    SignalOutside = 11,
    SignalLightMax = 12,
    SignalLightSum = 13,
    SignalLightBin = 14,
    SignalCell = 15,
    // The sensor's photosites, when the request asked for them and the picture is a camera
    // raw's with a filter array of R, G and B: after the last row, before the camera's
    // name, RawSensor (the visible area's width and height), RawSensorLayout (the filter
    // array's side, 2 or 6, and the turn, LibRaw's flip bits, above it; the white level
    // and its bits as RawLayout has them), a RawSensorPattern for each row of the repeat
    // (the row, and the classes of its places, RawSite, four bits each) and RawSensorBlack
    // (the four classes' black levels, 16 bits each). Their values follow the picture's
    // rows down the rows pipe: width x height of 16 bits, row by row, in the machine's
    // byte order. The reader ends them at RawSensorBlack, an event: the client then reads
    // the values.
    RawSensor = 20,
    RawSensorLayout = 21,
    RawSensorPattern = 22,
    RawSensorBlack = 23,
};

// The longest colour space name a worker may send, in bytes; and the longest camera name.
inline constexpr std::size_t kMaxColourNameBytes = 64;
inline constexpr std::size_t kMaxCameraNameBytes = 64;

inline constexpr std::size_t kWorkerMessageBytes = 12;
using WorkerMessageBytes = std::array<std::uint8_t, kWorkerMessageBytes>;

WorkerMessageBytes EncodeWorkerMessage(WorkerMessageKind kind, std::uint32_t first, std::uint32_t second = 0);
// What a decode that succeeded says of its colours, as DecodeResult holds it.
struct WorkerColour {
    QByteArray space;  // UTF-8; empty when the picture means sRGB
    bool converted = false;
    bool toneMapped = false;  // only when converted
    std::uint64_t outOfGamut = 0;  // only when converted
};
// The end of a decode that succeeded: the colour space's name (cut to
// kMaxColourNameBytes on a character's boundary; nothing when empty), then done with the
// count of clipped pixels (a picture holds at most 2^30 pixels) and the flags
// kDoneConverted and kDoneToneMapped.
QByteArray EncodeWorkerDone(const WorkerColour& colour);
// What a raw picture's messages say (the camera's name cut as the colour space's is),
// sent before done; nothing for other pictures.
QByteArray EncodeWorkerRaw(const RawPicture& raw);
// A picture's signal counts, sent before done; the reader takes them only whole, with
// every pixel of the picture counted once in the light bins, and no more in any cell or
// outside any gamut than it has.
QByteArray EncodeWorkerSignal(const SignalStats& signal);
// A sensor's layout (RawSensor without its values), as the messages before its values say
// it; the reader takes only a layout whose classes are those of a 2 x 2 array (one of
// each) or an X-Trans array (R, G and B, no G2), turned to within a factor of two of the
// picture's sides.
QByteArray EncodeWorkerSensor(const RawSensor& layout);
inline constexpr std::uint32_t kDoneConverted = 1;
inline constexpr std::uint32_t kDoneToneMapped = 2;
// A failure's code on the wire; the program hears only the failures a worker can meet.
std::uint32_t WorkerErrorCode(DecodeError error);

struct WorkerEvent {
    WorkerMessageKind kind = WorkerMessageKind::Failed;
    int width = 0, height = 0;  // Size
    int rows = 0;               // Rows
    DecodeError error = DecodeError::Unreadable;  // Failed
    // Done: at most the picture's pixels, and only for converted colours
    std::uint64_t outOfGamut = 0;
    bool colourConverted = false;  // Done
    bool hdrToneMapped = false;    // Done: only for converted colours
};

class WorkerMessageReader {
public:
    // Sides beyond 1 .. maxSide make the stream malformed.
    explicit WorkerMessageReader(int maxSide = kMaxPictureSide) : maxSide_(maxSide) {}

    // Takes the next bytes as they came (messages may be split anywhere) and appends the
    // messages they complete to events. False once the stream is malformed; it stays so.
    bool Feed(const std::uint8_t* data, std::size_t size, std::vector<WorkerEvent>& events);

    bool malformed() const { return state_ == State::Malformed; }
    // Done or Failed has been read.
    bool finished() const { return state_ == State::Finished; }
    // The colour space's name as read so far (ColourName messages give no event).
    const QByteArray& colourSpace() const { return colourSpace_; }
    // A raw picture's camera and photosites as read (its messages give no events); the
    // photosites only once all their messages came.
    std::optional<RawPicture> raw() const;
    // The signal counts as read, once all their messages came; nothing otherwise.
    std::shared_ptr<const SignalStats> signal() const;
    // The sensor's layout, once RawSensorBlack came (its values not yet read).
    const std::optional<RawSensor>& sensor() const { return sensor_; }

private:
    enum class State { ExpectSize, Streaming, Finished, Malformed };
    bool Take(const std::uint8_t* message, std::vector<WorkerEvent>& events);
    bool TakeRaw(WorkerMessageKind kind, const std::uint8_t* message);
    bool TakeSignal(WorkerMessageKind kind, const std::uint8_t* message);
    bool TakeSensor(WorkerMessageKind kind, const std::uint8_t* message);
    // The signal's messages are over (or never began), as far as done may come.
    bool SignalWhole();

    const int maxSide_;
    State state_ = State::ExpectSize;
    int width_ = 0;
    int height_ = 0;
    int rows_ = 0;
    QByteArray colourSpace_;
    bool nameEnded_ = false;  // a ColourName message padded with zeros ends the name
    QByteArray camera_;
    bool cameraEnded_ = false;
    RawPhotosites sites_;
    // The photosites' messages taken so far: layout, black, then R, G and B.
    int sitesTaken_ = 0;
    static constexpr int kSitesMessages = 5;
    // The signal's messages: which is next, and the counts so far.
    enum class SignalStage { None, Outside, LightMax, LightSum, Bins, Cells };
    SignalStage signalStage_ = SignalStage::None;
    std::shared_ptr<SignalStats> signal_;
    std::size_t gamutsTaken_ = 0;
    std::int64_t lastIndex_ = -1;  // the last bin or cell taken
    std::uint64_t taken_ = 0;  // pixels counted in the bins, then in the cells
    // The sensor's messages: taken so far (RawSensor, the layout, then a pattern row each),
    // and the layout once whole.
    RawSensor sensorTaking_;
    int sensorTaken_ = 0;
    std::optional<RawSensor> sensor_;
    std::array<std::uint8_t, kWorkerMessageBytes> partial_{};
    std::size_t partialBytes_ = 0;
};

}  // namespace vistrel
