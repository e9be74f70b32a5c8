// Replays a fuzz target's seed corpus, plus deterministic truncations and bit
// flips of every seed, so the tests exercise each parser's failure paths
// without a fuzzing engine.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void runOne(const std::vector<uint8_t>& bytes) {
  // A copy of exactly the right size lets sanitizers see overreads.
  std::vector<uint8_t> copy(bytes);
  LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  size_t seeds = 0, runs = 0;
  uint32_t rng = 12345;
  for (const auto& item : std::filesystem::directory_iterator(argv[1])) {
    if (!item.is_regular_file()) continue;
    std::ifstream in(item.path(), std::ios::binary);
    std::vector<uint8_t> seed((std::istreambuf_iterator<char>(in)), {});
    ++seeds;
    runOne(seed), ++runs;
    size_t step = seed.size() > 512 ? seed.size() / 256 : 1;
    for (size_t n = 0; n < seed.size(); n += step) {
      runOne(std::vector<uint8_t>(seed.begin(), seed.begin() + n)), ++runs;
    }
    for (int i = 0; i < 200 && !seed.empty(); ++i) {
      std::vector<uint8_t> flipped(seed);
      rng = rng * 1103515245u + 12345u;
      size_t bit = (rng >> 4) % (flipped.size() * 8);
      flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
      runOne(flipped), ++runs;
    }
  }
  if (seeds == 0) {
    std::fprintf(stderr, "no seeds in %s\n", argv[1]);
    return 1;
  }
  std::printf("%zu seeds, %zu runs, no crash\n", seeds, runs);
  return 0;
}
