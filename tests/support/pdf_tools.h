// Reading printed PDF files back in tests with poppler-utils: the page count
// and size from pdfinfo, and a page rendered to pixels by pdftoppm. Tests
// skip when the programs are not installed.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace testenv {

// True when the program is found on PATH.
inline bool have_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
  return false;
}

// Runs a shell command and answers its standard output; `ok` is false when
// it did not exit with 0.
inline std::string run_capture(const std::string& command, bool& ok) {
  std::string out;
  ok = false;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return out;
}

inline std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct PdfInfo {
  int pages = 0;
  double width_pt = 0;
  double height_pt = 0;
};

// pdfinfo's page count and first page size; false when it fails.
inline bool pdf_info(const std::string& pdf, PdfInfo& info) {
  bool ok = false;
  const std::string text = run_capture("pdfinfo " + shell_quote(pdf) + " 2>/dev/null", ok);
  if (!ok) return false;
  auto value_of = [&](const std::string& key) {
    const size_t at = text.find("\n" + key + ":");
    if (at == std::string::npos) return std::string();
    const size_t start = text.find_first_not_of(' ', at + key.size() + 2);
    return text.substr(start, text.find('\n', start) - start);
  };
  const std::string pages = value_of("Pages"), size = value_of("Page size");
  if (std::from_chars(pages.data(), pages.data() + pages.size(), info.pages).ec != std::errc()) return false;
  const char* p = size.data();
  const char* end = size.data() + size.size();
  auto r = std::from_chars(p, end, info.width_pt);
  if (r.ec != std::errc() || size.compare(size_t(r.ptr - p), 3, " x ") != 0) return false;
  return std::from_chars(r.ptr + 3, end, info.height_pt).ec == std::errc();
}

// A page as 8-bit red, green, blue pixels.
struct RenderedPage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  uint32_t At(int x, int y) const {
    const uint8_t* p = rgb.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
};

// Renders one page (1-based) at `dpi` with pdftoppm into a PPM file beside
// the PDF and reads it; false when that fails.
inline bool pdf_render_page(const std::string& pdf, int page, int dpi, RenderedPage& out) {
  const std::string prefix = pdf + ".page" + std::to_string(page);
  bool ok = false;
  run_capture("pdftoppm -r " + std::to_string(dpi) + " -f " + std::to_string(page) + " -l " + std::to_string(page) +
                  " -singlefile " + shell_quote(pdf) + " " + shell_quote(prefix) + " 2>/dev/null",
              ok);
  if (!ok) return false;
  std::ifstream in(prefix + ".ppm", std::ios::binary);
  std::string magic;
  int maxval = 0;
  in >> magic >> out.width >> out.height >> maxval;
  in.get();
  if (!in || magic != "P6" || maxval != 255 || out.width <= 0 || out.height <= 0) return false;
  out.rgb.assign(size_t(out.width) * size_t(out.height) * 3, 0);
  in.read(reinterpret_cast<char*>(out.rgb.data()), std::streamsize(out.rgb.size()));
  return bool(in);
}

// The first bytes of a file ("" when it cannot be read).
inline std::string file_head(const std::string& path, size_t count) {
  std::ifstream in(path, std::ios::binary);
  std::string head(count, '\0');
  in.read(head.data(), std::streamsize(count));
  head.resize(size_t(in.gcount()));
  return head;
}

}  // namespace testenv
