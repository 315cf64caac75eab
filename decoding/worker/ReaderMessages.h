#pragma once
// The picture libraries' own notes (libpng's "iCCP: known incorrect sRGB profile",
// libjpeg's "Corrupt JPEG data", libtiff's complaints, as Qt's image readers pass them
// on): a user cannot act on them, so they stay off the terminal, under a logging
// category of their own that is off unless switched on:
//
//   QT_LOGGING_RULES="vistrel.decoding.messages=true" vistrel picture.png

#include <QLoggingCategory>
#include <QString>

namespace vistrel {

Q_DECLARE_LOGGING_CATEGORY(lcReaderMessages)

// Whether a Qt message comes from the picture readers: by its logging category, or,
// for the few that come without one, by the library's own opening words.
bool FromPictureReaders(const char* category, const QString& message);

// Puts a message handler in front of the current one that sends the readers' notes to
// lcReaderMessages and every other message on unchanged. Once per process.
void QuietPictureReaders();

}  // namespace vistrel
