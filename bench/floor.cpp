// The physical floor of rendering a sheet: a process that opens the
// workbook and inflates its first worksheet and its shared strings as a
// stream into one small reused buffer, and does nothing with the bytes.
// Prints "<worksheet bytes> <shared-string bytes> <seconds in process>".
//
//   floor WORKBOOK
#include <isa-l/igzip_lib.h>
#include <zip.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr std::size_t kInput = 64 * 1024;
constexpr std::size_t kOutput = 256 * 1024;

// Inflated size of the member, or -1 when it cannot be read. A missing
// optional member counts as empty.
long long inflateMember(zip_t* archive, const char* name, bool required,
                        std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out) {
  zip_int64_t index = zip_name_locate(archive, name, 0);
  if (index < 0) return required ? -1 : 0;
  zip_stat_t st;
  if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &st) != 0) return -1;
  zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), ZIP_FL_COMPRESSED);
  if (file == nullptr) return -1;

  long long total = 0;
  if (st.comp_method == ZIP_CM_STORE) {
    zip_int64_t n;
    while ((n = zip_fread(file, out.data(), out.size())) > 0) total += n;
    zip_fclose(file);
    return n < 0 ? -1 : total;
  }

  inflate_state state;
  isal_inflate_init(&state);
  state.crc_flag = ISAL_DEFLATE;  // raw deflate, as zip stores it
  bool ok = true;
  while (state.block_state != ISAL_BLOCK_FINISH) {
    if (state.avail_in == 0) {
      zip_int64_t n = zip_fread(file, in.data(), in.size());
      if (n <= 0) {
        ok = false;  // truncated or unreadable
        break;
      }
      state.next_in = in.data();
      state.avail_in = static_cast<std::uint32_t>(n);
    }
    state.next_out = out.data();
    state.avail_out = static_cast<std::uint32_t>(out.size());
    if (isal_inflate(&state) != ISAL_DECOMP_OK) {
      ok = false;
      break;
    }
    total += static_cast<long long>(out.size() - state.avail_out);
  }
  zip_fclose(file);
  return ok ? total : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s WORKBOOK\n", argv[0]);
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  int error = 0;
  zip_t* archive = zip_open(argv[1], ZIP_RDONLY, &error);
  if (archive == nullptr) {
    std::fprintf(stderr, "floor: cannot open %s as a zip archive\n", argv[1]);
    return 1;
  }
  std::vector<std::uint8_t> in(kInput), out(kOutput);
  long long sheet = inflateMember(archive, "xl/worksheets/sheet1.xml", true, in, out);
  long long strings = inflateMember(archive, "xl/sharedStrings.xml", false, in, out);
  zip_discard(archive);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (sheet < 0 || strings < 0) {
    std::fprintf(stderr, "floor: cannot inflate the parts of %s\n", argv[1]);
    return 1;
  }
  std::printf("%lld %lld %.6f\n", sheet, strings, seconds);
  return 0;
}
