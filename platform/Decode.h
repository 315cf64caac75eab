#pragma once
// Picture decoding: a file turned into a full-size surface, or a failure.

#include <QString>

#include <optional>

#include "platform/Surface.h"

namespace vistrel {

// The largest side the program takes, in pixels.
inline constexpr int kMaxPictureSide = 32768;

enum class DecodeError {
    EmptyName,
    NotFound,
    NotARegularFile,  // a folder, a FIFO, a device: refused before opening
    Unreadable,       // no decoder takes it, or its content is empty, truncated or corrupt
    TooLarge,         // a side over kMaxPictureSide, or a zero side
    OutOfMemory,
};

struct DecodeResult {
    std::optional<Surface> surface;  // the picture at its natural size, when decoded
    DecodeError error = DecodeError::Unreadable;
    explicit operator bool() const { return surface.has_value(); }
};

// GIF (first frame), BMP, JPEG, ICO (its largest image), WMF (at its natural
// size) and every other format Qt's image plugins read. Transparent parts are
// composited over the background colour (the palette's Base by default).
DecodeResult DecodePicture(const QString& path);
DecodeResult DecodePicture(const QString& path, ColorValue background);

}  // namespace vistrel
