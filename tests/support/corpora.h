// External test corpora: third-party test files that tools/fetch_corpora.sh
// extracts from Debian packages into a cache outside the source tree
// (tools/data/corpora.txt lists them). The build passes the cache folder in
// (QLM_CORPORA_DIR, from `fetch_corpora.sh --dir`); the environment variable
// of the same name overrides it.
//
// A test takes its file with QLM_CORPUS_FILE. When the file is missing the
// test is skipped with a message naming the script, or fails when
// QLM_REQUIRE_CORPORA is set (the test scripts set it after fetching, so
// there a missing or misnamed file is an error, never a silent skip).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testenv {

inline std::string corpora_dir() {
  if (const char* env = std::getenv("QLM_CORPORA_DIR"); env != nullptr && *env != '\0') return env;
#ifdef QLM_CORPORA_DIR
  return QLM_CORPORA_DIR;
#else
  return {};
#endif
}

inline bool corpora_required() {
  const char* env = std::getenv("QLM_REQUIRE_CORPORA");
  return env != nullptr && *env != '\0' && std::string(env) != "0";
}

// Host path of a corpus file; empty when it is not there.
inline std::string corpus_file(const std::string& corpus, const std::string& name) {
  const std::string dir = corpora_dir();
  if (dir.empty()) return {};
  const std::filesystem::path p = std::filesystem::path(dir) / corpus / name;
  std::error_code ec;
  return std::filesystem::is_regular_file(p, ec) ? p.string() : std::string();
}

}  // namespace testenv

// Declares `var` as the host path of the corpus file, or leaves the test:
// skipped without the corpora, failed when they are required.
#define QLM_CORPUS_FILE(var, corpus, name)                                                                 \
  const std::string var = ::testenv::corpus_file(corpus, name);                                            \
  if (var.empty()) {                                                                                       \
    if (::testenv::corpora_required())                                                                     \
      FAIL() << "corpus file " << corpus << "/" << name << " missing in '" << ::testenv::corpora_dir()     \
             << "': run tools/fetch_corpora.sh";                                                           \
    GTEST_SKIP() << "corpus file " << corpus << "/" << name << " not fetched: run tools/fetch_corpora.sh"; \
  }
