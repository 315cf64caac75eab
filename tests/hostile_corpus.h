#pragma once
// The hostile picture files kept with the tests (tests/hostile/, written by
// its craft.py), and what each must end in. Files in its slow/ folder
// take gigabytes or the decoder process's watchdog and are not listed here.

#include <QDir>
#include <QSize>
#include <QStringList>

#include <map>
#include <optional>

namespace testing_support {

inline QDir HostileFolder() { return QDir(VISTREL_SOURCE_DIR "/tests/hostile"); }

inline QStringList HostileFiles() {
    return HostileFolder().entryList({"*.bmp", "*.dng", "*.gif", "*.ico", "*.jpg", "*.png", "*.tiff", "*.webp", "*.wmf"},
                                     QDir::Files);
}

// The size of the picture a file holds despite its faults; none when it must fail.
inline std::optional<QSize> HostilePicture(const QString& name) {
    static const std::map<QString, QSize> pictures = {
        {"gif-frame-past-its-canvas.gif", {4, 4}},     // the frame is cut to the canvas
        {"icon-claims-65535-entries.ico", {16, 16}},   // the one entry the file holds
        {"metafile-text-without-font.wmf", {96, 48}},  // drawn with the player's default font
        {"metafile-3-units-per-inch.wmf", {4579, 3663}},  // 32000 x 25600 declared, drawn at 16 megapixels
        {"metafile-32767-square.wmf", {4096, 4096}},
        // LibRaw develops what it can of levels and layouts no camera writes.
        {"raw-black-above-white.dng", {128, 96}},
        {"raw-black-levels-past-the-end.dng", {128, 96}},
        {"raw-orientation-9.dng", {128, 96}},
        {"raw-white-level-0.dng", {128, 96}},
        {"raw-white-level-4294967295.dng", {128, 96}},
    };
    const auto found = pictures.find(name);
    if (found == pictures.end()) return std::nullopt;
    return found->second;
}

}  // namespace testing_support
