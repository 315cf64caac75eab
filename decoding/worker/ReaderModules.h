#pragma once
// The readers built on libraries of their own (camera raw, HEIF, JPEG XL, TIFF, WebP,
// metafiles) live in modules beside the decoder, one a library, and a decoder loads
// only those its picture may need, before it is confined: the libraries, their start-up
// work and their page faults cost a JPEG's decoder nothing. The reader table's rows
// call them through the decoder's own stand-ins (ReaderModules.cpp); the tests and the
// in-process decode link the readers themselves.

#include "decoding/Readers.h"

namespace vistrel {

// What a module gives the decoder: its reader, and what its library must do before the
// decoder is confined (nullptr when nothing).
struct ReaderModule {
    ReadResult (*read)(const ReaderInput& input);
    void (*prepare)();
};

// The symbol each module gives its ReaderModule under.
inline constexpr char kReaderModuleSymbol[] = "vistrel_reader_module";

// The module file of a library other than the decoder's own, found beside the decoder.
const char* ReaderModuleFile(ReaderLibrary library);

// Loads and prepares the modules of the libraries the file may need (LibrariesFor),
// from the folder the decoder's executable lies in, and Qt's reader the file may need
// (QtFormatFor), or every reader of Qt's when its bytes name none. For the decoder
// before it is confined: nothing is loaded afterwards. False when a module cannot be
// loaded.
bool LoadReadersFor(headers::Bytes file);

}  // namespace vistrel

// Defines a module's ReaderModule; in the one source file each module is built from.
#define VISTREL_READER_MODULE(readFunction, prepareFunction)                                  \
    extern "C" __attribute__((visibility("default"))) const vistrel::ReaderModule             \
        vistrel_reader_module{readFunction, prepareFunction};
