// Shell links: ".lnk" files in the public binary shell-link format, written
// by a small link object with the setters the installer uses, and a reader
// that parses such a file back (used by tests to check every field).
//
// Texts are UTF-8 and go into the file as UTF-16. File names given to Save
// are in the system's own (drive-letter) form; a process-wide path mapper
// turns them into host paths (identity until one is installed). The target
// is stored as the LinkInfo's local base path (the Unicode variant too when
// it is not plain ASCII), with a relative path from the link's folder when
// both sit on the same drive; description, working folder, arguments and
// icon location go into the string data. Results are HRESULT values.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

constexpr int32_t kHrOk = 0;                               // S_OK
constexpr int32_t kHrFalse = 1;                            // S_FALSE
constexpr int32_t kHrFail = int32_t(0x80004005u);          // E_FAIL
constexpr int32_t kHrInvalidArg = int32_t(0x80070057u);    // E_INVALIDARG
constexpr int32_t kHrPathNotFound = int32_t(0x80070003u);  // from ERROR_PATH_NOT_FOUND
constexpr int32_t kHrAccessDenied = int32_t(0x80070005u);  // from ERROR_ACCESS_DENIED
constexpr int32_t kHrDiskFull = int32_t(0x80070070u);      // from ERROR_DISK_FULL

constexpr int32_t kShowNormal = 1;       // SW_SHOWNORMAL
constexpr int32_t kShowMaximized = 3;    // SW_SHOWMAXIMIZED
constexpr int32_t kShowMinNoActive = 7;  // SW_SHOWMINNOACTIVE

// Link flags of the file header.
constexpr uint32_t kLinkHasIdList = 0x01;
constexpr uint32_t kLinkHasLinkInfo = 0x02;
constexpr uint32_t kLinkHasName = 0x04;
constexpr uint32_t kLinkHasRelativePath = 0x08;
constexpr uint32_t kLinkHasWorkingDir = 0x10;
constexpr uint32_t kLinkHasArguments = 0x20;
constexpr uint32_t kLinkHasIconLocation = 0x40;
constexpr uint32_t kLinkIsUnicode = 0x80;

// Longest text a link field takes, in UTF-16 units.
constexpr size_t kLinkMaxText = 32767;

// Maps a name in the system's form to a host path; false when it cannot.
using LinkPathMapper = bool (*)(const std::string& name, std::string& host);
// Installs the mapper for link files and targets (nullptr: names are host paths).
void shell_link_set_path_mapper(LinkPathMapper mapper);

class ShellLink {
 public:
  ShellLink() = default;
  ShellLink(const ShellLink&) = delete;
  ShellLink& operator=(const ShellLink&) = delete;

  // Each text is cut at its first NUL, as a C string would be; a text that
  // is not UTF-8 or longer than kLinkMaxText is refused (E_INVALIDARG) and
  // the old value stays. An empty text clears the field.
  int32_t SetPath(const std::string& target);
  int32_t SetWorkingDirectory(const std::string& folder);
  int32_t SetArguments(const std::string& arguments);
  int32_t SetDescription(const std::string& description);
  int32_t SetIconLocation(const std::string& icon_file, int32_t index);
  // One of kShowNormal, kShowMaximized, kShowMinNoActive.
  int32_t SetShowCmd(int32_t show);

  // Writes the link to `file` (replacing it durably through
  // plat_durable.h); with `remember` the file becomes the current file. The
  // file name is taken as bytes (it need not be UTF-8; a NUL in it is
  // refused with E_INVALIDARG).
  int32_t Save(const std::string& file, bool remember);
  // The current file: S_OK and its name, or S_FALSE and "" when none.
  int32_t GetCurFile(std::string& file) const;

 private:
  std::string path_, working_dir_, arguments_, description_, icon_file_, cur_file_;
  int32_t icon_index_ = 0;
  int32_t show_ = kShowNormal;
};

// Everything a link file says, as the reader finds it.
struct ShellLinkData {
  uint32_t flags = 0;
  uint32_t attributes = 0;
  uint32_t file_size = 0;
  int32_t icon_index = 0;
  uint32_t show_command = 0;
  uint16_t hot_key = 0;
  uint32_t drive_type = 0;         // of the LinkInfo's volume
  bool unicode_base_path = false;  // the LinkInfo holds the Unicode variant
  std::string target;              // the Unicode base path when present, else the code-page one
  std::string target_ansi;         // the code-page base path as stored
  std::string description, relative_path, working_dir, arguments, icon_location;
};

// Parses a link file's bytes; false with a reason in `error` when the bytes
// are not a well-formed link.
bool shell_link_parse(const std::string& bytes, ShellLinkData& link, std::string& error);
// Reads and parses a link file (host path).
bool shell_link_read(const std::string& host_file, ShellLinkData& link, std::string& error);

}  // namespace plat
