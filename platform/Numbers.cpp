#include "platform/Numbers.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace vistrel {

QString FormatNumber(double value, std::string_view pattern, const QLocale& locale) {
    const std::size_t point = pattern.find('.');
    const std::string_view whole = pattern.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : pattern.substr(point + 1);

    int minimumDigits = 0;
    bool grouped = false;
    for (char c : whole) {
        if (c == '0') ++minimumDigits;
        if (c == ',') grouped = true;
    }
    int decimals = 0;
    for (char c : fraction)
        if (c == '0') ++decimals;

    // Work in whole units of the last shown decimal, rounded halves to even.
    const double scale = std::pow(10.0, decimals);
    const double units = nearest(std::fabs(value) * scale);
    const bool negative = value < 0 && units > 0;
    const auto scaled = static_cast<std::uint64_t>(units);
    const auto unitsPerWhole = static_cast<std::uint64_t>(scale);

    std::string digits = std::to_string(scaled / unitsPerWhole);
    if (digits == "0" && minimumDigits == 0) digits.clear();
    if (static_cast<int>(digits.size()) < minimumDigits) digits.insert(0, minimumDigits - digits.size(), '0');

    QString text;
    if (negative) text += locale.negativeSign();
    const QString separator = locale.groupSeparator();
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (grouped && i > 0 && (digits.size() - i) % 3 == 0) text += separator;
        text += QChar(digits[i]);
    }
    if (point != std::string_view::npos) {
        text += locale.decimalPoint();
        std::string tail = std::to_string(scaled % unitsPerWhole);
        if (decimals > 0) {
            tail.insert(0, decimals - tail.size(), '0');
            text += QString::fromStdString(tail);
        }
    }
    return text;
}

QString ScaleLineName(double nits) {
    constexpr double kThousand = 1000;
    if (nits >= kThousand) return FormatNumber(nits / kThousand, "0") + QStringLiteral("k");
    return nits < 1 ? FormatNumber(nits, "0.0") : FormatNumber(nits, "0");
}

QString NitsText(double nits) {
    const char* pattern = nits < 1 ? "0.000" : nits < 10 ? "0.00" : nits < 100 ? "0.0" : "0,0";
    return FormatNumber(nits, pattern) + QStringLiteral(" nits");
}

}  // namespace vistrel
