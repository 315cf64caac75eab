#pragma once
// What becomes of a picture whose file says its colours are not sRGB's: the one choice
// the command line, the window's Tools > Colour and the decoder's request share.

namespace vistrel {

enum class ColourHandling {
    ConvertToSrgb,  // converted to sRGB, the working space (relative colorimetric)
    StoredValues,   // the numbers as the file stores them
};

}  // namespace vistrel
