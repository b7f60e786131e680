// The data tools as a user runs them: the real binary, real files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "format/record.h"
#include "testutil.h"

namespace {

// A fresh directory for one test's files, removed afterwards.
struct scratchDir {
  std::string path;
  scratchDir() {
    char name[] = "/tmp/dravlin-datagen-XXXXXX";
    path = mkdtemp(name) ? name : "/tmp";
  }
  ~scratchDir() {
    if (path != "/tmp") std::filesystem::remove_all(path);
  }
  std::string operator/(const std::string& file) const { return path + "/" + file; }
};

struct runResult {
  int status = -1;
  std::string out, err;
};

// Runs a shell command line around the binary; stdout and stderr apart.
runResult run(const std::string& args, const std::string& prefix = "") {
  scratchDir d;
  const std::string cmd = prefix + DRAVLIN_BINARY " " + args + " >" + (d / "out") + " 2>" + (d / "err");
  runResult r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto slurp = [](const std::string& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  r.out = slurp(d / "out");
  r.err = slurp(d / "err");
  return r;
}

std::vector<char> bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), long(bytes.size()));
}

// Small, quick games.
const std::string QUICK = " --nodes 150 --seed 11";

// Runs datagen with `args` into NAME1.bin on one thread and NAME2.bin on two;
// both must succeed and write the same bytes, which `bytes` receives.
void runOnOneAndTwoThreads(const scratchDir& d, const std::string& name, const std::string& args, runResult& one,
                           std::vector<char>& bytes) {
  one = run("datagen --out " + (d / (name + "1.bin")) + args);
  ASSERT_EQ(one.status, 0) << one.err;
  const runResult two = run("datagen --out " + (d / (name + "2.bin")) + args + " --threads 2");
  ASSERT_EQ(two.status, 0) << two.err;
  bytes = bytesOf(d / (name + "1.bin"));
  EXPECT_TRUE(bytes == bytesOf(d / (name + "2.bin")));
}

}  // namespace

TEST(Datagen, SameBytesWithOneAndTwoThreads) {
  scratchDir d;
  runResult one;
  std::vector<char> a;
  ASSERT_NO_FATAL_FAILURE(runOnOneAndTwoThreads(d, "plain", " --games 6" + QUICK, one, a));
  const dataFileSummary s = scanDataFile(d / "plain1.bin");
  EXPECT_TRUE(s.error.empty()) << s.error;
  EXPECT_EQ(s.games, 6u);
  EXPECT_EQ(s.tailBytes, 0u);
  EXPECT_NE(one.out.find("6 games and " + std::to_string(s.positions) + " positions written"), std::string::npos)
      << one.out;
  // Another seed plays other games.
  const runResult other = run("datagen --out " + (d / "other.bin") + " --games 6 --nodes 150 --seed 12");
  ASSERT_EQ(other.status, 0) << other.err;
  EXPECT_FALSE(a == bytesOf(d / "other.bin"));
  // The searches with the built-in net play other games, again the same with two threads.
  runResult net1;
  std::vector<char> n;
  ASSERT_NO_FATAL_FAILURE(runOnOneAndTwoThreads(d, "net", " --games 4 --net '<embedded>'" + QUICK, net1, n));
  EXPECT_FALSE(std::equal(n.begin(), n.begin() + long(std::min(n.size(), a.size())), a.begin()));
}

// A run ended at any moment, its last game half written, and resumed
// writes the same file as a run never stopped.
TEST(Datagen, ResumedRunEqualsAnUninterruptedOne) {
  scratchDir d;
  const std::string flags = " --games 8" + QUICK;
  ASSERT_EQ(run("datagen --out " + (d / "whole.bin") + flags).status, 0);
  const std::vector<char> whole = bytesOf(d / "whole.bin");
  ASSERT_GT(whole.size(), 1000u);
  for (std::size_t cut : {std::size_t(5), std::size_t(DATA_HEADER_BYTES), whole.size() / 3 + 5, whole.size() / 2,
                          whole.size() - 1}) {
    writeBytes(d / "cut.bin", std::vector<char>(whole.begin(), whole.begin() + long(cut)));
    const runResult r = run("datagen --resume --out " + (d / "cut.bin") + flags);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(whole == bytesOf(d / "cut.bin")) << "cut at " << cut;
  }

  // And a real kill -9 partway.
  const std::string path = d / "killed.bin";
  const pid_t pid = fork();
  if (pid == 0) {
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    dup2(devNull, 2);
    execl(DRAVLIN_BINARY, DRAVLIN_BINARY, "datagen", "--out", path.c_str(), "--games", "8", "--nodes", "150", "--seed",
          "11", static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  struct stat st {};
  while (std::chrono::steady_clock::now() < deadline &&
         (stat(path.c_str(), &st) != 0 || std::size_t(st.st_size) < whole.size() / 3))
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  const runResult r = run("datagen --resume --out " + path + flags);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(whole == bytesOf(path));
}

TEST(Datagen, BadFlagsAndFilesGetOneLine) {
  scratchDir d;
  struct badRun {
    std::string args;
    int status;
    std::string says;
  };
  const std::string out = " --out " + (d / "x.bin");
  const badRun cases[] = {
      {"datagen" + out + " --games 3 --nodes 0", 2, "datagen: --nodes takes a whole number from 1 to 100000000, not '0'"},
      {"datagen" + out + " --games 3 --threads 300", 2, "--threads takes a whole number from 1 to 256"},
      {"datagen" + out + " --games 2x", 2, "--games takes a whole number"},
      {"datagen" + out + " --games 3 --random", 2, "datagen: unknown flag '--random'"},
      {"datagen" + out + " --games 3 --seed", 2, "datagen: --seed needs a value"},
      {"datagen --games 3", 2, "--out FILE is needed"},
      {"datagen" + out, 2, "--games N or --positions N is needed"},
      {"datagen" + out + " --games 3 --max-plies 8", 2, "--max-plies 8 leaves no ply after --random-plies 8"},
      {"datagen --out " + (d / "no/such/dir.bin") + " --games 3", 1, "no/such/dir.bin: cannot write"},
      {"datagen --out " + d.path + " --games 3", 1, ": not a regular file"},
      {"datagen --out " + std::string(DRAVLIN_SOURCE_DIR) + "/README.md --games 3 --resume", 1,
       "README.md: byte 0: not a training data file"},
      {"datagen" + out + " --games 3 --book " + (d / "none.epd"), 1, "none.epd: cannot open"},
      {"datagen" + out + " --games 3 --net " + (d / "none.nnue"), 1, "datagen: --net " + (d / "none.nnue") + ": cannot be read"},
      // The built-in net has one name, "<embedded>"; anything else is a file.
      {"datagen" + out + " --games 3 --net embedded", 1, "datagen: --net embedded: cannot be read: no such file"},
      {"datastat " + (d / "none.bin"), 1, "none.bin: cannot open"},
      {"datastat " + std::string(DRAVLIN_SOURCE_DIR) + "/README.md", 1, "README.md: byte 0: not a training data file"},
      {"datastat", 2, "a FILE is needed"},
  };
  for (const badRun& c : cases) {
    const runResult r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << "\n" << r.err;
  }
  struct stat st;
  EXPECT_NE(stat((d / "x.bin").c_str(), &st), 0);  // no file from flags that cannot be used

  // A file of ours is not overwritten without --resume.
  ASSERT_EQ(run("datagen --out " + (d / "mine.bin") + " --games 1" + QUICK).status, 0);
  const runResult again = run("datagen --out " + (d / "mine.bin") + " --games 1" + QUICK);
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("the file exists; --resume continues it"), std::string::npos) << again.err;
}

// The disk fills partway (a file-size limit stands in for it): the run ends
// with one line, and the file holds every complete game and nothing else.
TEST(Datagen, FullDiskKeepsTheCompleteGames) {
  scratchDir d;
  const std::string path = d / "full.bin";
  const runResult r = run("datagen --out " + path + " --games 50" + QUICK, "ulimit -f 24; trap '' XFSZ; ");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("write failed after"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("the file keeps every complete game"), std::string::npos) << r.err;
  const dataFileSummary s = scanDataFile(path);
  EXPECT_TRUE(s.error.empty()) << s.error;
  EXPECT_GT(s.games, 0u);
  EXPECT_LT(s.games, 50u);
  EXPECT_EQ(s.tailBytes, 0u);
}

namespace {

// The FENs of genfens's lines in an engine's output.
std::vector<std::string> genfensLines(const std::string& out) {
  std::vector<std::string> fens;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("info string genfens ", 0) == 0) fens.push_back(line.substr(20));
  return fens;
}

// The data file's games start from these openings, in order.
void expectOpenings(const std::string& path, const std::vector<std::string>& fens) {
  dataReader reader;
  ASSERT_TRUE(reader.open(path));
  std::vector<dataRecord> game;
  for (const std::string& fen : fens) {
    ASSERT_TRUE(reader.nextGame(game));
    EXPECT_EQ(recordFen(game[0]), fen);
  }
}

}  // namespace

// genfens gives the openings datagen's games start from, for the same seed.
TEST(Datagen, GenfensGivesDatagensOpenings) {
  scratchDir d;
  ASSERT_EQ(run("datagen --out " + (d / "g.bin") + " --games 3 --nodes 150 --seed 9").status, 0);
  // Without a net, as the datagen run above.
  const std::string genfens3 = "\"setoption name UseNNUE value false\" \"genfens 3 seed 9 book None\" quit";
  const runResult r = run(genfens3);
  const std::vector<std::string> fens = genfensLines(r.out);
  ASSERT_EQ(fens.size(), 3u) << r.out;
  expectOpenings(d / "g.bin", fens);
  EXPECT_EQ(run(genfens3).out, r.out);
}

// With the network in use, genfens judges openings by it, as datagen --net
// does: for seed 10 one of the first 23 openings is redrawn otherwise than
// without it (game 22's, with the last two default nets).
TEST(Datagen, GenfensWithTheNetGivesDatagenNetsOpenings) {
  scratchDir d;
  ASSERT_EQ(run("datagen --out " + (d / "n.bin") + " --games 23 --nodes 100 --seed 10 --net '<embedded>'").status, 0);
  const std::string genfens23 = "\"genfens 23 seed 10 book None\" quit";
  const std::vector<std::string> withNet = genfensLines(run("\"setoption name UseNNUE value true\" " + genfens23).out);
  const std::vector<std::string> without =
      genfensLines(run("\"setoption name UseNNUE value false\" " + genfens23).out);
  ASSERT_EQ(withNet.size(), 23u);
  ASSERT_EQ(without.size(), 23u);
  EXPECT_NE(withNet, without);
  expectOpenings(d / "n.bin", withNet);
}

// A PGN the referee wrote (moves in UCI notation, scores as {+0.14}), and
// one in SAN with a match runner's comments ({+0.31/13 0.250s}, {-M3}).
TEST(Datagen, Pgn2dataReadsMatchRunnerGames) {
  scratchDir d;
  const runResult r = run("pgn2data " DRAVLIN_SOURCE_DIR "/tests/datagen/referee.pgn " + (d / "ref.bin"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1 games read, 1 written with 168 positions"), std::string::npos) << r.out;
  dataReader reader;
  ASSERT_TRUE(reader.open(d / "ref.bin"));
  std::vector<dataRecord> game;
  ASSERT_TRUE(reader.nextGame(game));
  ASSERT_EQ(game.size(), 168u);
  EXPECT_EQ(recordFen(game[0]), "rn2kb1r/pp3ppp/2p1pn2/3p3b/8/1P1P1NPP/PBPqPPB1/RN2K2R w KQkq - 0 1");
  EXPECT_EQ(game[0].score, 14);   // {+0.14}, White moving
  EXPECT_EQ(game[1].score, 14);   // {-0.14}, Black moving
  EXPECT_EQ(recordMoveKind(game[2].move), RECORD_CASTLING);  // e1c1
  EXPECT_EQ(recordMoveTo(game[2].move), 0);                  // the king takes its rook on a1
  for (const dataRecord& rec : game) EXPECT_EQ(rec.result, RESULT_BLACK_WINS);
  EXPECT_FALSE(reader.nextGame(game));
  EXPECT_TRUE(reader.error().empty());

  const char* const pgn =
      "[Event \"x\"]\n[Result \"1-0\"]\n\n"
      "1. e4 {book} e5 {book} 2. Nf3 {+0.31/13 0.250s} Nc6 {-0.25/12 0.2s} 3. Bb5 $1 {+0.40/14 0.3s}\n"
      "(3. Bc4 {+0.2} Bc5 (3... Nf6)) a6 {+M5/20 0.1s} 4. Bxc6 {-M3/9} dxc6 {#-2} 5. O-O {+1.20/10} 1-0\n\n"
      "[Event \"y\"]\n[Result \"*\"]\n\n1. e4 {+0.10} *\n\n"
      "[Event \"z\"]\n[Result \"1/2-1/2\"]\n\n1. e4 {+0.10} e5 {0.00} 2. Ke3 {+0.5} 1/2-1/2\n";
  std::ofstream(d / "san.pgn") << pgn;
  const runResult s = run("pgn2data " + (d / "san.pgn") + " " + (d / "san.bin"));
  ASSERT_EQ(s.status, 0) << s.err;
  EXPECT_NE(s.out.find("3 games read, 1 written with 7 positions"), std::string::npos) << s.out;
  EXPECT_NE(s.out.find("2 skipped"), std::string::npos) << s.out;
  EXPECT_NE(s.err.find("game 2 (line 7) skipped: no result"), std::string::npos) << s.err;
  EXPECT_NE(s.err.find("game 3 (line 12) skipped: move 'Ke3' cannot be played"), std::string::npos) << s.err;
  ASSERT_TRUE(reader.open(d / "san.bin"));
  ASSERT_TRUE(reader.nextGame(game));
  ASSERT_EQ(game.size(), 7u);
  const int white[] = {31, 25, 40, -(MATE_SCORE - 9), -(MATE_SCORE - 6), MATE_SCORE - 4, 120};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(game[k].score, white[k]) << k;
  EXPECT_EQ(recordFen(game[0]), "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2");
  EXPECT_TRUE(recordMoveIsCapture(game[4]));
  EXPECT_EQ(recordMoveKind(game[6].move), RECORD_CASTLING);
  EXPECT_EQ(game[6].result, RESULT_WHITE_WINS);
  EXPECT_TRUE(game[6].lastOfGame);
}

// The file records the flags it was made with: --resume with others is
// refused with the difference named, --force continues and records them
// too, and a version-1 file (no flags) needs --force. A crash's zero-filled
// tail is cut, and the run goes on as if never stopped.
TEST(Datagen, ResumeChecksTheRecordedFlagsAndCutsACrashTail) {
  scratchDir d;
  ASSERT_EQ(run("datagen --out " + (d / "whole.bin") + " --games 4" + QUICK).status, 0);
  ASSERT_EQ(run("datagen --out " + (d / "a.bin") + " --games 2" + QUICK).status, 0);
  const std::vector<char> two = bytesOf(d / "a.bin");

  std::vector<char> crashed = two;
  crashed.resize(crashed.size() + 4096, 0);
  writeBytes(d / "crashed.bin", crashed);
  const runResult cut = run("datagen --resume --out " + (d / "crashed.bin") + " --games 4" + QUICK);
  ASSERT_EQ(cut.status, 0) << cut.err;
  EXPECT_NE(cut.err.find("4096 bytes after the last complete game cut"), std::string::npos) << cut.err;
  EXPECT_TRUE(bytesOf(d / "crashed.bin") == bytesOf(d / "whole.bin"));

  const runResult other = run("datagen --resume --out " + (d / "a.bin") + " --games 4 --nodes 200 --seed 99");
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find("made with other flags: --seed 11 (now 99), --nodes 150 (now 200)"), std::string::npos)
      << other.err;
  EXPECT_EQ(std::count(other.err.begin(), other.err.end(), '\n'), 1) << other.err;
  EXPECT_TRUE(bytesOf(d / "a.bin") == two);

  const runResult forced = run("datagen --resume --force --out " + (d / "a.bin") + " --games 4 --nodes 200 --seed 99");
  ASSERT_EQ(forced.status, 0) << forced.err;
  const dataFileSummary s = scanDataFile(d / "a.bin");
  EXPECT_TRUE(s.error.empty()) << s.error;
  EXPECT_EQ(s.games, 4u);
  ASSERT_EQ(s.parts.size(), 2u);
  EXPECT_NE(settingsLine(s.parts[0].settings).find(" seed=11 nodes=150 "), std::string::npos);
  EXPECT_NE(settingsLine(s.parts[1].settings).find(" seed=99 nodes=200 "), std::string::npos);
  const runResult stat = run("datastat " + (d / "a.bin"));
  EXPECT_EQ(stat.status, 0) << stat.err;
  EXPECT_NE(stat.out.find("seed=99"), std::string::npos) << stat.out;

  // The same records behind a version-1 header.
  const u64 headerBytes = readDataHeader(reinterpret_cast<const u8*>(two.data()), two.size()).bytes;
  std::vector<char> v1(DATA_HEADER_BYTES);
  writeDataHeader(reinterpret_cast<u8*>(v1.data()));
  v1.insert(v1.end(), two.begin() + long(headerBytes), two.end());
  writeBytes(d / "v1.bin", v1);
  const runResult old = run("datagen --resume --out " + (d / "v1.bin") + " --games 4" + QUICK);
  EXPECT_EQ(old.status, 1);
  EXPECT_NE(old.err.find("a version-1 file records no flags"), std::string::npos) << old.err;
  EXPECT_EQ(run("datagen --resume --force --out " + (d / "v1.bin") + " --games 4" + QUICK).status, 0);
  EXPECT_EQ(scanDataFile(d / "v1.bin").games, 4u);
}

// Scores and results in the file are White's: a game from a book position
// with Black to move and White two queens up.
TEST(Datagen, WritesWhitesScoreAndResult) {
  scratchDir d;
  std::ofstream(d / "won.epd") << "k7/8/8/8/8/8/1QQ5/K7 b - -\n";
  const runResult r = run("datagen --out " + (d / "w.bin") + " --games 1 --nodes 150 --random-plies 0 --book " +
                          (d / "won.epd") + " --opening-score 32000");
  ASSERT_EQ(r.status, 0) << r.err;
  dataReader reader;
  ASSERT_TRUE(reader.open(d / "w.bin"));
  std::vector<dataRecord> game;
  ASSERT_TRUE(reader.nextGame(game));
  EXPECT_EQ(game[0].sideToMove, BLACK);
  EXPECT_GT(game[0].score, 1000);
  for (const dataRecord& rec : game) EXPECT_EQ(rec.result, RESULT_WHITE_WINS);
}
