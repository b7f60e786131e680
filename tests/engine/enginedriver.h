#pragma once
// Drives the engine binary over pipes. Every read has a deadline, so an engine
// that hangs fails the test instead of hanging it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

// Deadlines stretch in sanitizer builds, which run several times slower.
inline int scaledMs(int ms) { return std::getenv("DRAVLIN_SANITIZED") ? ms * 5 : ms; }

class engineProcess {
 public:
  // A non-zero `addressSpace` limits the engine's virtual memory (bytes);
  // `env` holds NAME=VALUE settings added to the engine's environment;
  // `program` is another build of the engine.
  explicit engineProcess(std::vector<std::string> args = {}, rlim_t addressSpace = 0,
                         std::vector<std::string> env = {}, std::string program = DRAVLIN_BINARY) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
    signal(SIGPIPE, SIG_IGN);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      const int devNull = open("/dev/null", O_WRONLY);
      dup2(devNull, 2);
      for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1], devNull}) close(fd);
      for (auto& setting : env) putenv(setting.data());
      if (addressSpace) {
        const rlimit limit{addressSpace, addressSpace};
        setrlimit(RLIMIT_AS, &limit);
      }
      std::vector<char*> argv{program.data()};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
  }

  ~engineProcess() {
    closeInput();
    close(out_);
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  void send(const std::string& line) {
    const std::string text = line + "\n";
    if (in_ >= 0 && write(in_, text.data(), text.size()) < 0) closeInput();
  }

  void closeInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  // Next output line; nothing when the deadline passes or the output ends.
  std::optional<std::string> readLine(int timeoutMs) {
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const std::size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      const int left = msUntil(deadline);
      if (eof_ || left <= 0) return std::nullopt;
      pollfd pfd{out_, POLLIN, 0};
      if (poll(&pfd, 1, left) <= 0) continue;
      char chunk[4096];
      const ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) eof_ = true;
      else buffer_.append(chunk, std::size_t(n));
    }
  }

  // Lines up to and including the first that starts with `prefix`.
  std::optional<std::vector<std::string>> readUntil(const std::string& prefix, int timeoutMs) {
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::string> lines;
    while (auto line = readLine(msUntil(deadline))) {
      lines.push_back(*line);
      if (line->rfind(prefix, 0) == 0) return lines;
    }
    return std::nullopt;
  }

  // Every line until none arrives for `quietMs` or the output ends.
  std::vector<std::string> drain(int quietMs) {
    std::vector<std::string> lines;
    while (auto line = readLine(quietMs)) lines.push_back(*line);
    return lines;
  }

  bool skipBanner() { return readUntil("enter 'help'", scaledMs(20000)).has_value(); }

  // Exit status, or -1 when the process has not ended in time.
  int waitExit(int timeoutMs) {
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      readLine(10);  // keeps the pipe from filling up
    } while (msUntil(deadline) > 0);
    return -1;
  }

 private:
  using clock = std::chrono::steady_clock;
  static int msUntil(clock::time_point t) {
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(t - clock::now()).count());
  }

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  bool eof_ = false;
  bool reaped_ = false;
  std::string buffer_;
};

// Sends `lines`, then "isready", and returns what came before "readyok".
inline std::vector<std::string> answersTo(engineProcess& e, const std::vector<std::string>& lines) {
  for (const auto& l : lines) e.send(l);
  e.send("isready");
  auto got = e.readUntil("readyok", scaledMs(20000));
  if (!got) return {"<timeout>"};
  got->pop_back();
  return *got;
}
