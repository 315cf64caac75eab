#pragma once
// The 24-megapixel JPEG the decode and load benchmarks share, written once per
// machine: a photograph-like 6000 x 4000 picture of smooth gradients with mild
// texture, at quality 90.

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QString>

#include <algorithm>

namespace bench {

inline const QString& Jpeg24MP() {
    static const QString path = [] {
        constexpr int kWidth = 6000;
        constexpr int kHeight = 4000;
        const QString file = "/tmp/vistrel_bench_24mp.jpg";
        if (QFile::exists(file)) return file;
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        for (int y = 0; y < kHeight; ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < kWidth; ++x) {
                const int texture = ((x * 31 + y * 17) % 23) - 11;
                row[x] = qRgb(std::clamp(x * 255 / kWidth + texture, 0, 255),
                              std::clamp(y * 255 / kHeight + texture, 0, 255),
                              std::clamp((x + y) * 255 / (kWidth + kHeight) - texture, 0, 255));
            }
        }
        QImageWriter writer(file, "jpeg");
        writer.setQuality(90);
        if (!writer.write(image)) qFatal("cannot write %s", qPrintable(file));
        return file;
    }();
    return path;
}

}  // namespace bench
