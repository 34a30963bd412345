// Test support: a PostgreSQL server of the test's own, made with initdb in a data folder under the
// build folder, listening on a free loopback port, and stopped by its owner. PostgreSQL refuses to
// run as root, so as root (CI) it runs as the "postgres" user.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "receiver/pg_db.h"
#include "receiver/receiver_process.h"

namespace receiver::testing {

inline int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

class PgServer {
 public:
  PgServer() = default;
  ~PgServer() { stop(); }
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // Where Debian's server programs are, from libpq's pg_config (/usr/lib/postgresql/15/bin/ on
  // Debian 12); empty when the server is not installed.
  static std::string serverPrograms() {
    std::string folder;
    if (FILE* pipe = ::popen("pg_config --bindir 2>/dev/null", "r")) {
      char line[512];
      if (std::fgets(line, sizeof line, pipe)) folder = line;
      ::pclose(pipe);
    }
    while (!folder.empty() && (folder.back() == '\n' || folder.back() == ' ')) folder.pop_back();
    return !folder.empty() && ::access((folder + "/initdb").c_str(), X_OK) == 0 ? folder + "/" : "";
  }

  bool start() {
    folder_ = freshFolder("postgresql");
    port_ = freeLoopbackPort();
    bin_ = serverPrograms();
    if (bin_.empty()) return false;
    const std::string& bin = bin_;
    as_ = ::geteuid() == 0 ? "runuser -u postgres -- " : "";
    if (::geteuid() == 0 && std::system(("chown postgres '" + folder_ + "'").c_str()) != 0) return false;
    const std::string init = as_ + bin + "initdb --no-sync -A trust -U receiver -E UTF8 -D '" + folder_ + "/data' >'" +
                             folder_ + "/initdb.log' 2>&1";
    if (std::system(init.c_str()) != 0) return false;
    const std::string run = as_ + bin + "pg_ctl -w -t 60 -D '" + folder_ + "/data' -l '" + folder_ + "/server.log' -o \"-p " +
                            std::to_string(port_) + " -k '" + folder_ + "' -c listen_addresses=127.0.0.1\" start >/dev/null";
    started_ = std::system(run.c_str()) == 0;
    return started_;
  }

  void stop() {
    if (!started_) return;
    started_ = false;
    std::system((as_ + bin_ + "pg_ctl -w -D '" + folder_ + "/data' -m fast stop >/dev/null").c_str());
  }

  // A new, empty database on the server; its URI.
  std::string newDatabase(const std::string& name) {
    std::string error;
    PgConnection admin = connectPostgres(uri("postgres"), error);
    if (!admin) return "";
    pgExec(admin.get(), "DROP DATABASE IF EXISTS " + name, error);
    if (!pgExec(admin.get(), "CREATE DATABASE " + name, error)) return "";
    return uri(name);
  }

  std::string uri(const std::string& database) const {
    return "postgresql://receiver@127.0.0.1:" + std::to_string(port_) + "/" + database;
  }

 private:
  std::string folder_;
  std::string as_;
  std::string bin_;
  int port_ = 0;
  bool started_ = false;
};

}  // namespace receiver::testing
