#pragma once
// Regular expressions for the tests, behind one compiled file (textmatch.cpp):
// <regex> costs each file that includes it over twenty seconds of compile
// under the sanitizers. The calls mirror std::regex_match/search/replace;
// groups come back as strings (an unmatched group is empty).

#include <memory>
#include <string>
#include <vector>

namespace rx {

class pattern {
 public:
  // Implicit, so a literal or a built string can stand where a pattern is asked.
  pattern(const char* expression);
  pattern(const std::string& expression);
  struct compiled;
  const compiled& get() const { return *re_; }

 private:
  std::shared_ptr<const compiled> re_;
};

// The whole match, then each group.
using groups = std::vector<std::string>;

bool match(const std::string& text, const pattern& p);
bool match(const std::string& text, groups& m, const pattern& p);
bool search(const std::string& text, const pattern& p);
bool search(const std::string& text, groups& m, const pattern& p);
std::string replace(const std::string& text, const pattern& p, const std::string& with);

}  // namespace rx
