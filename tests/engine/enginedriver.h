#pragma once
// Drives the engine binary over pipes. Every read has a deadline, so an engine
// that hangs fails the test instead of hanging it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

class engineProcess {
 public:
  explicit engineProcess(const std::vector<std::string>& args = {}) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      int devNull = open("/dev/null", O_WRONLY);
      if (devNull >= 0) dup2(devNull, 2);
      close(toChild[0]);
      close(toChild[1]);
      close(fromChild[0]);
      close(fromChild[1]);
      std::vector<char*> argv;
      std::string program = DRAVLIN_BINARY;
      argv.push_back(program.data());
      std::vector<std::string> copy = args;
      for (auto& a : copy) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    signal(SIGPIPE, SIG_IGN);
  }

  ~engineProcess() {
    closeInput();
    if (out_ >= 0) close(out_);
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  engineProcess(const engineProcess&) = delete;
  engineProcess& operator=(const engineProcess&) = delete;

  bool started() const { return pid_ > 0 && in_ >= 0 && out_ >= 0; }

  void send(const std::string& line) {
    if (in_ < 0) return;
    std::string text = line + "\n";
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      ssize_t n = write(in_, p, left);
      if (n <= 0) return;
      p += n;
      left -= std::size_t(n);
    }
  }

  void closeInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  // Next output line, or nothing when the deadline passes or output ends.
  std::optional<std::string> readLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      std::size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      if (out_ < 0 || eof_) return std::nullopt;
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                         .count());
      if (left <= 0) return std::nullopt;
      pollfd pfd{out_, POLLIN, 0};
      if (poll(&pfd, 1, left) <= 0) continue;
      char chunk[4096];
      ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) {
        eof_ = true;
        continue;
      }
      buffer_.append(chunk, std::size_t(n));
    }
  }

  // Reads lines until one starts with `prefix`; returns every line read
  // (the matching one last), or an empty optional on timeout.
  std::optional<std::vector<std::string>> readUntil(const std::string& prefix, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::string> lines;
    for (;;) {
      int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                         .count());
      auto line = readLine(left > 0 ? left : 0);
      if (!line) return std::nullopt;
      lines.push_back(*line);
      if (line->rfind(prefix, 0) == 0) return lines;
    }
  }

  // Skips the start-up banner.
  bool skipBanner(int timeoutMs = 20000) { return readUntil("enter 'help'", timeoutMs).has_value(); }

  // Waits for the process to end; its exit status, or -1 on timeout.
  int waitExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      // Keep draining output so the engine never blocks on a full pipe.
      readLine(10);
    }
    return -1;
  }

  // Output still buffered or arriving within `timeoutMs`.
  std::vector<std::string> drain(int timeoutMs) {
    std::vector<std::string> lines;
    while (auto line = readLine(timeoutMs)) lines.push_back(*line);
    return lines;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  bool eof_ = false;
  bool reaped_ = false;
  std::string buffer_;
};

// Deadlines scale in sanitizer builds, which run several times slower.
inline int scaledMs(int ms) { return std::getenv("DRAVLIN_SANITIZED") ? ms * 5 : ms; }
