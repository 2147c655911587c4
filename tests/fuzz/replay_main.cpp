// Runs a fuzz target over saved inputs without libFuzzer: every file named
// on the command line, or every file in a named folder, in name order. The
// normal test build links each target with this, so the seed corpus and
// every input that once found a fault run in the test suite under the
// sanitizers of that build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static bool Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read this input\n", file.c_str());
    return false;
  }
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  // An empty vector's data() may be null; the fuzzer never passes null.
  const uint8_t empty = 0;
  LLVMFuzzerTestOneInput(bytes.empty() ? &empty : bytes.data(), bytes.size());
  return true;
}

int main(int argc, char** argv) {
  int replayed = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = argv[i];
    if (fs::is_directory(arg)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::recursive_directory_iterator(arg)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
      for (const auto& file : files) {
        ok = Replay(file) && ok;
        ++replayed;
      }
    } else if (fs::exists(arg)) {
      ok = Replay(arg) && ok;
      ++replayed;
    }
    // A target without regression inputs yet has no folder for them.
  }
  std::printf("replayed %d inputs\n", replayed);
  if (replayed == 0) {
    std::fprintf(stderr, "no inputs found: give the seed corpus folder of this target\n");
    return 1;
  }
  return ok ? 0 : 1;
}
