#pragma once
// LibRaw asked for its own development at the settings the raw reader promises: the
// camera's as-shot white balance and matrix into sRGB, AHD, no brightening, the file's
// own white level; 8 bits through sRGB's curve (LibRaw's, which truncates) or 16 bits
// linear. The tests compare with it and the benchmarks race it.

#include <libraw/libraw.h>

namespace libraw_own {

inline void AskReadersSettings(libraw_output_params_t& p, int bits) {
    p.use_camera_wb = 1;
    p.use_camera_matrix = 1;
    p.output_color = 1;
    p.user_qual = 3;
    p.no_auto_bright = 1;
    p.adjust_maximum_thr = 0;
    p.output_bps = bits;
    p.gamm[0] = bits == 8 ? 1 / 2.4 : 1;
    p.gamm[1] = bits == 8 ? 12.92 : 1;
}

}  // namespace libraw_own
