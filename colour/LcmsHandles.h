#pragma once
// Owners of lcms2's handles, for the colour code that opens profiles and transforms.

#include <memory>

#include <lcms2.h>

namespace vistrel::colour {

struct ProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
struct TransformCloser {
    void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Transform = std::unique_ptr<void, TransformCloser>;
struct CurveFree {
    void operator()(cmsToneCurve* c) const { cmsFreeToneCurve(c); }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveFree>;

}  // namespace vistrel::colour
