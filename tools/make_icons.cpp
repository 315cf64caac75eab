// Scales the application icon to the sizes of the desktop's icon theme.
//
//   make_icons ICON.png OUTPUT_FOLDER NAME SIZE...
//
// writes OUTPUT_FOLDER/SIZExSIZE/apps/NAME.png for each SIZE. Whole multiples of
// the icon's own size keep its pixels sharp; other sizes are area-averaged.

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: make_icons ICON.png OUTPUT_FOLDER NAME SIZE...\n");
        return 2;
    }
    const QImage icon(QString::fromLocal8Bit(argv[1]));
    if (icon.isNull() || icon.width() != icon.height()) {
        std::fprintf(stderr, "make_icons: %s is not a square picture\n", argv[1]);
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[2]));
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        if (size <= 0) {
            std::fprintf(stderr, "make_icons: bad size %s\n", argv[i]);
            return 2;
        }
        const Qt::TransformationMode mode =
            size % icon.width() == 0 ? Qt::FastTransformation : Qt::SmoothTransformation;
        const QImage scaled = icon.convertToFormat(QImage::Format_ARGB32).scaled(size, size, Qt::IgnoreAspectRatio, mode);
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        if (!out.mkpath(folder) || !scaled.save(out.filePath(folder + "/" + name + ".png"))) {
            std::fprintf(stderr, "make_icons: cannot write the %d-pixel icon\n", size);
            return 1;
        }
    }
    return 0;
}
