// The floor a whole `vistrel --stats FILE` is held to: a small Qt program that decodes
// the file with Qt's reader, as any script's picture tool would, and exits. Exit status 1
// when the picture does not decode.

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (argc != 2) return 2;
    QImageReader::setAllocationLimit(0);
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    const QImage image = reader.read();
    return image.isNull() ? 1 : 0;
}
