// A print server of the test's own: cupsd started in a folder of the
// sandbox, listening only on a local socket there, with queues made by
// lpadmin that are stopped (they take jobs and keep them, nothing is
// printed, no filter runs). A test reads back the jobs as the server
// received them: their attributes and the document in the spool folder.
//
// The server is the CUPS client library's (CUPS_SERVER) for the object's
// life; the earlier value comes back afterwards. Every wait is bounded.
#pragma once

#include <cups/cups.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testenv {

// One job as the server holds it.
struct CupsJob {
  int id = 0;
  std::string media;             // "" when the job named none
  std::string print_color_mode;  // "" when the job named none
  std::string page_ranges;       // "" when the job named none
  std::string sides;             // "" when the job named none
  int number_up = 0;             // 0 when the job named none
  std::string document;          // the spooled document's path
};

class PrivateCupsServer {
 public:
  static constexpr const char* kCupsd = "/usr/sbin/cupsd";

  // Starts the server in `folder` (which must exist and be empty).
  explicit PrivateCupsServer(const std::string& folder) : folder_(folder) {
    const char* old = std::getenv("CUPS_SERVER");
    if (old != nullptr) saved_ = old;
    socket_ = folder_ + "/cups.sock";
    if (::access(kCupsd, X_OK) != 0) {
      why_ = std::string(kCupsd) + " is not installed";
      return;
    }
    if (socket_.size() >= 100) {
      why_ = "the socket path is too long: " + socket_;
      return;
    }
    for (const char* sub : {"/spool", "/tmp", "/cache", "/state", "/log", "/ppd"})
      ::mkdir((folder_ + sub).c_str(), 0755);
    std::ofstream(folder_ + "/cupsd.conf") << "Listen " << socket_ << "\nLogLevel warn\nBrowsing No\nWebInterface No\n"
                                           << "DefaultAuthType None\nMaxJobs 0\nPreserveJobFiles Yes\n"
                                           << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n";
    std::ofstream(folder_ + "/cups-files.conf")
        << "ServerRoot " << folder_ << "\nRequestRoot " << folder_ << "/spool\nTempDir " << folder_ << "/tmp\nCacheDir "
        << folder_ << "/cache\nStateDir " << folder_ << "/state\nAccessLog " << folder_ << "/log/access_log\nErrorLog "
        << folder_ << "/log/error_log\nPageLog " << folder_ << "/log/page_log\nFileDevice Yes\n";
    const std::vector<std::string> args{
        kCupsd, "-f", "-c", folder_ + "/cupsd.conf", "-s", folder_ + "/cups-files.conf"};
    pid_ = Spawn(args);
    if (pid_ <= 0) {
      why_ = "cupsd cannot be started";
      return;
    }
    setenv("CUPS_SERVER", socket_.c_str(), 1);
    cupsSetServer(socket_.c_str());
    // Up when it answers a request (10 s at most).
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      http_t* http = httpConnect2(socket_.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 200, nullptr);
      if (http != nullptr) {
        httpClose(http);
        up_ = true;
        return;
      }
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    why_ = "cupsd did not come up; see " + folder_ + "/log/error_log";
  }

  ~PrivateCupsServer() {
    cupsSetServer(nullptr);
    if (saved_)
      setenv("CUPS_SERVER", saved_->c_str(), 1);
    else
      unsetenv("CUPS_SERVER");
    cupsSetServer(nullptr);
    if (pid_ > 0) Stop(pid_, 5);
  }
  PrivateCupsServer(const PrivateCupsServer&) = delete;
  PrivateCupsServer& operator=(const PrivateCupsServer&) = delete;

  bool Ok() const { return up_; }
  // Why the server is not up.
  const std::string& Why() const { return why_; }
  const std::string& Socket() const { return socket_; }

  // A stopped queue printing to /dev/null: raw without a PPD, else with it;
  // `options` as lpadmin's -o ("PageSize=A4"). True when lpadmin made it.
  bool AddQueue(const std::string& name, const std::string& ppd = {}, const std::vector<std::string>& options = {}) {
    std::vector<std::string> args{"/usr/sbin/lpadmin", "-h", socket_, "-p", name, "-v", "file:///dev/null"};
    if (!ppd.empty()) args.insert(args.end(), {"-P", ppd});
    for (const std::string& o : options) args.insert(args.end(), {"-o", o});
    args.push_back("-E");
    return Run(args) && Run({"/usr/sbin/cupsdisable", "-h", socket_, name});
  }
  // Makes `name` the server's default queue.
  bool SetDefault(const std::string& name) { return Run({"/usr/sbin/lpadmin", "-h", socket_, "-d", name}); }

  // The jobs of `queue` in the order they came, as the server holds them.
  std::vector<CupsJob> Jobs(const std::string& queue) const {
    std::vector<CupsJob> jobs;
    http_t* http = httpConnect2(socket_.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 3000, nullptr);
    if (http == nullptr) return jobs;
    httpSetTimeout(http, 5, nullptr, nullptr);
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     queue.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    static const char* const kWanted[] = {"job-id", "media", "print-color-mode", "page-ranges", "number-up", "sides"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 6, nullptr, kWanted);
    ipp_t* response = cupsDoRequest(http, request, "/");
    // Each job is a group of its own, its attributes in any order.
    CupsJob job;
    bool in_job = false;
    auto flush = [&] {
      if (in_job && job.id > 0) {
        char file[64];
        std::snprintf(file, sizeof file, "/spool/d%05d-001", job.id);
        job.document = folder_ + file;
        jobs.push_back(job);
      }
      job = CupsJob();
      in_job = false;
    };
    for (ipp_attribute_t* a = response != nullptr ? ippFirstAttribute(response) : nullptr; a != nullptr;
         a = ippNextAttribute(response)) {
      if (ippGetGroupTag(a) != IPP_TAG_JOB || ippGetName(a) == nullptr) {
        flush();
        continue;
      }
      in_job = true;
      const std::string name = ippGetName(a);
      const char* text = ippGetString(a, 0, nullptr);
      if (name == "job-id")
        job.id = ippGetInteger(a, 0);
      else if (name == "media")
        job.media = text != nullptr ? text : "";
      else if (name == "sides")
        job.sides = text != nullptr ? text : "";
      else if (name == "print-color-mode")
        job.print_color_mode = text != nullptr ? text : "";
      else if (name == "number-up")
        job.number_up = ippGetInteger(a, 0);
      else if (name == "page-ranges") {
        int upper = 0;
        const int lower = ippGetRange(a, 0, &upper);
        job.page_ranges = std::to_string(lower) + "-" + std::to_string(upper);
      }
    }
    flush();
    ippDelete(response);
    httpClose(http);
    std::sort(jobs.begin(), jobs.end(), [](const CupsJob& a, const CupsJob& b) { return a.id < b.id; });
    return jobs;
  }

 private:
  // Starts a program with its output going to the server's log folder.
  pid_t Spawn(const std::vector<std::string>& args) const {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = folder_ + "/log/programs";
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
  }

  // Ends `pid`: SIGTERM, then after `seconds` SIGKILL; reaps it.
  static void Stop(pid_t pid, int seconds) {
    ::kill(pid, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Runs a program to its end (10 s at most): true when it exited with 0.
  bool Run(const std::vector<std::string>& args) const {
    const pid_t pid = Spawn(args);
    if (pid <= 0) return false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    for (;;) {
      const pid_t done = ::waitpid(pid, &status, WNOHANG);
      if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
      if (done < 0 || std::chrono::steady_clock::now() > end) {
        Stop(pid, 1);
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::string folder_;
  std::string socket_;
  std::optional<std::string> saved_;
  pid_t pid_ = -1;
  bool up_ = false;
  std::string why_;
};

}  // namespace testenv
