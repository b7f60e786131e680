#include "uci/options.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "board/decimal.h"
#include "engine/report.h"
#include "engine/root.h"
#include "engine/strength.h"
#include "engine/threads.h"
#include "search/tt.h"
#include "tablebase/tbprobe.h"
#include "uci/commands.h"
#include "uci/go.h"
#include "uci/output.h"
#include "uci/tune.h"

namespace {

// A number that does not fit 32 bits, or no number at all, keeps the
// option's value, and nothing is confirmed.
bool readOptionNumber(const std::string& text, i32& out) {
  i64 value;
  if (!readDecimalIn(text, INT32_MIN, INT32_MAX, value)) return false;
  out = i32(value);
  return true;
}

}  // namespace

bool resizeHash(i32 megabytes) {
  const hashResizeResult r = hashTable.resize(megabytes, searchThreads.control.threads);
  if (!r.granted) outLine(r.refusal);
  return r.granted;
}

int resizeThreads(int n) {
  const int running = searchThreads.resize(n);
  if (running < n)
    outLine("info string Only " + std::to_string(running) + " of " + std::to_string(n) +
            " search threads could be started");
  return running;
}

namespace {

enum class optionType { spin, check, text, button };

// One option: what "uci" prints of it, and what "setoption" does with it.
// The handler gets the value read by the type's rules (a clamped number, 1 or
// 0 for a check, the text as it stands) and returns what the confirmation
// line shows after its text (the whole line when the row has no confirmation).
struct optionRow {
  const char* name;
  optionType type;
  std::string defaultText;
  i32 min, max;
  const char* confirmation;
  std::string (*handler)(i32 number, const std::string& text);
  // The text is the whole rest of the line, blanks and all (a file path);
  // otherwise its words joined by single blanks.
  bool wholeLine = false;
};

// A refused size confirms what was granted.
std::string onHash(i32 n, const std::string&) {
  searchThreads.stopSearchAndWait();  // the search must not run on a freed table
  return std::to_string(resizeHash(n) ? n : hashTable.megabytes());
}

// Some may have been refused: the confirmation names those that run, 0
// included ("go" then tries once more, and answers without a search if that
// fails too).
std::string onThreads(i32 n, const std::string&) {
  searchThreads.stopSearchAndWait();
  return std::to_string(resizeThreads(n));
}

std::string onPonder(i32 on, const std::string&) {
  game.ponder = on != 0;
  return std::to_string(on);
}

std::string onMoveOverhead(i32 n, const std::string&) {
  game.moveOverhead = n;
  return std::to_string(n);
}

std::string onSyzygyPath(i32, const std::string& text) {
  searchThreads.stopSearchAndWait();  // probes must not meet tables being unmapped
  if (const auto found = initTablebases(text)) outText("Found " + std::to_string(*found) + " tablebases.\n");
  return text;
}

std::string onSyzygyProbeDepth(i32 n, const std::string&) {
  searchThreads.stopSearchAndWait();
  tbInfo.probeDepth = n;
  return std::to_string(tbInfo.probeDepth);
}

// Both read by the next "go"; a running search keeps what it started with.
std::string onMultiPv(i32 n, const std::string&) {
  game.multiPv = n;
  return std::to_string(n);
}

std::string onShowWdl(i32 on, const std::string&) {
  game.showWdl = on != 0;
  return std::to_string(on);
}

// As "ucinewgame" does for the table and the histories; the game goes on.
// A running search is not ended for it (under "infinite" or "ponder" that
// would send a "bestmove" nobody asked for): the tables are cleared once it
// has reported.
std::string onClearHash(i32, const std::string&) {
  return searchThreads.clearTables() ? "cleared" : "will be cleared when the search ends";
}

// Takes effect with the next "position" command, which GUIs send anyway.
std::string onChess960(i32 on, const std::string&) {
  game.chess960 = on != 0;
  return std::to_string(on);
}

// Both read by the next "go"; a running search keeps the strength it started with.
std::string onLimitStrength(i32 on, const std::string&) {
  game.limitStrength = on != 0;
  return std::to_string(on);
}

std::string onElo(i32 n, const std::string&) {
  game.elo = n;
  return std::to_string(n);
}

// Both read by the next "go"; a running search keeps its evaluation.
std::string onUseNnue(i32 on, const std::string&) {
  game.nets.use = on != 0;
  return std::to_string(on);
}

// The whole line: the confirmation, or the file and its fault.
std::string onEvalFile(i32, const std::string& text) { return loadEvalFile(game.nets, text); }

// The order is the order "uci" prints; new options go at the end.
const std::vector<optionRow>& optionTable() {
  static const std::vector<optionRow> rows = {
      {"Hash", optionType::spin, std::to_string(DEFAULT_HASH_MB), 1, 262144, "info string Size of Hashtable set to : ", onHash},
      {"Threads", optionType::spin, std::to_string(DEFAULT_THREADS), 1, 256, "info string Number of threads set to : ", onThreads},
      {"Ponder", optionType::check, "false", 0, 1, "info string Ponder set to : ", onPonder},
      {"MoveOverhead", optionType::spin, "100", 1, 60000, "info string MoveOverhead set to : ", onMoveOverhead},
      {"SyzygyPath", optionType::text, "<empty>", 0, 0, "info string Syzygy tablebases used from directory : ",
       onSyzygyPath},
      {"SyzygyProbeDepth", optionType::spin, "0", 0, 127, "info string SyzygyProbeDepth set to: ", onSyzygyProbeDepth},
      {"MultiPV", optionType::spin, "1", 1, 256, "info string MultiPV set to : ", onMultiPv},
      {"UCI_ShowWDL", optionType::check, "false", 0, 1, "info string UCI_ShowWDL set to : ", onShowWdl},
      {"Clear Hash", optionType::button, "", 0, 0, "info string Hash ", onClearHash},
      {"UCI_Chess960", optionType::check, "false", 0, 1, "info string UCI_Chess960 set to : ", onChess960},
      {"UCI_LimitStrength", optionType::check, "false", 0, 1, "info string UCI_LimitStrength set to : ",
       onLimitStrength},
      {"UCI_Elo", optionType::spin, std::to_string(STRENGTH_ELO_DEFAULT), STRENGTH_ELO_MIN, STRENGTH_ELO_MAX,
       "info string UCI_Elo set to : ", onElo},
      {"UseNNUE", optionType::check, "true", 0, 1, "info string UseNNUE set to : ", onUseNnue},
      {"EvalFile", optionType::text, nnue::EMBEDDED_NET_NAME, 0, 0, nullptr, onEvalFile, true},
  };
  return rows;
}

std::string optionLine(const optionRow& row) {
  std::string line = std::string("option name ") + row.name;
  switch (row.type) {
    case optionType::spin:
      return line + " type spin default " + row.defaultText + " min " + std::to_string(row.min) + " max " +
             std::to_string(row.max);
    case optionType::check:
      return line + " type check default " + row.defaultText;
    case optionType::text:
      return line + " type string default " + row.defaultText;
    case optionType::button:
      return line + " type button";
  }
  return line;
}

}  // namespace

void uciCommand() {
  outLine("id name Dravlin 2.210 NOP");
  outLine("id author Quellmark");
  for (const optionRow& row : optionTable()) outLine(optionLine(row));
#ifdef DRAVLIN_TUNE
  for (const std::string& line : tuneOptionLines()) outLine(line);
#endif
  outLine("uciok");
}

void setoptionCommand(std::istringstream& words) {
  std::string word;
  words >> word;  // normally "name"
  std::string name, value, wholeValue;
  bool inValue = false;
  while (words >> word) {
    if (!inValue && word == "value") {
      inValue = true;
      // The rest of the line as it stands, for options that take it whole.
      const std::streampos at = words.tellg();
      std::string rest;
      std::getline(words, rest);
      const std::size_t first = rest.find_first_not_of(" \t");
      const std::size_t last = rest.find_last_not_of(" \t\r");
      if (first != std::string::npos) wholeValue = rest.substr(first, last - first + 1);
      words.clear();
      words.seekg(at);
      continue;
    }
    std::string& part = inValue ? value : name;
    if (!part.empty()) part += ' ';
    part += word;
  }

  for (const optionRow& row : optionTable()) {
    if (name != row.name) continue;
    i32 number = 0;
    if (row.type == optionType::spin) {
      if (!readOptionNumber(value, number)) return;
      number = std::clamp(number, row.min, row.max);
    } else if (row.type == optionType::check) {
      number = value == "true" ? 1 : 0;  // only the exact word switches it on
    }
    const std::string shown = row.handler(number, row.wholeLine ? wholeValue : value);
    outLine(row.confirmation ? row.confirmation + shown : shown);
    return;
  }
#ifdef DRAVLIN_TUNE
  if (const auto confirmation = setTuneOption(name, value)) outLine(*confirmation);
#endif
}
