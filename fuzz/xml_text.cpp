// Entity and character reference decoding on arbitrary text.
#include "cells/xml_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tabulon::fuzz::require;
  const std::string_view raw = tabulon::fuzz::asText(data, size);
  std::string out = "kept";
  tabulon::appendDecodedXml(out, raw);
  require(out.starts_with("kept"), "decoding changed what was there before");
  // Every reference is longer than the UTF-8 it stands for.
  require(out.size() - 4 <= raw.size(), "decoded text longer than the raw text");
  if (raw.find_first_of("&\r") == std::string_view::npos)
    require(out.substr(4) == raw, "text without references or line ends changed");
  require(tabulon::decodeXml(raw) == out.substr(4), "decodeXml differs from appendDecodedXml");
  return 0;
}
