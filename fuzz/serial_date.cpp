// Serial dates over arbitrary doubles (every 8 bytes of the input), and the
// timestamp writer over arbitrary fields.
#include <cmath>
#include <cstring>

#include "cells/serial_date.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tabulon::fuzz::require;
  for (std::size_t at = 0; at + sizeof(double) <= size; at += sizeof(double)) {
    double serial;
    std::memcpy(&serial, data + at, sizeof serial);
    const std::string text = ExcelSerialToDMY(serial);
    require(text.size() <= 19, "a timestamp longer than 19 characters");
    // Every day from 1899-12-31 to 9999-12-31 has its full text.
    if (serial >= 0.0 && serial < 2958466.0) require(text.size() == 19, "no full text for a date in range");
    // Seconds round with a carry: the hour field never reaches 24.
    if (text.size() == 19) require(text.compare(11, 2, "24") < 0, "an hour past 23");
  }
  if (size >= 6 * sizeof(int)) {
    int f[6];
    std::memcpy(f, data, sizeof f);
    const std::string text = CreateTS(f[0], f[1], f[2], f[3], f[4], f[5]);
    require(text.size() <= 19, "a timestamp longer than 19 characters");
  }
  return 0;
}
