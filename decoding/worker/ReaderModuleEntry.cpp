// The one source file of every reader module: its build names the library
// (VISTREL_MODULE_LIBRAW and the like), and the module gives the decoder that library's reader.

#include "decoding/worker/ReaderModules.h"

#if defined(VISTREL_MODULE_LIBRAW)
#include "decoding/readers/RawDecode.h"
VISTREL_READER_MODULE(vistrel::DecodeRaw, vistrel::PrepareRaw)
#elif defined(VISTREL_MODULE_LIBHEIF)
#include "decoding/readers/HeifDecode.h"
VISTREL_READER_MODULE(vistrel::DecodeHeif, vistrel::PrepareHeif)
#elif defined(VISTREL_MODULE_LIBJXL)
#include "decoding/readers/JxlDecode.h"
VISTREL_READER_MODULE(vistrel::DecodeJxl, nullptr)
#elif defined(VISTREL_MODULE_LIBTIFF)
#include "decoding/readers/TiffDecode.h"
VISTREL_READER_MODULE(vistrel::DecodeTiff, nullptr)
#elif defined(VISTREL_MODULE_LIBWEBP)
#include "decoding/readers/WebpDecode.h"
VISTREL_READER_MODULE(vistrel::DecodeWebp, nullptr)
#elif defined(VISTREL_MODULE_LIBWMF)
#include "decoding/readers/WmfDecode.h"
VISTREL_READER_MODULE(vistrel::DecodeMetafile, nullptr)
#else
#error "a reader module's build names its library"
#endif
