// Replays fuzz inputs without libFuzzer, so the corpus runs under the sanitizers in the
// ordinary test suite. Arguments are files or directories of files.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::printf("cannot read %s\n", path.c_str());
    return 1;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 0;
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& item : std::filesystem::recursive_directory_iterator(arg)) {
        if (!item.is_regular_file()) continue;
        failures += RunFile(item.path());
        ++runs;
      }
    } else {
      failures += RunFile(arg);
      ++runs;
    }
  }
  std::printf("replayed %d inputs\n", runs);
  // An empty corpus would make this test pass without checking anything.
  return failures == 0 && runs > 0 ? 0 : 1;
}
