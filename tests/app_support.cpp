#include "app_support.h"

#include <QLineEdit>
#include <QPushButton>

namespace testing_support {

QString WritePicture(const QTemporaryDir& dir, const QString& name, const QImage& image) {
    const QString path = dir.filePath(name);
    image.save(path);
    return path;
}

QImage Gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x * 7 % 256, y * 11 % 256, (x * 3 + y * 5) % 256));
    return image;
}

void Load(vistrel::frmMain& window, const QString& path) {
    Ctl<QLineEdit>(window, "txtImageFile")->setText(path);
    Ctl<QPushButton>(window, "cmdLoadPic")->click();
}

}  // namespace testing_support

std::array<QCheckBox*, 3> Channels(const vistrel::frmMain& window) {
    return {Ctl<QCheckBox>(window, "chkChannel[0]"), Ctl<QCheckBox>(window, "chkChannel[1]"),
            Ctl<QCheckBox>(window, "chkChannel[2]")};
}

void Invoke(vistrel::frmMain& window, const char* handler) {
    if (!QMetaObject::invokeMethod(&window, handler, Qt::DirectConnection)) qFatal("no handler named %s", handler);
}

korvex::Pixel ProbedPixel(const vistrel::frmMain& window) {
    const vistrel::Picture& picture = window.model().picture();
    return picture.pixels.at(static_cast<std::size_t>(picture.probe.column),
                             static_cast<std::size_t>(picture.probe.row));
}
