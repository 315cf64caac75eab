#pragma once
// Helpers shared by the tests: synthetic pictures, temporary files, a fake
// desktop that records what the program asked of it.

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "decoding/Decode.h"
#include "kernels/korvex.h"
#include "platform/Desktop.h"
#include "platform/Surface.h"

// Texts in failure messages as text, not as the bytes of each character.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace korvex {
inline void PrintTo(LumaStandard standard, std::ostream* out) {
    switch (standard) {
        case LumaStandard::Rec601: *out << "Rec601"; return;
        case LumaStandard::Rec709: *out << "Rec709"; return;
    }
    *out << "LumaStandard " << static_cast<int>(standard);
}
}  // namespace korvex

namespace vistrel {
// A decode's failure by its name.
inline void PrintTo(DecodeError error, std::ostream* out) {
    switch (error) {
        case DecodeError::EmptyName: *out << "EmptyName"; return;
        case DecodeError::NotFound: *out << "NotFound"; return;
        case DecodeError::NotARegularFile: *out << "NotARegularFile"; return;
        case DecodeError::Unreadable: *out << "Unreadable"; return;
        case DecodeError::TooLarge: *out << "TooLarge"; return;
        case DecodeError::TooManyPixelsForItsFile: *out << "TooManyPixelsForItsFile"; return;
        case DecodeError::OutOfMemory: *out << "OutOfMemory"; return;
        case DecodeError::Cancelled: *out << "Cancelled"; return;
        case DecodeError::NotAPicture: *out << "NotAPicture"; return;
        case DecodeError::WorkerStopped: *out << "WorkerStopped"; return;
    }
    *out << "DecodeError " << static_cast<int>(error);
}
}  // namespace vistrel

namespace testing_support {

// True in a build under AddressSanitizer, whose allocator neither survives a
// capped address space nor reports to mallinfo2().
constexpr bool kUnderAddressSanitizer =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
    __has_feature(address_sanitizer);
#else
    false;
#endif

// A pixel from its bytes: blue, green, red, fourth.
constexpr korvex::Pixel Bgra(unsigned b, unsigned g, unsigned r, unsigned q = 0) {
    return (q << 24) | (r << 16) | (g << 8) | b;
}

// A grid filled by fn(x, y).
korvex::PixelGrid MakeGrid(std::size_t width, std::size_t height,
                           const std::function<korvex::Pixel(std::size_t, std::size_t)>& fn);

// A surface drawn from a character map: one string per row, each character
// looked up in the legend; used to compare drawings with hand-made pictures.
std::vector<std::string> SurfaceMap(const vistrel::Surface& surface,
                                    const std::function<char(korvex::Pixel)>& legend);

// A Desktop that answers from fields and records every call; no window is shown.
class FakeDesktop : public vistrel::Desktop {
public:
    QString folder = "/opt/vistrel";
    std::vector<QString> existing;             // files that fileExists() reports
    std::vector<QString> opened;               // documents openDocument() was asked for
    bool canOpen = true;                       // what openDocument() answers
    std::vector<std::pair<QString, QString>> warnings;  // (text, title)
    std::optional<QString> dialogAnswer;       // what the open dialog returns
    std::vector<vistrel::OpenFileRequest> dialogRequests;
    std::vector<QString> modalShown;           // objectNames of dialogs shown modally
    std::function<void(QDialog&)> onModal;     // runs while a dialog is "shown"
    std::function<void()> onWarning;           // runs while a warning is "shown"

    QString programFolder() override { return folder; }
    bool fileExists(const QString& path) override;
    bool openDocument(const QString& path) override {
        opened.push_back(path);
        return canOpen;
    }
    void warningBox(QWidget*, const QString& text, const QString& title) override {
        warnings.emplace_back(text, title);
        if (onWarning) onWarning();
    }
    std::optional<QString> openFileDialog(QWidget*, const vistrel::OpenFileRequest& request) override {
        dialogRequests.push_back(request);
        return dialogAnswer;
    }
    void showModal(QDialog& dialog) override;

    std::optional<QString> folderAnswer;                  // what the folder chooser returns
    std::vector<std::pair<QString, QString>> folderRequests;  // (title, start folder)
    std::optional<QString> folderDialog(QWidget*, const QString& title, const QString& startFolder) override {
        folderRequests.emplace_back(title, startFolder);
        return folderAnswer;
    }
};

// Installs a FakeDesktop for the lifetime of the object.
class ScopedFakeDesktop {
public:
    ScopedFakeDesktop() { vistrel::setDesktop(&fake); }
    ~ScopedFakeDesktop() { vistrel::setDesktop(nullptr); }
    FakeDesktop fake;
};

// A picture that reaches every (U, V) pair ConvertToYuv can make: one colour per pair,
// the pair found i-th repeated 1 + i % 5 times so that grid cells add up different
// counts; with the pairs of its pixels. Built once (it scans all 2^24 colours).
struct EveryPairPicture {
    std::vector<korvex::Pixel> pixels;
    std::vector<korvex::UvPair> pairs;
};
const EveryPairPicture& PictureOfEveryPair();

}  // namespace testing_support
