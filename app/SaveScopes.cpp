// The instruments as pictures, and a picture written whole or not at all.

#include "app/SaveScopes.h"

#include <QSaveFile>

#include "platform/Instrument.h"

namespace vistrel {

QImage InstrumentImage(Instrument& instrument) { return instrument.WindowImage(); }

bool WritePngFile(const QImage& image, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (!image.save(&file, "PNG")) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

}  // namespace vistrel
