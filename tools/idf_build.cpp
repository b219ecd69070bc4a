// idf_build: writes an install container from a listing.
//
//   idf_build LISTING OUTPUT
//
// The listing has one entry per line, five fields separated by "|", blanks
// around each field ignored; empty lines and lines starting with "#" are
// skipped:
//
//   kind | name | path | source file | main flag
//
// kind is "file", "folder" or "ext"; the end entry is appended after the last
// listed one. A relative source file is taken from the listing's folder. The
// main flag is 1 or 0 (empty = 0) and is only allowed on files; a container
// needs at least one flagged file, as the installer refuses one without.
//
// The container: "IDF100", then per entry the header "ientry", kind (1 byte),
// name length (2), name, path length (2), path, unpacked size, unpacked
// check, stored size, stored check, next-entry offset (4 each), main flag
// (1), then the payload. Integers are little-endian. A file's payload is its
// zlib stream at level 6; each check is the CRC-32 register started at
// 0xFFFFFFFF without the final inversion; the next-entry offset is the
// header's end plus the stored size, and 0xFFFFFFFF in the end entry.
//
// The output is written under a temporary name and renamed into place, so a
// failed run never leaves a container that looks complete.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "installs_names.h"
#include "qlm_base_crc.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t cnContainerLimit = INT32_MAX;  // the resource registry keeps sizes as signed 32 bits

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ListedEntry {
  uint8_t kind = 0;
  std::string name;
  std::string path;
  std::string source;
  uint8_t main = 0;
};

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<ListedEntry> read_listing(const fs::path& listing) {
  std::ifstream in(listing, std::ios::binary);
  if (!in) throw Failure(listing.string() + ": cannot open the listing");
  std::vector<ListedEntry> entries;
  std::string text;
  int line_no = 0;
  bool has_main = false;
  while (std::getline(in, text)) {
    ++line_no;
    const std::string where = listing.string() + ":" + std::to_string(line_no) + ": ";
    std::string_view line = trim(text);
    if (line.empty() || line.front() == '#') continue;
    std::vector<std::string_view> fields;
    for (;;) {
      const size_t bar = line.find('|');
      fields.push_back(trim(line.substr(0, bar)));
      if (bar == std::string_view::npos) break;
      line.remove_prefix(bar + 1);
    }
    if (fields.size() != 5) throw Failure(where + "expected 5 fields separated by '|'");
    ListedEntry e;
    e.name = fields[1];
    e.path = fields[2];
    e.source = fields[3];
    if (fields[0] == "file") {
      e.kind = 1;
    } else if (fields[0] == "folder") {
      e.kind = 2;
    } else if (fields[0] == "ext") {
      e.kind = 3;
    } else {
      throw Failure(where + "unknown kind '" + std::string(fields[0]) + "' (file, folder or ext)");
    }
    if (fields[4] == "1") {
      e.main = 1;
    } else if (!fields[4].empty() && fields[4] != "0") {
      throw Failure(where + "the main flag is 0 or 1");
    }
    if (e.name.size() > UINT16_MAX || e.path.size() > UINT16_MAX) throw Failure(where + "name or path too long");
    switch (e.kind) {
      case 1:
        if (!inst_file_valid(e.name, e.path))
          throw Failure(where + "a file needs a plain name and a relative path ending in '\\'");
        if (e.source.empty()) throw Failure(where + "a file needs a source file");
        break;
      case 2:
        if (!e.name.empty() || e.path.empty() || !inst_folder_valid(e.path))
          throw Failure(where + "a folder has no name and a relative path ending in '\\'");
        break;
      case 3:
        if (!inst_name_valid(e.name) || !e.path.empty())
          throw Failure(where + "an extension has a plain name and no path");
        break;
    }
    if (e.kind != 1 && (e.main != 0 || !e.source.empty()))
      throw Failure(where + "only a file has a source file or the main flag");
    has_main = has_main || e.main != 0;
    entries.push_back(std::move(e));
  }
  if (in.bad()) throw Failure(listing.string() + ": cannot read the listing");
  if (!has_main) throw Failure(listing.string() + ": no file carries the main flag");
  return entries;
}

std::vector<uint8_t> read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Failure(file.string() + ": cannot open");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw Failure(file.string() + ": cannot read");
  if (bytes.size() > cnContainerLimit) throw Failure(file.string() + ": larger than 2 GiB");
  return bytes;
}

uint32_t check(const std::vector<uint8_t>& bytes) {
  return crc32_update(0xFFFFFFFFu, bytes.data(), int32_t(bytes.size()));
}

std::vector<uint8_t> deflate_level6(const std::vector<uint8_t>& plain, const std::string& what) {
  uLongf size = compressBound(uLong(plain.size()));
  std::vector<uint8_t> stream(size);
  if (compress2(stream.data(), &size, plain.data(), uLong(plain.size()), 6) != Z_OK)
    throw Failure(what + ": compression failed");
  stream.resize(size);
  return stream;
}

void put_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void put_text(std::vector<uint8_t>& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }

struct Header {
  uint8_t kind = 0;
  std::string_view name;
  std::string_view path;
  uint32_t unpacked_size = 0;
  uint32_t unpacked_check = 0;
  uint32_t stored_size = 0;
  uint32_t stored_check = 0;
  uint8_t main = 0;
};

// Appends the header and payload; the next-entry offset is the header's end
// plus the payload (or 0xFFFFFFFF for the end entry).
void put_entry(std::vector<uint8_t>& out, const Header& h, const std::vector<uint8_t>& payload) {
  const uint64_t header_end = out.size() + 32 + h.name.size() + h.path.size();
  const uint64_t next = header_end + payload.size();
  if (next > cnContainerLimit) throw Failure("the container would exceed 2 GiB");
  put_text(out, "ientry");
  out.push_back(h.kind);
  put_u16(out, uint16_t(h.name.size()));
  put_text(out, h.name);
  put_u16(out, uint16_t(h.path.size()));
  put_text(out, h.path);
  put_u32(out, h.unpacked_size);
  put_u32(out, h.unpacked_check);
  put_u32(out, h.stored_size);
  put_u32(out, h.stored_check);
  put_u32(out, h.kind == 4 ? 0xFFFFFFFFu : uint32_t(next));
  out.push_back(h.main);
  out.insert(out.end(), payload.begin(), payload.end());
}

std::vector<uint8_t> build(const std::vector<ListedEntry>& entries, const fs::path& base) {
  std::vector<uint8_t> out;
  put_text(out, "IDF100");
  const std::vector<uint8_t> none;
  for (const ListedEntry& e : entries) {
    Header h;
    h.kind = e.kind;
    h.name = e.name;
    h.path = e.path;
    if (e.kind != 1) {
      put_entry(out, h, none);
      continue;
    }
    fs::path source(e.source);
    if (source.is_relative()) source = base / source;
    const std::vector<uint8_t> plain = read_file(source);
    const std::vector<uint8_t> stream = deflate_level6(plain, source.string());
    if (stream.size() > cnContainerLimit) throw Failure(source.string() + ": stream larger than 2 GiB");
    h.unpacked_size = uint32_t(plain.size());
    h.unpacked_check = check(plain);
    h.stored_size = uint32_t(stream.size());
    h.stored_check = check(stream);
    h.main = e.main;
    put_entry(out, h, stream);
  }
  Header end;
  end.kind = 4;
  put_entry(out, end, none);
  return out;
}

void write_atomically(const fs::path& target, const std::vector<uint8_t>& bytes) {
  fs::path temp = target;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      throw Failure(target.string() + ": cannot write");
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw Failure(target.string() + ": cannot rename the temporary file into place");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: idf_build LISTING OUTPUT\n";
    return 2;
  }
  try {
    const fs::path listing(argv[1]);
    const std::vector<ListedEntry> entries = read_listing(listing);
    write_atomically(argv[2], build(entries, listing.parent_path()));
  } catch (const std::exception& e) {
    std::cerr << "idf_build: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
