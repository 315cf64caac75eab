#include "decoding/worker/ReaderMessages.h"

#include <QByteArrayView>

namespace vistrel {

// Off for every severity until a logging rule switches it on.
Q_LOGGING_CATEGORY(lcReaderMessages, "vistrel.decoding.messages", QtFatalMsg)

namespace {

QtMessageHandler g_next = nullptr;

void Handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (FromPictureReaders(context.category, message)) {
        // Passed on under our own category, not logged again: Qt writes a message logged
        // from inside a handler straight to stderr.
        if (g_next != nullptr && lcReaderMessages().isWarningEnabled())
            g_next(QtWarningMsg,
                   QMessageLogContext(context.file, context.line, context.function, lcReaderMessages().categoryName()),
                   message);
        return;
    }
    if (g_next != nullptr) g_next(type, context, message);
}

}  // namespace

bool FromPictureReaders(const char* category, const QString& message) {
    const QByteArrayView name(category != nullptr ? category : "");
    if (name.startsWith("qt.gui.imageio") || name.startsWith("qt.imageformats")) return true;
    if (name != "default") return false;
    for (const char* opening : {"libpng ", "libtiff", "TIFF", "Corrupt JPEG data", "Premature end of JPEG file"})
        if (message.startsWith(QLatin1String(opening))) return true;
    return false;
}

void QuietPictureReaders() {
    if (g_next != nullptr) return;
    g_next = qInstallMessageHandler(Handle);
}

}  // namespace vistrel
