#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "textmatch.h"
#include "../engine/enginedriver.h"
#include "../nnue/netfile.h"
#include "nnue/embedded.h"
#include "format/netfile.h"

namespace {

using bytes = std::vector<unsigned char>;

std::string writeFile(const std::string& name, const bytes& data) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  return path;
}

bytes embedded() {
  const nnue::embeddedBytes e = nnue::embeddedNet();
  return bytes(e.data, e.data + e.size);
}


// Nodes of the score line that comes before "bestmove".
std::string nodesOfSearch(engineProcess& e, const std::string& go) {
  e.send(go);
  const auto lines = e.readUntil("bestmove", scaledMs(30000));
  if (!lines || lines->size() < 2) return "<no answer>";
  rx::groups m;
  const std::string& line = (*lines)[lines->size() - 2];
  return rx::search(line, m, rx::pattern(" nodes (\\d+) ")) ? std::string(m[1]) : line;
}

const char* const FEN = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
const char* const TWIN = "r3k2r/pppbbppp/2n2q1P/1P2p3/3pn3/BN2PNP1/P1PPQPB1/R3K2R b KQkq - 0 1";

}  // namespace

// A file that cannot serve gives one line naming the file and the fault, and
// the net in use stays; a good file is taken, "<embedded>" (or nothing) goes back.
TEST(NetworkOptions, BadFilesAreNamedAndTheNetInUseStays) {
  const bytes good = embedded();
  bytes wrongMagic = good, other = good;
  wrongMagic[3] = '?';
  other[60] ^= 0x55;  // another net: one weight changed, the checksum made right
  const std::uint32_t sum = nnue::fnv1a(other.data() + sizeof(nnue::fileHeader), other.size() - sizeof(nnue::fileHeader));
  for (int i = 0; i < 4; ++i) other[40 + i] = (sum >> (8 * i)) & 0xFF;
  const bytes truncated(good.begin(), good.end() - 100);
  const std::string magicPath = writeFile("net_magic.nnue", wrongMagic), shortPath = writeFile("net_short.nnue", truncated),
                    otherPath = writeFile("net  other net.nnue", other);  // the whole text is the path

  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  const auto before = answersTo(e, {std::string("position fen ") + FEN, "eval"});
  ASSERT_EQ(before.size(), 2u);
  EXPECT_TRUE(rx::match(before[1], rx::pattern(R"(network evaluation: -?\d+ cp \(White's view, net <embedded>\))")))
      << before[1];

  EXPECT_EQ(answersTo(e, {"setoption name EvalFile value " + magicPath, "eval"}),
            (std::vector<std::string>{"info string EvalFile " + magicPath +
                                          " not loaded: wrong magic: not a net file of this engine; the net in use stays",
                                      before[0], before[1]}));
  const auto cut = answersTo(e, {"setoption name EvalFile value " + shortPath, "setoption name EvalFile value /nonexistent.nnue"});
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0], "info string EvalFile " + shortPath + " not loaded: truncated: " + std::to_string(good.size() - 148) +
                        " of " + std::to_string(good.size() - 48) + " payload bytes; the net in use stays");
  EXPECT_EQ(cut[1], "info string EvalFile /nonexistent.nnue not loaded: cannot be read: no such file; the net in use stays");
  EXPECT_EQ(answersTo(e, {"eval"}), (std::vector<std::string>{before[0], before[1]}));

  const auto taken = answersTo(e, {"setoption name EvalFile value " + otherPath, "eval"});
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0], "info string EvalFile set to : " + otherPath);
  EXPECT_NE(taken[2], before[1]);
  EXPECT_NE(taken[2].find("net " + otherPath + ")"), std::string::npos) << taken[2];
  EXPECT_EQ(answersTo(e, {"setoption name EvalFile value <embedded>", "eval"}),
            (std::vector<std::string>{"info string EvalFile set to : <embedded>", before[0], before[1]}));
  // An empty value means the embedded net too.
  EXPECT_EQ(answersTo(e, {"setoption name EvalFile value " + otherPath, "setoption name EvalFile value", "eval"}),
            (std::vector<std::string>{"info string EvalFile set to : " + otherPath,
                                      "info string EvalFile set to : <embedded>", before[0], before[1]}));

  // Both scores from White's view: the colour-flipped twin reads the opposite.
  const auto twin = answersTo(e, {std::string("position fen ") + TWIN, "eval"});
  ASSERT_EQ(twin.size(), 2u);
  const rx::pattern number("(-?\\d+) cp");
  rx::groups a, b;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(rx::search(before[std::size_t(i)], a, number) && rx::search(twin[std::size_t(i)], b, number));
    EXPECT_EQ(std::stoi(a[1]), -std::stoi(b[1])) << before[std::size_t(i)] << " / " << twin[std::size_t(i)];
  }
  e.send("quit");
  EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
  for (const auto& p : {magicPath, shortPath, otherPath}) std::remove(p.c_str());
}

// UseNNUE and EvalFile set while a search runs wait for the next "go"; the
// network's search differs from the hand-written one, and switching back
// gives the hand-written search again, node for node.
TEST(PlayNetwork, OptionsSetDuringASearchWaitForTheNextGo) {
  const std::string otherPath = writeFile("net_play.nnue", embedded());
  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  e.send("setoption name UseNNUE value false");
  e.send(std::string("position fen ") + FEN);
  const std::string handWritten = nodesOfSearch(e, "go depth 6");

  e.send("go infinite");
  e.send("setoption name UseNNUE value true");
  e.send("setoption name EvalFile value " + otherPath);
  ASSERT_TRUE(e.readUntil("info string EvalFile set to", scaledMs(10000)));
  e.send("stop");
  ASSERT_TRUE(e.readUntil("bestmove", scaledMs(10000)));

  e.send("ucinewgame");
  const std::string network = nodesOfSearch(e, "go depth 6");
  EXPECT_NE(network, handWritten);
  e.send("setoption name UseNNUE value false");
  e.send("ucinewgame");
  EXPECT_EQ(nodesOfSearch(e, "go depth 6"), handWritten);
  e.send("setoption name UseNNUE value true");
  e.send("ucinewgame");
  EXPECT_EQ(nodesOfSearch(e, "go depth 6"), network);
  e.send("quit");
  EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
  std::remove(otherPath.c_str());
}

// A net lives as long as a search can read it: EvalFile replaced between
// searches and while two threads search with the net it replaces, then
// the search stopped and others started. The sanitizer builds catch a
// freed net being read; the last search must be the last named net's, node
// for node.
TEST(NetOwnership, EvalFileReplacedAroundAndDuringSearches) {
  const std::string netA = writeFile("net_a.nnue", embedded());
  const std::string netB = writeFile("net_b.nnue", testnet::randomNet(64, nnue::SCRELU, 7));
  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  answersTo(e, {"setoption name UseNNUE value true", "setoption name EvalFile value " + netB,
                std::string("position fen ") + FEN});
  const std::string withB = nodesOfSearch(e, "go depth 6");

  answersTo(e, {"setoption name Threads value 2", "setoption name EvalFile value " + netA});
  e.send("go depth 6");
  ASSERT_TRUE(e.readUntil("bestmove", scaledMs(30000)));
  e.send("go infinite");
  for (const std::string& next : {netB, std::string("<embedded>"), netB}) {
    e.send("setoption name EvalFile value " + next);
    ASSERT_TRUE(e.readUntil("info string EvalFile set to : " + next, scaledMs(10000))) << next;
    std::this_thread::sleep_for(std::chrono::milliseconds(scaledMs(100)));  // the search reads on
  }
  e.send("stop");
  ASSERT_TRUE(e.readUntil("bestmove", scaledMs(10000)));
  e.send("go depth 6");
  ASSERT_TRUE(e.readUntil("bestmove", scaledMs(30000)));

  answersTo(e, {"setoption name Threads value 1", "ucinewgame"});
  EXPECT_EQ(nodesOfSearch(e, "go depth 6"), withB);
  e.send("quit");
  EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
  for (const auto& p : {netA, netB}) std::remove(p.c_str());
}

// The search with the default net: its own signature. It changes whenever
// the default net (nets/default.nnue) changes, as well as with the search;
// update it then (and nets/README.md and README.md with it).
TEST(Bench, NodeCountWithTheNetwork) {
  engineProcess e({"bench", "nnue", "6"});
  auto lines = e.drain(scaledMs(60000));
  EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
  ASSERT_FALSE(lines.empty());
  rx::groups m;
  ASSERT_TRUE(rx::match(lines.back(), m, rx::pattern(R"((\d+) nodes \d+ nps)"))) << lines.back();
  EXPECT_EQ(m[1], "171768");
}
