// Replays inputs through a fuzz target without the fuzzing engine and
// prints, per input, its size and the time one run takes (the mean of
// enough runs to last a few milliseconds): "BYTES MICROSECONDS PATH".
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    int runs = 0;
    const Clock::time_point start = Clock::now();
    Clock::duration spent{};
    do {
      LLVMFuzzerTestOneInput(data, bytes.size());
      ++runs;
      spent = Clock::now() - start;
    } while (spent < std::chrono::milliseconds(3) && runs < 1000);
    std::printf("%zu %.1f %s\n", bytes.size(),
                std::chrono::duration<double, std::micro>(spent).count() / runs, argv[i]);
  }
  return 0;
}
