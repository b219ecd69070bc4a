// Path names of the file layer: cFileName holds one Windows path name,
// checks it against a strict grammar, splits it on demand into drive,
// directory, file name and extension, composes and edits those parts, and
// converts between the ordinary form and the long form that begins with
// "\\?\". Names keep the Windows grammar throughout; only the platform's path
// module turns them into host paths.
//
// The module owns the error codes 299-302 and their message function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "qlm_base_object.h"

constexpr int32_t errInvalidPathString = 299;
constexpr int32_t errCharNotAllowed = 300;
constexpr int32_t errCharNotExpected = 301;
constexpr int32_t errSeqNotComplete = 302;

// The module's message function: codes 299-302; every other code goes to
// qlm_base_exception_string.
std::unique_ptr<cExceptionString> qlm_platform_file_exception_string(uint32_t code);

extern uint32_t id_cFileName;

// Takes the module's type id (start) and releases nothing (stop).
void qlm_platform_file_start();
void qlm_platform_file_stop();

// The system's path limit: longer names get the long prefix.
constexpr size_t cnMaxPath = 260;

// Marks of one parse: byte positions inside the name (the long prefix
// counts); npos when absent.
struct rFileNameMarks {
  static constexpr size_t npos = std::string::npos;
  size_t prefixStart = npos;
  size_t driveStart = npos;
  size_t directoryStart = npos;
  size_t nameStart = npos;
  size_t extensionStart = npos;
  size_t pathStart = npos;  // driveStart, else directoryStart
  size_t fileStart = npos;  // nameStart, else extensionStart
  size_t bodyStart = npos;  // 0 without a prefix, else pathStart, else fileStart
};

// cFileName follows the "keep the code" convention: every public operation
// catches every failure, keeps its code in LastError() and answers false, nil
// or "". A failed operation leaves the name unchanged. Getters answer copies;
// a name that is set to "" makes the object empty.
class cFileName : public cBase {
 public:
  cFileName() = default;
  explicit cFileName(std::string_view path);
  bool Identify(uint32_t id) const override;

  // A new object with copies of the name, the cached parts, the last error and
  // the level data; nil on failure (this object's LastError then holds it).
  std::unique_ptr<cFileName> Clone();

  // Replace the whole name. A nil text counts as empty.
  bool Assign(std::string_view text);
  bool Assign(const char* text);

  // Build a new name from parts.
  bool Compose(std::string_view path = {}, std::string_view file_name = {}, std::string_view extension = {});
  bool ComposeFull(std::string_view drive = {}, std::string_view directory = {}, std::string_view file_name = {},
                   std::string_view extension = {});

  // Replace one part, keeping the others.
  bool SetDrive(std::string_view drive);
  bool SetDirectory(std::string_view directory);
  bool SetPath(std::string_view path);
  bool SetName(std::string_view file_name);
  bool SetExtension(std::string_view extension);
  // Appends one directory level, keeping the file part.
  bool IncreasePath(std::string_view level);

  // Parts of the name; "" when absent or on failure.
  std::string Drive();
  std::string Directory();
  std::string Path();
  std::string Extension();
  // Level `index` (1-based) of the directory part with its trailing "\".
  std::string PathLevel(int32_t index);
  // The deepest level, or "" when there is none.
  std::string LastDirectory();
  // Number of directory levels; -1 when the name is empty or does not parse
  // (LastError then holds the parse's own code).
  int32_t PathLevels();
  // The name without a long prefix; "" for an empty object.
  std::string FullName();
  // The name in the form to hand to the system: names longer than cnMaxPath
  // get the long prefix, shorter ones lose it. May rewrite the name.
  std::string SystemName();
  // Replaces the name with its absolute form, resolved lexically against the
  // current folder ("." and ".." collapsed, "/" read as "\"). Long-prefixed
  // names stay unchanged.
  bool Expand();

  // Parses the name; false with LastError 281 (empty) or 300-302.
  bool scan_buffer(rFileNameMarks& marks);
  // The parse itself, for any text: fills the marks and the level count, or
  // raises 300, 301 or 302 with the offending position.
  static void scan_name(std::string_view name, rFileNameMarks& marks, int32_t& level_count);

  // The name is the long form of a network name, "\\?\UNC\..." in any
  // case. The parts drop the long prefix, and "UNC\..." alone would name a
  // relative folder, so the file layer refuses such names (15).
  bool IsLongNetwork() const;

  int32_t LastError() const { return mLastError; }
  // The file functions over a name keep their code here.
  void SetLastError(int32_t code) { mLastError = code; }
  bool IsEmpty() const { return mName.empty(); }

 private:
  void ReplaceName(std::string&& name);
  void DropCaches();
  // Parses for a getter or setter; a parse failure raises 291.
  rFileNameMarks ScanPrivate();
  // Sets LastError to 281 for an empty object, else to 0; answers !empty.
  bool CheckNotEmpty();
  std::string CachedPart(std::optional<std::string>& cache, int part);
  std::string LevelText(int32_t index);

  std::string mName;
  size_t mBody = 0;
  std::optional<std::string> mCachedDrive;
  std::optional<std::string> mCachedDirectory;
  std::optional<std::string> mCachedPath;
  std::optional<std::string> mCachedLevel;
  std::optional<std::string> mCachedExtension;
  int32_t mLastError = 0;
  int32_t mLevelCount = 0;
  uint32_t mCachedLevelIndex = 0;
};
