// LibRaw's own development of a raw file, alone in a process of its own: the yardstick
// the raw reader's loads are held to (make bench runs it as a child and times it, and
// reads its peak memory). The file mapped (the decoder reads it into pages of its own,
// which costs more); opened, unpacked, processed at the reader's settings (as-shot white
// balance, the camera's matrix into sRGB, AHD, no brightening) and made into LibRaw's
// 8-bit sRGB picture.
//
//   vistrel_libraw_own FILE

#include <libraw/libraw.h>

#include "libraw_own.h"

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vistrel_libraw_own FILE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_size <= 0) return 1;
    const auto size = static_cast<std::size_t>(info.st_size);
    void* const bytes = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (bytes == MAP_FAILED) return 1;
    const auto raw = std::make_unique<LibRaw>();
    libraw_own::AskReadersSettings(raw->imgdata.params, 8);
    int code = raw->open_buffer(bytes, size);
    if (code == LIBRAW_SUCCESS) code = raw->unpack();
    if (code == LIBRAW_SUCCESS) code = raw->dcraw_process();
    libraw_processed_image_t* image = code == LIBRAW_SUCCESS ? raw->dcraw_make_mem_image(&code) : nullptr;
    if (image == nullptr) {
        std::fprintf(stderr, "LibRaw: %s\n", libraw_strerror(code));
        return 1;
    }
    LibRaw::dcraw_clear_mem(image);
    return 0;
}
