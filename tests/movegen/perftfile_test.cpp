#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <unistd.h>

#include "movegen/perftfile.h"
#include "search/tt.h"
#include "testutil.h"
#include "uci/commands.h"

namespace {

const std::string START = START_FEN;
const std::string SUMMARY = "Results of the perft checks is OK: ";

int checksCounted = 0;

// The check of the file at `path`; returns what it printed.
std::string check(const std::string& path, bool& ok) {
  ensureTables();
  std::string out;
  ok = perftFileCheck(path, [&out](const std::string& text) { out += text; }, [] { ++checksCounted; });
  return out;
}

// Runs the check on a temporary file holding `text`; returns what it printed.
std::string runCheck(const std::string& text, bool& ok) {
  char path[] = "/tmp/dravlin-perftfile-XXXXXX";
  close(mkstemp(path));
  std::ofstream(path, std::ios::binary) << text;
  std::string out = check(path, ok);
  std::remove(path);
  return out;
}

}  // namespace

TEST(PerftFile, MissingEmptyAndMarkedFiles) {
  bool ok = true;
  EXPECT_EQ(runCheck("", ok), SUMMARY + "1\n");
  EXPECT_TRUE(ok);
  // Nothing after a marker is read, not even a line that would fail.
  for (std::string marker : {"full", "extended\r"}) {
    EXPECT_EQ(runCheck(marker + "\n" + START + ";1;999\n", ok), SUMMARY + "1\n");
    EXPECT_TRUE(ok);
  }
  EXPECT_EQ(check("/nonexistent/perft.txt", ok),
            "There seems to be a problem with the perftFile. check of the move generator not executed\n");
  EXPECT_FALSE(ok);
}

TEST(PerftFile, BadLinesAreReportedAndFailTheSummary) {
  // Stalemate: depth 1 counts 0 whatever the generator's state.
  const std::string good = "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1;1;0";
  for (std::string bad : {START + ";3", START + ";x;20", START + ";0;1", START + ";1;twenty",
                          START + ";1;20;extra", START + ";1;99999999999999999999", std::string("8/8/8;1;0")}) {
    bool ok = true;
    std::string out = runCheck(bad + "\n\n" + good + "\n", ok);
    EXPECT_FALSE(ok) << bad;
    // The bad line is named, the next one still checked, the summary is 0.
    EXPECT_EQ(out.rfind("skipped", 0), 0u) << out;
    EXPECT_NE(out.find(bad + "\n1; 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1; 1; 0; 0; "), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - SUMMARY.size() - 2), SUMMARY + "0\n") << out;
  }
}

TEST(PerftFile, WrongCountFailsTheLineAndTheGameIsLeftAlone) {
  ensureTables();
  auto original = std::make_unique<board>(currentBoard);
  setFromFen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", currentBoard);
  auto saved = std::make_unique<unsigned char[]>(sizeof(board));
  std::memcpy(saved.get(), &currentBoard, sizeof(board));

  bool ok = true;
  const int counted = checksCounted;
  std::string out = runCheck(START + ";3;8902\n" + START + ";2;401\n", ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out.rfind("1; " + START + "; 3; 8902; 8902; ", 0), 0u) << out;
  EXPECT_NE(out.find("\n0; " + START + "; 2; 401; 400; "), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - SUMMARY.size() - 2), SUMMARY + "0\n");
  EXPECT_EQ(std::memcmp(saved.get(), &currentBoard, sizeof(board)), 0);
  EXPECT_EQ(checksCounted - counted, 2) << "the hook runs after each counted position";
  currentBoard = *original;
}

TEST(PerftFile, RtestPassesTheProjectFileAndRenewsTheTable) {
  ensureTables();
  hashTable.resize(1, 1);
  const u64 key = 0x123456789abcdef1ULL;
  hashTable.store(key, makeChessMove(12, 28), 17, 5, BOUND_EXACT);
  ASSERT_NE(hashTable.probe(key), 0u);
  testing::internal::CaptureStdout();
  rtestCommand();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(out.size() - SUMMARY.size() - 2), SUMMARY + "1\n") << out;
  EXPECT_EQ(("\n" + out).find("\n0;"), std::string::npos) << out;
  EXPECT_GE(std::count(out.begin(), out.end(), '\n'), 20);
  EXPECT_EQ(hashTable.probe(key), 0u);
  EXPECT_EQ((hashTable.bucketCount()) * sizeof(hashBucket), u64(128) << 20);
}
