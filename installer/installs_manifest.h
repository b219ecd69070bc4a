// The uninstall manifest: "uninstall.config" in the destination folder, a
// VormCode text (one byte per character, CR LF lines) that lists everything
// an installation made, encrypted with the manifest cipher (kvn_crypt.h) to
// exactly the text's length.
//
// Lines, built by plain string concatenation:
//   header   ~\application@uninstall\       (opens the section)
//   item       ~<key="value">               ext, file, path, link, group
//   reg        ~<reg="key path";hk=CURRENT>  (or LOCAL)
//   option     ~<Key=value>                 yes/no bare, Application quoted
//   closing  ~\\                            (closes the open section)
//   check    ~<Check="89ABCDEF">            (after the closing: see below)
// A quoted value doubles every double quote in it, which is VormCode's own
// rule for a quote inside quoted text, so any value reads back as written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view cnManifestFileName = "uninstall.config";
// The run's journal beside the manifest (see cInstallJournal).
inline constexpr std::string_view cnJournalFileName = "uninstall.journal";
inline constexpr std::string_view cnManifestHeader = "~\\application@uninstall\\";
inline constexpr std::string_view cnManifestClosing = "~\\\\";

// "  ~<" key "=" quoted value ">".
std::string manifest_item_line(std::string_view key, std::string_view value);
// "  ~<reg=" quoted key path ";hk=" CURRENT or LOCAL ">".
std::string manifest_reg_line(std::string_view key_path, bool current);
// "  ~<" key "=" value ">": a yes/no option.
std::string manifest_option_line(std::string_view key, bool value);
// "  ~<" key "=" quoted value ">": a text option.
std::string manifest_option_line(std::string_view key, std::string_view value);

// The text with its double quotes doubled, in double quotes.
std::string manifest_quote(std::string_view value);

// The check line that ends a manifest: the standard CRC-32 of every byte
// before it, as eight upper-case hex digits. The cipher turns one damaged
// byte of the file into 16 garbled bytes, and a garbled block inside a quoted
// value can still parse; the check value tells such a text from the one the
// engine wrote. It stands after the closing, where readers of the section
// look no further, so a manifest stays what it was to them.
inline constexpr std::string_view cnManifestCheckTag = "~<Check=\"";
std::string manifest_check_line(std::string_view text_before);
// 1 when the text ends with a well-formed check line whose value matches the
// bytes before it, -1 when it ends with one that does not match, 0 when it
// ends with none (a manifest written before check lines, or one whose check
// line itself was damaged: the section is then read as it stands).
int32_t manifest_check(std::string_view text);

// Encrypts the text and replaces `folder`\uninstall.config with it through
// file_replace_atomic: on any failure the old manifest stays as it was.
// Answers 0, or the stage that failed: 1 no memory for the working copy,
// 2 the cipher, 3 the new file could not be created, 4 it could not be
// written or put in place; for 3 and 4 the errno of the failure goes to
// `err` when given.
int32_t manifest_write(std::string_view folder, std::string_view text, int* err = nullptr);

// Writes `size` bytes to a new file beside `target` and renames it over the
// target once every byte is on disk (written, synced, closed), so a failure
// at any point leaves an existing target unchanged; the temporary file is
// removed on failure. Temporary files of this target that ended processes
// left (a write killed halfway) are removed first. Answers 0, 1 when the
// temporary file cannot be created, 2 when writing, syncing, closing or
// renaming fails (its errno to `err` when given).
int32_t file_replace_atomic(std::string_view target, const void* data, int64_t size, int* err = nullptr);

// The journal of the runs into a destination: "uninstall.journal" beside the
// manifest, plain text, one manifest item line (path, link, group, reg) and
// CR LF per thing a run made, appended and synced as each is made. The
// manifest is written only at a run's end, so a run that fails or is killed
// leaves no record of its folders, links and keys; the next run finds the
// folders made and would not list them. It reads the journal instead and
// carries its items over, and removes the journal once its own manifest is
// in place. Appending is best effort: a journal that cannot be written does
// not stop the run (its manifest still lists what it made, when it ends).
class cInstallJournal {
 public:
  // The journal of the destination folder (without or with its "\").
  explicit cInstallJournal(std::string_view folder);
  ~cInstallJournal();
  cInstallJournal(const cInstallJournal&) = delete;
  cInstallJournal& operator=(const cInstallJournal&) = delete;
  // Appends the line and a CR LF, and syncs the file; false when it could
  // not (the file is then left alone for the rest of the run).
  bool Append(std::string_view line);
  // Closes and deletes the journal.
  void Remove();

 private:
  std::string mFile;
  int mFd = -1;
  int64_t mEnd = 0;
  bool mOpened = false;  // a line was written by this run
  bool mBroken = false;
};
