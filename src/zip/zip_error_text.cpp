#include "zip/zip_error_text.h"

#include <zip.h>

namespace Zippy::Text {

std::string_view forLibzipError(int code) {
  switch (code) {
    case ZIP_ER_OK: return "no error";
    case ZIP_ER_MULTIDISK: return kMultidisk;
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL: return kFileSeekFailed;
    case ZIP_ER_READ: return kFileReadFailed;
    case ZIP_ER_CRC: return kCrc;
    case ZIP_ER_NOENT:
    case ZIP_ER_OPEN: return kFileOpenFailed;
    case ZIP_ER_MEMORY: return kAllocFailed;
    case ZIP_ER_COMPNOTSUPP: return kMethod;
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD: return kEncryption;
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA: return kDecompression;
    case ZIP_ER_NOZIP:
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF: return kCorrupt;
    case ZIP_ER_INVAL: return "invalid parameter";
    case ZIP_ER_INTERNAL: return "internal error";
    case ZIP_ER_OPNOTSUPP: return "unsupported feature";
    default: return "undefined error";
  }
}

}  // namespace Zippy::Text
