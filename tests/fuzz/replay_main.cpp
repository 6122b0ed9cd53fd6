// Replay driver for the fuzz targets when libFuzzer is not in use: runs every
// file of the seed corpus, a fixed set of mutations of each (bit flips,
// truncations, splices) and random buffers, all from a fixed seed so a
// failure repeats. Usage: fuzz_X CORPUS_DIR [MORE_FILES_OR_DIRS...]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static void run_one(const std::vector<uint8_t>& v) {
  // Exact-size heap copy so the sanitizer sees any overread.
  uint8_t* p = static_cast<uint8_t*>(std::malloc(v.size() ? v.size() : 1));
  if (!v.empty()) std::copy(v.begin(), v.end(), p);
  LLVMFuzzerTestOneInput(p, v.size());
  std::free(p);
}

static void add_path(const fs::path& p, std::vector<std::vector<uint8_t>>& seeds) {
  std::error_code ec;
  if (fs::is_directory(p, ec)) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(p, ec))
      if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) add_path(f, seeds);
  } else if (fs::is_regular_file(p, ec)) {
    std::ifstream f(p, std::ios::binary);
    std::vector<uint8_t> v((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (v.size() > (1u << 20)) v.resize(1u << 20);
    seeds.push_back(std::move(v));
  }
}

int main(int argc, char** argv) {
  std::vector<std::vector<uint8_t>> seeds;
  for (int i = 1; i < argc; ++i) add_path(argv[i], seeds);
  const int mutations = std::getenv("TAMSEL_FUZZ_RUNS") ? std::atoi(std::getenv("TAMSEL_FUZZ_RUNS")) : 200;
  std::mt19937 rng(12345);
  size_t runs = 0;
  for (const auto& s : seeds) {
    run_one(s);
    ++runs;
    for (int m = 0; m < mutations && !s.empty(); ++m) {
      std::vector<uint8_t> v = s;
      switch (rng() % 4) {
        case 0:  // bit flips
          for (int k = 0, n = 1 + rng() % 8; k < n; ++k) v[rng() % v.size()] ^= uint8_t(1u << (rng() % 8));
          break;
        case 1:  // truncation
          v.resize(rng() % v.size());
          break;
        case 2:  // random bytes over a stretch
        {
          size_t at = rng() % v.size();
          size_t len = std::min<size_t>(v.size() - at, 1 + rng() % 64);
          for (size_t k = 0; k < len; ++k) v[at + k] = uint8_t(rng());
          break;
        }
        default:  // cut a stretch out
        {
          size_t at = rng() % v.size();
          size_t len = std::min<size_t>(v.size() - at, 1 + rng() % 256);
          v.erase(v.begin() + long(at), v.begin() + long(at + len));
          break;
        }
      }
      run_one(v);
      ++runs;
    }
  }
  for (int r = 0; r < 500; ++r) {
    std::vector<uint8_t> v(rng() % 4096);
    for (auto& b : v) b = uint8_t(rng());
    // Sprinkle start-code prefixes so parsers get past their sync search.
    for (size_t k = 0; k + 4 < v.size(); k += 1 + rng() % 200) {
      v[k] = 0;
      v[k + 1] = 0;
      v[k + 2] = 1;
    }
    run_one(v);
    ++runs;
  }
  std::printf("%zu inputs from %zu seeds: no fault\n", runs, seeds.size());
  return 0;
}
