#include "textmatch.h"

// Under the sanitizers g++ 12 reports its own regex internals as
// maybe-uninitialized (false alarms in the library); the warning is silenced
// for the library's lines only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop

namespace rx {

struct pattern::compiled {
  std::regex re;
};

pattern::pattern(const std::string& expression) : re_(std::make_shared<const compiled>(compiled{std::regex(expression)})) {}
pattern::pattern(const char* expression) : pattern(std::string(expression)) {}

namespace {
bool keep(bool found, const std::smatch& s, groups& m) {
  m.clear();
  if (found)
    for (const auto& g : s) m.push_back(g.str());
  return found;
}
}  // namespace

bool match(const std::string& text, const pattern& p) { return std::regex_match(text, p.get().re); }
bool match(const std::string& text, groups& m, const pattern& p) {
  std::smatch s;
  return keep(std::regex_match(text, s, p.get().re), s, m);
}
bool search(const std::string& text, const pattern& p) { return std::regex_search(text, p.get().re); }
bool search(const std::string& text, groups& m, const pattern& p) {
  std::smatch s;
  return keep(std::regex_search(text, s, p.get().re), s, m);
}
std::string replace(const std::string& text, const pattern& p, const std::string& with) {
  return std::regex_replace(text, p.get().re, with);
}

}  // namespace rx
