// Replays a fuzz target's corpus in the ordinary build: every file of the
// folders given on the command line goes once through LLVMFuzzerTestOneInput.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::directory_iterator(argv[i]))
      if (item.is_regular_file()) files.push_back(item.path());
    if (files.empty()) {
      std::fprintf(stderr, "no corpus files in %s\n", argv[i]);
      return 1;
    }
    for (const auto& file : files) {
      std::ifstream in(file, std::ios::binary);
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++count;
    }
  }
  std::printf("replayed %d inputs\n", count);
  return 0;
}
