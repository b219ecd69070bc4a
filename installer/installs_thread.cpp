// The installation thread: the check pass, the extraction pass, the
// shortcuts and the Uninstall entry, and the manifest.
#include "installs_thread.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "installs_container.h"
#include "installs_local_files.h"
#include "installs_manifest.h"
#include "installs_settings.h"
#include "plat_durable.h"
#include "plat_file.h"
#include "plat_path_map.h"
#include "qlm_base_codes.h"
#include "qlm_base_flow.h"
#include "qlm_base_object.h"
#include "qlm_base_util.h"
#include "qlm_mem_block.h"
#include "qlm_parser_vormcode_escape.h"
#include "qlm_platform_file.h"
#include "qlm_platform_file_io.h"
#include "qlm_zlib.h"
#include "win_interfaces.h"

namespace {

std::atomic<int32_t> g_running{0};

// Ends the work with a failure text.
[[noreturn]] void fail(std::string_view text) { raise_base_error(errRunTime, text); }

// A failure text followed by the reason the system gave, in parentheses;
// the text alone when there is none.
std::string with_reason(std::string_view text, std::string_view reason) {
  std::string out(text);
  if (!reason.empty()) out.append(" (").append(reason).append(")");
  return out;
}

// The system's own words for an errno value ("No space left on device");
// empty for none.
std::string system_reason(int err) {
  if (err == 0) return "";
  char buffer[256];
  return strerror_r(err, buffer, sizeof buffer);
}

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  out += text;
  out += '"';
  return out;
}

// The destination as the file layer resolves it. "." and ".." levels are
// resolved on the text (as Expand does) before any name reaches the host,
// which would follow ".." through a symbolic link into another folder; the
// run maps its own names to host paths too (the staged files, the swept
// folders, the manifest), so it takes the resolved text from the start.
// Names without such levels stay as typed; a name that cannot be resolved
// stays too, and the operations on it fail as they would.
std::string resolved_destination(const std::string& text) {
  std::string_view rest = text;
  if (rest.size() >= 2 && rest[1] == ':') rest.remove_prefix(2);
  bool dots = false;
  for (size_t pos = 0; pos <= rest.size() && !dots;) {
    size_t end = rest.find_first_of("\\/", pos);
    if (end == std::string_view::npos) end = rest.size();
    const std::string_view level = rest.substr(pos, end - pos);
    dots = level == "." || level == "..";
    pos = end + 1;
  }
  if (!dots) return text;
  cFileName name(text);
  if (name.IsLongNetwork()) return text;  // refused by every operation
  // FullName drops a long prefix, which Expand would keep unresolved.
  cFileName resolved(name.FullName());
  if (!resolved.Expand()) return text;
  const std::string full = resolved.FullName();
  return full.empty() ? text : full;
}

// The form in which two items of a record are the same item.
std::string item_key(uint8_t kind, std::string_view value, bool current) {
  std::string key(1, char(kind));
  if (kind == cnLocalReg) key += current ? 'C' : 'L';
  key += string_trim_upper(value);
  return key;
}

// One run of the steps. The manifest is built in memory and written at the
// very end, so a run that fails leaves the old manifest as it was. Every run
// reads the old manifest first (an update must, a new installation over an
// old one may) and the journal of earlier runs that did not end, and
// carries over every item of theirs (created folders included) that it does
// not list again: a folder made before stays made, and this run, finding
// it, would not list it.
class cInstallRun {
 public:
  explicit cInstallRun(cWorkEntries& log) : mLog(log) {}

  void Run() {
    mUpdate = gInstallMode == cnModeUpdate;
    const char* mode = mUpdate ? "update" : "installation";
    mFolder = resolved_destination(gDestination);
    mDestination = string_add_backslash(mFolder);
    mJournal = std::make_unique<cInstallJournal>(mFolder);

    mManifest = cWriteFlow::Construct();
    if (mManifest == nullptr || !mManifest->Open()) fail("Not enough memory (A1) ...");
    Line(cnManifestHeader);
    Line("");
    mOld = std::make_unique<cLocalFiles>();
    std::string why;
    if (mUpdate) {
      if (!local_files_load(mOld.get(), mFolder, &why))
        fail(with_reason("Cannot update or upgrade (G2). Reinstallation is required.", why));
    } else {
      // A new installation over an earlier one takes over its record, or
      // the uninstaller would leave what the earlier one made. Its options
      // are this run's own; a record that cannot be read is passed over.
      const bool desktop_icon = gDesktopIcon;
      if (!local_files_load(mOld.get(), mFolder)) mOld->Clear();
      gDesktopIcon = desktop_icon;
    }
    for (rLocalFile* e = mOld->First(); e != nullptr; e = e->next) {
      e->active = true;
      e->excluded = false;
      e->covered = false;
    }
    journal_load(&mJournaled, mFolder);

    Log(std::string("Checking integrity of ") + mode + " files ...~) ");
    CheckPass();
    Log(std::string("Extracting ") + mode + " files:~(p) ");
    ExtractPass();
    CommitFiles();
    Line(manifest_item_line("file", cnManifestFileName));
    Cover(cnLocalFile, cnManifestFileName);
    Line("");

    if (!mUpdate) Integrate();
    CarryOver();

    Line("");
    Line(manifest_option_line("DesktopIcon", gDesktopIcon));
    Line(manifest_option_line("OnlyCurrent", gOnlyCurrent));
    Line(manifest_option_line("Application", std::string_view(gAppPath)));
    Line(manifest_option_line("IsPowerUser", !gNotPrivileged));
    Line("");
    Line(cnManifestClosing);
    WriteManifest();
    // The manifest now lists all the journal did.
    mJournal->Remove();
  }

 private:
  void Log(std::string_view text) {
    if (mLog.AddText(text) == nullptr) raise_base_error(errNEnoughMem, "{cWorkEntries.AddText}");
  }
  // Lines are gathered and handed to the flow in blocks: the memory flow
  // finds its end by walking its chunks on every write, so a write per
  // line made a manifest of many lines (an update carrying millions of
  // old items) quadratic.
  void Line(std::string_view text) {
    mPending.append(text).append("\r\n");
    if (mPending.size() >= cnPendingBlock) FlushLines();
  }
  void FlushLines() {
    if (mPending.empty()) return;
    if (mPending.size() > size_t(INT32_MAX) || !mManifest->Write(mPending.data(), int32_t(mPending.size())))
      raise_base_error(errQLMCall, "{not cWriteFlow.Write}");
    mPending.clear();
  }

  // An item this run lists: an earlier record's item of the same kind and
  // value (string_trim_upper forms) is not carried.
  void Cover(uint8_t kind, std::string_view value, bool current = false) {
    mListed.insert(item_key(kind, value, current));
  }

  void ItemLine(const rLocalFile& e) {
    switch (e.kind) {
      case cnLocalFile: Line(manifest_item_line("file", e.value)); break;
      case cnLocalPath: Line(manifest_item_line("path", e.value)); break;
      case cnLocalExt: Line(manifest_item_line("ext", e.value)); break;
      case cnLocalLink: Line(manifest_item_line("link", e.value)); break;
      case cnLocalGroup: Line(manifest_item_line("group", e.value)); break;
      case cnLocalReg: Line(manifest_reg_line(e.value, e.current)); break;
      default: break;
    }
  }

  // A thing made: into the journal at once (durably), and into the record.
  void Made(uint8_t kind, const std::string& line, std::string_view value, bool current = false) {
    mJournal->Append(line);
    Line(line);
    Cover(kind, value, current);
  }

  // Every item of the old record this run did not list again, in the old
  // order, then every item of the journal that neither lists (a folder only
  // while it exists: a run killed before making it journaled it too).
  void CarryOver() {
    std::unordered_map<std::string, bool> journaled;  // key: carried already
    for (const rLocalFile* e = mJournaled.First(); e != nullptr; e = e->next)
      journaled.emplace(item_key(e->kind, e->value, e->current), false);
    for (const rLocalFile* e = mOld->First(); e != nullptr; e = e->next) {
      const std::string key = item_key(e->kind, e->value, e->current);
      if (mListed.count(key) != 0) continue;
      if (!journaled.empty())
        if (const auto it = journaled.find(key); it != journaled.end()) it->second = true;
      ItemLine(*e);
    }
    for (const rLocalFile* e = mJournaled.First(); e != nullptr; e = e->next) {
      bool& carried = journaled[item_key(e->kind, e->value, e->current)];
      // The journal holds folders, links, groups and keys only; anything
      // else in it was not written by a run.
      if (e->kind != cnLocalPath && e->kind != cnLocalLink && e->kind != cnLocalGroup && e->kind != cnLocalReg)
        continue;
      if (carried || mListed.count(item_key(e->kind, e->value, e->current)) != 0) continue;
      if (e->kind == cnLocalPath && !dir_exists(e->value)) continue;
      carried = true;
      ItemLine(*e);
    }
  }

  void CheckPass() {
    switch (mWalker.OpenInstallData()) {
      case cInstWalker::eOpen::Opened: break;
      case cInstWalker::eOpen::NotRegistered: fail("Installation file is corrupted (A) ...");
      case cInstWalker::eOpen::Unreadable: fail("Installation file is corrupted (B) ...");
    }
    if (!mWalker.ReadSignature()) fail("Installation file is corrupted (C) ...");
    rInstEntry entry;
    for (;;) {
      switch (mWalker.Next(entry)) {
        case eInstStep::Entry: break;
        case eInstStep::BadHeader:
        case eInstStep::BadName: fail("Installation file is corrupted (D) ...");
        case eInstStep::BadPayload: fail("Installation file is corrupted (E) ...");
        case eInstStep::BadNext: fail("Installation file is corrupted (F) ...");
      }
      if (entry.kind == cnInstKindEnd) break;
      if (entry.kind == cnInstKindFile && !mWalker.PayloadMatches()) fail("Installation file is corrupted (E) ...");
      if (entry.kind == cnInstKindExt) {
        Line(manifest_item_line("ext", entry.name));
        Cover(cnLocalExt, entry.name);
      }
      // Unknown kinds are passed over like the others, so that every payload
      // after them is checked too.
      if (!mWalker.SeekNext()) fail("Installation file is corrupted (F) ...");
    }
    // A container without its main program would install an application
    // that nothing can start.
    if (!mWalker.MainSeen()) fail("Installation file is corrupted (D) ...");
    if (!mWalker.Rewind()) fail("Installation file is corrupted (G) ...");
    Line("");
  }

  // Creates the missing levels of the folder and writes a path line for
  // each, outermost first.
  void MakeFolder(const std::string& folder, const std::function<bool(const tCreatedFolder&)>& make) {
    std::vector<std::string> created;
    // Each folder goes into the journal as soon as it is made, so that the
    // next run knows it when this one fails or is killed.
    const bool ok = make([this, &created](const std::string& f) {
      created.push_back(f);
      mJournal->Append(manifest_item_line("path", string_add_backslash(f)));
      return true;
    });
    // Folders made before a failure are recorded too: the uninstaller
    // removes them. The folder holding each new one is synced with the
    // run's files, so the new folder survives a crash as they do.
    for (const std::string& f : created) {
      std::string host;
      if (plat::to_posix(string_add_backslash(f) + "..", host) == plat::kPathOk) mBatch.SyncFolder(host);
      Line(manifest_item_line("path", string_add_backslash(f)));
      Cover(cnLocalPath, string_add_backslash(f));
    }
    if (!ok) fail("Cannot create directory of " + quoted(folder) + " ...");
  }

  void ExtractFile(const rInstEntry& entry) {
    cFileName name(entry.name);
    name.SetPath(mDestination + entry.path);
    const std::string target = name.FullName();
    if (target.empty()) fail("Error creating " + quoted(mDestination + entry.path + entry.name) + " ...");
    Log("~<fs:pt=\"-3\">" + markup_escape(target) + "~>~)");
    Line(manifest_item_line("file", string_add_backslash(entry.path) + entry.name));
    Cover(cnLocalFile, string_add_backslash(entry.path) + entry.name);
    if (entry.main_program != 0) gAppPath = target;

    // The entry's size is known: inflate straight into a block of exactly
    // that size, stopping at the first byte past it.
    cMemBlock<void> inflated;
    const int32_t inflate = entry.unpacked_size > uint32_t(INT32_MAX)
                                ? cnZlibFailed
                                : zlib_decompress_sized(mWalker.Payload(), mWalker.PayloadSize(),
                                                        int32_t(entry.unpacked_size), inflated.Ref());
    if (inflate == cnZlibLengthDiffers) fail("Error decompressing (B) " + quoted(target) + " ...");
    if (inflate != cnZlibOk) fail("Error decompressing (A) " + quoted(target) + " ...");
    const int32_t inflated_size = int32_t(entry.unpacked_size);

    if (!dir_exists(&name)) {
      // The folder as the file layer resolved it, or as the container names
      // it when it could not be resolved: a failure always names it.
      std::string folder = name.Path();
      if (folder.empty()) folder = mDestination + entry.path;
      MakeFolder(folder, [&name](const tCreatedFolder& cb) { return mk_dir_all_notify(&name, 0, cb); });
    }
    SweepFolder(mDestination + entry.path);
    // Written under a temporary name now, made durable and put in place
    // with every other file of the run at the end of the pass.
    std::string host;
    if (plat::to_posix(target, host) != plat::kPathOk) fail("Error creating " + quoted(target) + " ...");
    mStaged.push_back(target);
    if (!mBatch.Stage(host, inflated.Get(), inflated_size, plat::new_file_mode(target))) {
      const std::string why = system_reason(mBatch.Failure().err);
      if (mBatch.Failure().stage == plat::DurableStage::Create)
        fail(with_reason("Error creating " + quoted(target) + " ...", why));
      fail(with_reason("Error writing to " + quoted(target) + " ...", why));
    }
  }

  // Syncs every staged file at once, renames each over its target and syncs
  // their folders. A file whose rename fails is reported by its name; files
  // renamed before it are new, the others old.
  void CommitFiles() {
    if (mBatch.Commit()) return;
    const plat::DurableFailure& f = mBatch.Failure();
    const std::string target = f.item >= 0 && size_t(f.item) < mStaged.size() ? mStaged[size_t(f.item)] : mDestination;
    fail(with_reason("Error writing to " + quoted(target) + " ...", system_reason(f.err)));
  }

  // Removes the temporary files that a killed earlier run left in a folder
  // this run writes to (once per folder).
  void SweepFolder(const std::string& folder) {
    std::string host;
    if (plat::to_posix(folder, host) != plat::kPathOk || !mSwept.insert(host).second) return;
    plat::durable_remove_stale(host);
  }

  void ExtractPass() {
    SweepFolder(mDestination);
    // A run killed while staging left its temporary files in folders it
    // made, which this run may not write to.
    for (const rLocalFile* e = mJournaled.First(); e != nullptr; e = e->next)
      if (e->kind == cnLocalPath && dir_exists(e->value)) SweepFolder(e->value);
    rInstEntry entry;
    for (;;) {
      if (mWalker.Next(entry) != eInstStep::Entry) fail("Installation file is corrupted (H) ...");
      if (entry.kind == cnInstKindEnd) break;
      if (entry.kind == cnInstKindFile) {
        ExtractFile(entry);
      } else if (entry.kind == cnInstKindFolder) {
        const std::string folder = mDestination + entry.path;
        if (!dir_exists(folder))
          MakeFolder(folder, [&folder](const tCreatedFolder& cb) { return mk_dir_all_notify(folder, 0, cb); });
      }
      if (!mWalker.SeekNext()) fail("Installation file is corrupted (I) ...");
    }
  }

  void LinkLines(const std::string& link, const std::string& reported) {
    Made(cnLocalLink, manifest_item_line("link", link), link);
    Made(cnLocalLink, manifest_item_line("link", reported), reported);
  }

  void Integrate() {
    const std::string app_name(cnApplicationName);
    const std::string uninstaller = mDestination + gUninstallerName;
    std::string link, reported;

    Log("~(p)Creating Programs Group Folder ...~) ");
    Line("");
    const rLinkFields app_link{.target = gAppPath, .working_dir = mFolder, .icon_file = gAppPath};
    if (!shortcut_group_create(app_name, app_name, app_link, link, reported))
      fail("Cannot create program group Application Icon ...");
    LinkLines(link, reported);
    const rLinkFields uninstaller_link{.target = uninstaller, .working_dir = mFolder, .icon_file = uninstaller};
    if (!shortcut_group_create(app_name, "Uninstall", uninstaller_link, link, reported))
      fail("Cannot create program group Uninstallation Icon ...");
    LinkLines(link, reported);
    const std::string group = cFileName(link).Path(), reported_group = cFileName(reported).Path();
    Made(cnLocalGroup, manifest_item_line("group", group), group);
    Made(cnLocalGroup, manifest_item_line("group", reported_group), reported_group);

    if (gDesktopIcon) {
      Log("Creating Desktop Icon ...~) ");
      if (!shortcut_desktop_create(app_name, app_link, link, reported)) fail("Cannot create desktop icon ...");
      LinkLines(link, reported);
    }

    Log("Registering Uninstallation ...~) ");
    Line("");
    std::string key_path;
    std::string why;
    if (!uninstall_entry_create(gOnlyCurrent, app_name, uninstaller, std::string(cnPublisher), key_path, &why))
      fail(with_reason("Cannot create uninstallation entry ...", why));
    Made(cnLocalReg, manifest_reg_line(key_path, gOnlyCurrent), key_path, gOnlyCurrent);
  }

  void WriteManifest() {
    // The text is what was written; the flow's size is its capacity.
    FlushLines();
    const int64_t size = mManifest->Written();
    std::string text;
    try {
      text.resize(size_t(size));
    } catch (...) {
      fail("Not enough memory (B1) ...");
    }
    if (!mManifest->Seek(0)) fail("Finalization error (A1) ...");
    if (!mManifest->Read(text.data(), int32_t(size)) || mManifest->LastIO() != uint32_t(size))
      fail("Finalization error (B1) ...");
    try {
      text += manifest_check_line(text) + "\r\n";
    } catch (...) {
      fail("Not enough memory (B1) ...");
    }
    int err = 0;
    switch (manifest_write(mFolder, text, &err)) {
      case 0: break;
      case 1: fail("Not enough memory (B1) ...");
      case 2: fail("Finalization error (F1) ...");
      case 3: fail(with_reason("Finalization error (C1) ...", system_reason(err)));
      default: fail(with_reason("Finalization error (E1) ...", system_reason(err)));
    }
  }

  cWorkEntries& mLog;
  bool mUpdate = false;
  std::string mFolder;       // the destination, resolved (resolved_destination)
  std::string mDestination;  // the same with a trailing "\\"
  std::unique_ptr<cWriteFlow> mManifest;
  static constexpr size_t cnPendingBlock = size_t(1) << 20;
  std::string mPending;  // lines not yet in mManifest
  cInstWalker mWalker;
  std::unique_ptr<cLocalFiles> mOld;          // the old manifest's items
  cLocalFiles mJournaled;                     // the journal's items (runs that did not end)
  std::unique_ptr<cInstallJournal> mJournal;  // this run's, opened on its first line
  std::unordered_set<std::string> mListed;    // item_key of every item this run lists
  std::set<std::string> mSwept;               // host folders already rid of stale temporary files
  plat::DurableBatch mBatch;                  // the run's files, until they are put in place
  std::vector<std::string> mStaged;           // their names, in staging order
};

}  // namespace

TInstallThread::TInstallThread(iInstallWindow* owner) : mOwner(owner), mLog(owner->InstallLog()) {}

TInstallThread* TInstallThread::Create(iInstallWindow* owner) {
  if (owner == nullptr) return nullptr;
  return new (std::nothrow) TInstallThread(owner);
}

int32_t TInstallThread::Running() { return g_running.load(); }

bool TInstallThread::Resume() {
  if (mResumed) return false;
  mResumed = true;
  g_running.fetch_add(1);
  try {
    std::thread([this] {
      Execute();
      EndHandler();
      delete this;
      g_running.fetch_sub(1);
    }).detach();
  } catch (...) {
    mResumed = false;
    g_running.fetch_sub(1);
    return false;
  }
  return true;
}

void TInstallThread::EndHandler() noexcept {
  // The window handles the end's failures on its own thread; one that comes
  // back here (the hand-over failed) has nobody to answer it but the log.
  try {
    mOwner->InstallThreadTerminate(*this);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%.*s installer: the end of the installation failed: %s\n", int(cnApplicationName.size()),
                 cnApplicationName.data(), e.what());
  } catch (...) {
    std::fprintf(stderr, "%.*s installer: the end of the installation failed: unknown exception\n",
                 int(cnApplicationName.size()), cnApplicationName.data());
  }
}

void TInstallThread::Execute() {
  const std::string word = gInstallMode == cnModeUpdate ? "Update" : "Installation";
  mOwner->SetInstallSuccess(false);
  if (mLog == nullptr) return;
  cWorkEntries& log = *mLog;
  cException errors;
  try {
    cInstallRun(log).Run();
    mOwner->SetInstallSuccess(true);
    log.AddText("~(p)~<b;ct=green>" + word + " successfuly completed.~> ");
    log.AddText(
        "~(p)~<fs:pt=\"-2\">Note: By pressing the ~<b>Print~> button You can print this for later reference.~> ");
    log.AddText("~(p)");
  } catch (const std::exception&) {
    exception_log_append(std::current_exception(), &errors);
    const rExceptionLog* row = errors.Log() != nullptr ? errors.Log()->First() : nullptr;
    if (row == nullptr) {
      log.AddText("~(p)~<b;ct=red>" + word + " failed for undefined reason.~> ");
    } else {
      const std::string message = exception_log_row_text(*row);
      if (message.empty())
        log.AddText("~(p)~<b;ct=red>" + word + " failed for unspecified reason.~> ");
      else
        log.AddText("~(p)~<b;ct=red>" + word + " Failure: " + markup_escape(message) + "~>");
    }
    log.AddText("~(p)~<fs:pt=\"-2\">Note: Press ~<b>Print~> button to print this for later reference.~> ");
  } catch (...) {
    log.AddText("~(p)~<b;ct=red>" + word + " failed for unknown reason.~> ");
  }
}
