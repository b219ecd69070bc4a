// The items of an existing installation's uninstall manifest, read back for
// an update: what the new run does not cover again is carried over into the
// new manifest.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "qlm_base_array.h"

// Item kinds, as the manifest's keys.
inline constexpr uint8_t cnLocalFile = 1;   // "file": relative to the destination
inline constexpr uint8_t cnLocalPath = 2;   // "path": a folder the installation created
inline constexpr uint8_t cnLocalExt = 3;    // "ext"
inline constexpr uint8_t cnLocalLink = 4;   // "link"
inline constexpr uint8_t cnLocalGroup = 5;  // "group"
inline constexpr uint8_t cnLocalReg = 6;    // "reg", with its hive

struct rLocalFile {
  rLocalFile* next = nullptr;
  uint8_t kind = 0;
  std::string value;
  bool current = false;  // kind 6: the current user's hive
  bool active = false;
  bool excluded = false;
  bool covered = false;
};

// cLocalFiles: linked entries (capacity class 6) in manifest order.
class cLocalFiles : public cArrayOf<rLocalFile, 1> {
 public:
  cLocalFiles() : cArrayOf<rLocalFile, 1>(6) {}
  // Appends an item (not active, not excluded, not covered); nil on failure.
  rLocalFile* Add(uint8_t kind, std::string_view value, bool current);
  // The first active, not excluded item of the kind whose value equals the
  // wanted one after string_trim_upper on both; covered items are found too.
  // An index by kind and compared form (built on the first call after an
  // Add) keeps each call independent of the list's length, so an update of
  // thousands of files costs no more per file than a new installation.
  rLocalFile* Find(uint8_t kind, std::string_view value) const;

 protected:
  cArray* NewEmpty() const override { return new (std::nothrow) cLocalFiles(); }

 private:
  mutable std::unordered_map<std::string, std::vector<rLocalFile*>> mIndex;
  mutable uint32_t mIndexed = UINT32_MAX;  // Count() when the index was built
};

// Reads folder\uninstall.config (opened for reading only), decrypts it with
// the manifest passphrase, parses it and appends its items to the list:
// ext, file, path, link, group and reg, from the
// "~\application@uninstall\" section (label and name in any case) up to its
// closing; everything before the header and after the closing is ignored.
// A DesktopIcon option sets gDesktopIcon. A text that ends with a check line
// (installs_manifest.h) must match it; one without loads as before.
// The section must hold nothing but what the manifest writer makes: blanks,
// CR LF line ends, and tags of one known key each (ext, file, path, link,
// group: a non-empty quoted UTF-8 text without control characters; reg: such a
// text and hk=CURRENT or LOCAL; DesktopIcon, OnlyCurrent, IsPowerUser: yes
// or no; Application: a quoted text). Anything else, a missing closing
// included, is a damaged manifest: false, and neither the list nor
// gDesktopIcon changes. False too for a missing, empty, unreadable or
// undecryptable file, a file over cnManifestMaxBytes, a text that does not
// parse, and a text without the header (which no manifest lacks: a wrong
// passphrase can give one). Never raises.
// Why a load failed, for the failure text: empty when the manifest is
// merely missing, unreadable as a manifest or damaged; the system's words
// when the file could not be read; a sentence when it is over the size cap.
bool local_files_load(cLocalFiles* list, std::string_view folder, std::string* why = nullptr);

// The largest manifest the reader takes: 64 MiB. The engine writes one line
// per file, folder, extension, link, group and key, some 20 to 300 bytes
// each, so an installation of a million files stays below it; the largest
// installation this installer makes writes some 2 KB. A larger file is
// refused before anything is read (a hostile or damaged file cannot make
// the reader allocate more than this and the list of its lines).
inline constexpr uint64_t cnManifestMaxBytes = uint64_t(64) << 20;
// The longest line the parser is asked to read (the writer's longest is a
// host path of 4,095 bytes in a tag); a longer line is a damaged manifest.
inline constexpr size_t cnManifestLineMax = 65536;

// The same on decrypted manifest bytes (the part after the decryption). The
// text is read line by line: a line in one of the writer's plain forms
// directly, any other line by the parser on its own, so the memory besides
// the text and the list is that of one line, whatever the text's length.
bool local_files_parse(cLocalFiles* list, const void* data, int64_t size);

// One line of the section: appends its items to the list, and sets
// desktop_icon (1 yes, 0 no) for a DesktopIcon option. Answers 0 for a
// line read (blank lines and options included), 1 for the section's
// closing, -1 for a line that is not one the writer makes (nothing appended).
// `parser_only` skips the fast forms (tests prove the two alike).
int32_t local_files_read_line(std::string_view line, cLocalFiles* list, int32_t& desktop_icon, bool parser_only);

// Reads folder\uninstall.journal (installs_manifest.h): the items of every
// complete line that reads as a manifest line; others are passed over.
// False when there is no journal (or it cannot be read, or is over the cap).
bool journal_load(cLocalFiles* list, std::string_view folder);
