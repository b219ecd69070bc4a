// libFuzzer flags a target needs by default, such as a larger -max_len for
// inputs that only matter when they are big (deep registry keys, long SVG
// documents). libFuzzer parses its command line after LLVMFuzzerInitialize,
// so the target appends the flags there; a flag given on the command line
// wins. The replay passes "-name=value" arguments over.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

inline void fuzz_default_flags(int* argc, char*** argv, std::initializer_list<const char*> flags) {
  static std::vector<std::string> added;
  static std::vector<char*> args;
  args.assign(*argv, *argv + *argc);
  for (const char* flag : flags) {
    const char* eq = std::strchr(flag, '=');
    const size_t name = eq != nullptr ? size_t(eq - flag) + 1 : std::strlen(flag);
    bool given = false;
    for (int i = 1; i < *argc; ++i) given = given || std::strncmp((*argv)[i], flag, name) == 0;
    if (!given) added.emplace_back(flag);
  }
  // Flags go before the corpus folders (libFuzzer takes them anywhere).
  for (std::string& flag : added) args.insert(args.begin() + 1, flag.data());
  args.push_back(nullptr);
  *argc = int(args.size()) - 1;
  *argv = args.data();
}
