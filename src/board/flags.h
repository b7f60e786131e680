#pragma once
// Reading a tool's flags: "--name value" pairs and bare switches, with one
// error line that names the flag. The one flag reader of every tool (the
// data tools and the trainer); a flag that cannot be used exits with status
// FLAG_ERROR_STATUS, whatever the tool.

#include <string>
#include <vector>

#include "board/types.h"

constexpr int FLAG_ERROR_STATUS = 2;

class flagReader {
 public:
  // `tool` prefixes the error lines; `help` is the command that lists the flags.
  flagReader(std::string tool, const std::vector<std::string>& args, std::string help = "")
      : tool_(std::move(tool)), help_(help.empty() ? "dravlin " + tool_ + " --help" : std::move(help)), args_(args) {}
  bool done() const { return at_ >= args_.size(); }
  // The next word, taken as a flag.
  const std::string& flag() {
    current_ = args_[at_++];
    return current_;
  }
  // The flag's value: the next word, whatever it is.
  bool text(std::string& value);
  // The flag's value as a whole decimal number within [lo, hi].
  bool number(i64 lo, i64 hi, i64& value);
  // The flag's value as a finite decimal number within [lo, hi].
  bool real(double lo, double hi, double& value);
  // The current word names no flag: false, with the error.
  bool unknown();
  const std::string& error() const { return error_; }

 private:
  std::string tool_;
  std::string help_;
  const std::vector<std::string>& args_;
  std::size_t at_ = 0;
  std::string current_;
  std::string error_;
};

// The text holds nothing but a decimal number within [lo, hi].
bool wholeNumber(const std::string& text, i64 lo, i64 hi, i64& value);
