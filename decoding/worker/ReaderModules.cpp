#include "decoding/worker/ReaderModules.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <array>
#include <cassert>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

#include "decoding/readers/HeifDecode.h"
#include "decoding/readers/JxlDecode.h"
#include "decoding/readers/RawDecode.h"
#include "decoding/readers/TiffDecode.h"
#include "decoding/readers/WebpDecode.h"
#include "decoding/readers/WmfDecode.h"

namespace vistrel {

namespace {

std::array<const ReaderModule*, kReaderLibraries> gLoaded{};

// The folder of the decoder's executable, with its last slash.
std::string OwnFolder() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return {};
    path.resize(static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

bool Load(ReaderLibrary library, const std::string& folder) {
    const auto index = static_cast<std::size_t>(library);
    if (gLoaded[index] != nullptr) return true;
    // Never unloaded: the decoder ends with its picture.
    void* const handle = ::dlopen((folder + ReaderModuleFile(library)).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
    const auto* const module = static_cast<const ReaderModule*>(::dlsym(handle, kReaderModuleSymbol));
    if (module == nullptr || module->read == nullptr) return false;
    if (module->prepare != nullptr) module->prepare();
    gLoaded[index] = module;
    return true;
}

// Qt's reader of this format, or all of Qt's readers (nullptr), loaded now, as a reader
// that looks for the one taking a file loads them.
void LoadQtReaders(const char* format) {
    QByteArray nothing(16, '\0');
    QBuffer buffer(&nothing);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (format != nullptr) {
        reader.setFormat(format);
        reader.setAutoDetectImageFormat(false);
    }
    (void)reader.canRead();
}

// A row's reader, through its module. The modules a file needs are loaded before any row
// reads it (LoadReadersFor); one missing here is a fault of the table's gates.
ReadResult ReadThrough(ReaderLibrary library, const ReaderInput& input) {
    const ReaderModule* const module = gLoaded[static_cast<std::size_t>(library)];
    assert(module != nullptr && "a row read a file its gate did not let through");
    if (module == nullptr) return DecodeResult::Failed(DecodeError::WorkerStopped);
    return module->read(input);
}

}  // namespace

const char* ReaderModuleFile(ReaderLibrary library) {
    switch (library) {
        case ReaderLibrary::Own: return nullptr;
        case ReaderLibrary::LibRaw: return "vistrel-reader-libraw.so";
        case ReaderLibrary::Libheif: return "vistrel-reader-libheif.so";
        case ReaderLibrary::Libjxl: return "vistrel-reader-libjxl.so";
        case ReaderLibrary::Libtiff: return "vistrel-reader-libtiff.so";
        case ReaderLibrary::Libwebp: return "vistrel-reader-libwebp.so";
        case ReaderLibrary::Libwmf: return "vistrel-reader-libwmf.so";
    }
    return nullptr;
}

bool LoadReadersFor(headers::Bytes file) {
    const ReaderLibraries libraries = LibrariesFor(file);
    if (libraries.any()) {
        const std::string folder = OwnFolder();
        for (std::size_t k = 0; k < kReaderLibraries; ++k)
            if (libraries.test(k) && !Load(static_cast<ReaderLibrary>(k), folder)) return false;
    }
    LoadQtReaders(QtFormatFor(file));
    return true;
}

// The table's rows call these in the decoder; the readers themselves are the modules'.
ReadResult DecodeRaw(const ReaderInput& input) { return ReadThrough(ReaderLibrary::LibRaw, input); }
ReadResult DecodeHeif(const ReaderInput& input) { return ReadThrough(ReaderLibrary::Libheif, input); }
ReadResult DecodeJxl(const ReaderInput& input) { return ReadThrough(ReaderLibrary::Libjxl, input); }
ReadResult DecodeTiff(const ReaderInput& input) { return ReadThrough(ReaderLibrary::Libtiff, input); }
ReadResult DecodeWebp(const ReaderInput& input) { return ReadThrough(ReaderLibrary::Libwebp, input); }
ReadResult DecodeMetafile(const ReaderInput& input) { return ReadThrough(ReaderLibrary::Libwmf, input); }

}  // namespace vistrel
