#include "zip/zip_failure.h"

#include <string_view>

#include "zip/zip_error_text.h"

namespace tabulon {

TabulonFailure openFailureKind(const Zippy::ZipRuntimeError& error) {
  namespace Text = Zippy::Text;
  const std::string_view text = error.what();
  if (text == Text::kFileOpenFailed || text == Text::kFileSeekFailed || text == Text::kFileReadFailed)
    return TABULON_UNREADABLE;
  if (text == Text::kAllocFailed) return TABULON_OUT_OF_MEMORY;
  return TABULON_NOT_A_ZIP;
}

Failure memberFailure(const std::string& member, const Zippy::ZipRuntimeError& error) {
  namespace Text = Zippy::Text;
  const std::string_view text = error.what();
  if (text == Text::kFileNotFound) return Failure(TABULON_MISSING_PART, "the archive has no part " + member);
  if (text == Text::kAllocFailed) return Failure(TABULON_OUT_OF_MEMORY, "out of memory reading " + member);
  if (text == Text::kFileReadFailed || text == Text::kFileSeekFailed)
    return Failure(TABULON_UNREADABLE, "cannot read " + member + ": " + std::string(text));
  return Failure(TABULON_DAMAGED_MEMBER, "damaged member " + member + ": " + std::string(text));
}

}  // namespace tabulon
