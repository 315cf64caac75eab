#pragma once
// sRGB's curve, from its definition: linear light to the encoded value and back, both
// 0 .. 1, extended beyond them as a float transform extends it.

#include <cmath>

namespace vistrel::colour {

inline double SrgbEncode(double linear) {
    if (linear <= 0.0031308) return 12.92 * linear;
    return 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

inline double SrgbDecode(double encoded) {
    if (encoded <= 0.04045) return encoded / 12.92;
    return std::pow((encoded + 0.055) / 1.055, 2.4);
}

}  // namespace vistrel::colour
