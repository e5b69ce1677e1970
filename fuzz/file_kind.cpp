// Telling foreign files apart on arbitrary bytes: every answer comes back,
// bounded, and names one of the foreign kinds.
#include "api/file_kind.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tabulon::fuzz::require;
  const std::string_view raw = tabulon::fuzz::asText(data, size);
  // Compound files are where the reader follows chains: give most inputs
  // the signature, so that the engine explores the directory reader.
  std::string input = raw.empty() || raw[0] != 'Z' ? std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) : "";
  input.append(raw);
  for (std::string_view bytes : {std::string_view(input), raw}) {
    const std::optional<tabulon::Failure> kind = tabulon::recognizeNonZipBytes(bytes);
    if (!kind) continue;
    const TabulonFailure k = kind->kind();
    require(k == TABULON_ENCRYPTED || k == TABULON_LEGACY_XLS || k == TABULON_NOT_A_SPREADSHEET,
            "bytes that are no zip archive named as another kind");
    require(kind->what()[0] != '\0', "a refusal without a text");
  }
  return 0;
}
