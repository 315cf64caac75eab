#include "model/NitsScale.h"

#include "platform/Numbers.h"

namespace vistrel {

namespace {

constexpr double kThousand = 1000;

}  // namespace

QString ScaleLineName(double nits) {
    if (nits >= kThousand) return FormatNumber(nits / kThousand, "0") + QStringLiteral("k");
    return nits < 1 ? FormatNumber(nits, "0.0") : FormatNumber(nits, "0");
}

QString NitsText(double nits) {
    const char* pattern = nits < 1 ? "0.000" : nits < 10 ? "0.00" : nits < 100 ? "0.0" : "0,0";
    return FormatNumber(nits, pattern) + QStringLiteral(" nits");
}

}  // namespace vistrel
