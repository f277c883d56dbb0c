// Runs a fuzz target without libFuzzer, so the GCC builds (plain and with
// ASan/UBSan) run it too: every seed file, then mutants of the seeds made
// by a fixed pseudo-random sequence.
//
//   <target> SEED_DIR [RUNS]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

uint32_t state = 12345;

uint32_t Next() {
  state = state * 1103515245u + 12345u;
  return state >> 8;
}

// Byte values worth more than their share: the script's marks and codes,
// and the bytes that end or split lines.
const uint8_t interesting[] = {0xFF, 0x00, 0x01, 0x02, 0x03, 0x04, '\r', '\n', ' ', '.', '/', '0'};

std::string Mutate(const std::vector<std::string> &seeds) {
  std::string input = seeds[Next() % seeds.size()];
  int edits = 1 + (int)(Next() % 8);
  for (int e = 0; e < edits; e++) {
    size_t at = input.empty() ? 0 : Next() % (input.size() + 1);
    uint8_t byte = (Next() & 1) ? (uint8_t)Next() : interesting[Next() % sizeof interesting];
    switch (Next() % 5) {
      case 0:  // insert
        input.insert(at, 1, (char)byte);
        break;
      case 1:  // overwrite
        if (at < input.size()) input[at] = (char)byte;
        break;
      case 2:  // erase a few
        if (at < input.size()) input.erase(at, 1 + Next() % 8);
        break;
      case 3: {  // splice in a piece of another seed
        const std::string &other = seeds[Next() % seeds.size()];
        if (other.empty()) break;
        size_t from = Next() % other.size();
        input.insert(at, other, from, 1 + Next() % 64);
        break;
      }
      default:  // cut here
        input.resize(at);
    }
  }
  return input;
}

std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void Run(const std::string &input) {
  LLVMFuzzerTestOneInput((const uint8_t *)input.data(), input.size());
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SEED_DIR [RUNS]\n", argv[0]);
    return 2;
  }
  int runs = argc > 2 ? std::atoi(argv[2]) : 20000;
  // In name order, so every run of the same seeds is the same run.
  std::vector<std::filesystem::path> paths;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(argv[1], error))
    if (entry.is_regular_file()) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> seeds;
  for (const auto &path : paths) seeds.push_back(ReadFile(path));
  if (error || seeds.empty()) {
    std::fprintf(stderr, "%s: no seeds in %s\n", argv[0], argv[1]);
    return 2;
  }
  for (const std::string &seed : seeds) Run(seed);
  for (int run = 0; run < runs; run++) Run(Mutate(seeds));
  std::printf("%s: %zu seeds and %d mutants run\n", argv[0], seeds.size(), runs);
  return 0;
}
