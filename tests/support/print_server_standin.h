// A print server that never answers: a socket listening on the loopback
// whose connections are accepted (by the kernel) and never read or replied
// to, installed as the CUPS client library's server for the object's life.
// The earlier server comes back from the environment afterwards.
#pragma once

#include <arpa/inet.h>
#include <cups/cups.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace testenv {

class SilentPrintServer {
 public:
  SilentPrintServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 64) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    address_ = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    cupsSetServer(address_.c_str());
  }
  ~SilentPrintServer() {
    cupsSetServer(nullptr);
    if (fd_ >= 0) ::close(fd_);
  }
  SilentPrintServer(const SilentPrintServer&) = delete;
  SilentPrintServer& operator=(const SilentPrintServer&) = delete;
  bool Ok() const { return !address_.empty(); }

 private:
  int fd_ = -1;
  std::string address_;
};

}  // namespace testenv
