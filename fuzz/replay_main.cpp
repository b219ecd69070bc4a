// Replays a fuzz target's corpus in the ordinary build: every file of the
// folders given on the command line goes once through LLVMFuzzerTestOneInput.
//
// Options, before the folders:
//   --prefix=N   each input is the byte N (0..255) followed by the file, for
//                targets whose first byte picks options (external corpora)
//   --optional   a folder that does not exist is skipped; when none exists
//                the run answers 77 (CTest's skip code)
//   --ext=.png   only files ending so
// libFuzzer's own flags ("-name=value", one dash), which a target may add
// for itself in LLVMFuzzerInitialize (fuzz_flags.h), are passed over.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  int count = 0, folders = 0;
  int prefix = -1;
  bool optional = false;
  std::string ext;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--prefix=", 9) == 0) {
      prefix = std::atoi(argv[i] + 9) & 0xFF;
      continue;
    }
    if (std::strcmp(argv[i], "--optional") == 0) {
      optional = true;
      continue;
    }
    if (std::strncmp(argv[i], "--ext=", 6) == 0) {
      ext = argv[i] + 6;
      continue;
    }
    if (argv[i][0] == '-' && argv[i][1] != '-') continue;
    std::error_code ec;
    if (optional && !std::filesystem::is_directory(argv[i], ec)) {
      std::printf("skipped %s (not there)\n", argv[i]);
      continue;
    }
    ++folders;
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(argv[i]))
      if (item.is_regular_file() && (ext.empty() || item.path().extension() == ext)) files.push_back(item.path());
    if (files.empty()) {
      std::fprintf(stderr, "no corpus files in %s\n", argv[i]);
      return 1;
    }
    for (const auto& file : files) {
      std::ifstream in(file, std::ios::binary);
      std::vector<uint8_t> bytes;
      if (prefix >= 0) bytes.push_back(uint8_t(prefix));
      bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++count;
    }
  }
  if (optional && folders == 0) return 77;
  std::printf("replayed %d inputs\n", count);
  return 0;
}
