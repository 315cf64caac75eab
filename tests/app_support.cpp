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
    window.txtImageFile->setText(path);
    window.cmdLoadPic->click();
}

}  // namespace testing_support
