// Test support: the real receiver program, started on free loopback ports in a folder of its own
// and stopped (or killed) by the test that started it.
#pragma once

#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace receiver::testing {

inline std::string freshFolder(const std::string& name) {
  const char* work = std::getenv("SORVANE_RECEIVER_WORK");
  const std::string root = work ? work : "/tmp/sorvane-receiver-tests";
  const std::string folder = root + "/" + name + "-" + std::to_string(::getpid());
  std::system(("rm -rf '" + folder + "' && mkdir -p '" + folder + "'").c_str());
  return folder;
}

class ReceiverProcess {
 public:
  // `database` empty: an SQLite file in the folder.
  ReceiverProcess(std::string folder, std::vector<std::string> extra = {}, std::string database = "")
      : folder_(std::move(folder)), extra_(std::move(extra)), database_(std::move(database)) {}
  ~ReceiverProcess() { stop(); }

  bool start() {
    const std::string portFile = folder_ + "/ports";
    ::unlink(portFile.c_str());
    std::vector<std::string> args = {std::getenv("SORVANE_RECEIVER_EXE") ? std::getenv("SORVANE_RECEIVER_EXE")
                                                                         : "sorvane-receiver",
                                     "--db", database_.empty() ? "sqlite:" + database() : database_, "--listen", "127.0.0.1:0", "--dashboard",
                                     "127.0.0.1:0", "--password-file", folder_ + "/password", "--uploads",
                                     folder_ + "/uploads", "--port-file", portFile, "--min-free-mb", "1"};
    args.insert(args.end(), extra_.begin(), extra_.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      const std::string log = folder_ + "/receiver.log";
      std::freopen(log.c_str(), "a", stderr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    for (int i = 0; i < 300; ++i) {
      std::ifstream ports(portFile);
      if (ports >> reportPort_ >> dashboardPort_) return true;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // SIGTERM and a wait; the exit status, or -1.
  int stop() { return end(SIGTERM); }
  void kill() { end(SIGKILL); }

  std::string database() const { return folder_ + "/receiver.sqlite"; }
  std::string folder() const { return folder_; }
  std::string password() const {
    std::ifstream file(folder_ + "/password");
    std::string line;
    std::getline(file, line);
    return line;
  }
  int reportPort() const { return reportPort_; }
  int dashboardPort() const { return dashboardPort_; }
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  int end(int signal) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string folder_;
  std::vector<std::string> extra_;
  std::string database_;
  pid_t pid_ = -1;
  int reportPort_ = 0;
  int dashboardPort_ = 0;
};

}  // namespace receiver::testing
