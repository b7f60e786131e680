#include "movegen/perftfile.h"

#include <fstream>
#include <memory>

#include "board/board.h"
#include "board/clock.h"
#include "board/decimal.h"
#include "movegen/perft.h"
#include "movegen/setup.h"

namespace {

// Deeper than this never finishes in practice, and far deeper would run past
// the board's ply records; such a line is refused like any other bad field.
constexpr u64 MAX_FILE_DEPTH = 64;

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

// Whole-field unsigned decimal; false for anything else, including overflow.
bool readUnsigned(const std::string& field, u64& value) {
  const std::string s = trimmed(field);
  if (s.empty() || s[0] < '0' || s[0] > '9') return false;  // no sign, no blank inside
  const decimalText d = readDecimal(s);
  if (d.tooLong || d.end != s.size()) return false;
  value = d.magnitude;
  return true;
}

void reportSkipped(const textSink& print, const std::string& line, const char* why) {
  print("skipped (" + std::string(why) + "): " + line + "\n");
}

}  // namespace

bool perftFileCheck(const std::string& path, const textSink& print, const std::function<void()>& afterEachCheck,
                    bool chess960) {
  std::ifstream file(path);
  if (!file) {
    print("There seems to be a problem with the perftFile. check of the move generator not executed\n");
    return false;
  }

  // Heap-held: a board is far too large for comfort on the command stack.
  auto checkBoard = std::make_unique<board>();
  bool allOk = true;
  std::string line;
  while (std::getline(file, line)) {
    // A file written on another system may carry a carriage return.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "extended" || line == "full") break;
    // Blank lines separate groups; they hold no check.
    if (trimmed(line).empty()) continue;

    size_t first = line.find(';');
    size_t second = first == std::string::npos ? std::string::npos : line.find(';', first + 1);
    if (second == std::string::npos) {
      reportSkipped(print, line, "needs FEN;depth;count");
      allOk = false;
      continue;
    }
    std::string fen = line.substr(0, first);
    std::string depthText = line.substr(first + 1, second - first - 1);
    std::string countText = line.substr(second + 1);

    u64 depth = 0, expected = 0;
    if (!readUnsigned(depthText, depth) || depth < 1 || depth > MAX_FILE_DEPTH) {
      reportSkipped(print, line, "depth must be a number from 1 to 64");
      allOk = false;
      continue;
    }
    if (!readUnsigned(countText, expected)) {
      reportSkipped(print, line, "count is not a number");
      allOk = false;
      continue;
    }

    *checkBoard = board{};
    checkBoard->plies[0].listStart = commandMoveBuffer;
    if (!setFromFen(fen, *checkBoard, chess960)) {
      reportSkipped(print, line, "unreadable FEN");
      allOk = false;
      continue;
    }

    i64 start = nowNs();
    u64 nodes = perft(0, u32(depth), *checkBoard);
    i64 elapsed = nowNs() - start;

    bool ok = nodes == expected;
    print(std::string(ok ? "1" : "0") + "; " + fen + "; " + std::to_string(depth) + "; " +
          std::to_string(expected) + "; " + std::to_string(nodes) + "; " + std::to_string(elapsed) + "\n");
    allOk = allOk && ok;

    afterEachCheck();
  }

  print(std::string("Results of the perft checks is OK: ") + (allOk ? "1" : "0") + "\n");
  return allOk;
}
