// Renders the application icon, drawn as an SVG, at the sizes of the desktop's icon theme.
//
//   make_icons ICON.svg OUTPUT_FOLDER NAME SIZE...
//
// writes OUTPUT_FOLDER/SIZExSIZE/apps/NAME.png for each SIZE, each drawn from the
// outlines at that size (never an enlargement of a smaller picture).

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: make_icons ICON.svg OUTPUT_FOLDER NAME SIZE...\n");
        return 2;
    }
    QGuiApplication application(argc, argv);
    QSvgRenderer icon(QString::fromLocal8Bit(argv[1]));
    if (!icon.isValid() || icon.defaultSize().width() != icon.defaultSize().height()) {
        std::fprintf(stderr, "make_icons: %s is not a square SVG picture\n", argv[1]);
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
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        icon.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        if (!out.mkpath(folder) || !image.convertToFormat(QImage::Format_ARGB32).save(out.filePath(folder + "/" + name + ".png"))) {
            std::fprintf(stderr, "make_icons: cannot write the %d-pixel icon\n", size);
            return 1;
        }
    }
    return 0;
}
