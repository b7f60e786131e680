#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "datagen/datagen.h"
#include "format/record.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "testutil.h"

namespace {

// Games of records from real positions: each game walks a few plies from a
// start position, every position with its first legal move.
std::vector<u8> sampleFile(int games, int length) {
  std::vector<u8> file(DATA_HEADER_BYTES);
  writeDataHeader(file.data());
  const char* const starts[] = {START_FEN, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                                "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1"};
  for (int g = 0; g < games; ++g) {
    testBoard b(starts[g % 3]);
    for (int k = 0; k < length; ++k) {
      generateLegal(0, b->plies[0].listStart, *b);
      const long n = b->plies[0].listEnd - b->plies[0].listStart;
      const chessMove m = b->plies[0].listStart[(k * 7 + g) % n];
      std::size_t at = file.size();
      file.resize(at + RECORD_BYTES);
      packRecord(*b, k / 2 + 1, 10 * k - 50, toRecordMove(m, *b), g % 3, k == length - 1, &file[at]);
      makeMove(*b, 0, m);
      b->plies[0].castleRights = b->plies[1].castleRights;
      b->plies[0].epSquare = b->plies[1].epSquare;
    }
  }
  return file;
}

struct readOutcome {
  std::vector<std::vector<dataRecord>> games;
  std::string error;
  u64 complete = 0, tail = 0;
  bool opened = false;
};

readOutcome readBytes(const std::vector<u8>& bytes, bool skipDamaged = false, std::vector<std::string>* notes = nullptr) {
  readOutcome o;
  // fmemopen refuses an empty buffer; an empty file reads the same as /dev/null.
  std::FILE* f = bytes.empty() ? std::fopen("/dev/null", "rb")
                               : fmemopen(const_cast<u8*>(bytes.data()), bytes.size(), "rb");
  dataReader reader;
  reader.skipDamaged(skipDamaged);
  o.opened = reader.open(f, "sample.bin");
  std::vector<dataRecord> game;
  while (o.opened && reader.nextGame(game)) o.games.push_back(game);
  o.error = reader.error();
  o.complete = reader.completeBytes();
  o.tail = reader.tailBytes();
  if (notes) *notes = reader.notes();
  return o;
}

void put32(std::vector<u8>& v, std::size_t at, u32 x) {
  for (int i = 0; i < 4; ++i) v[at + i] = u8(x >> (8 * i));
}

}  // namespace

TEST(DataReader, RefusesFilesItCannotRead) {
  ensureTables();
  const std::vector<u8> good = sampleFile(1, 4);
  struct badHeader {
    std::vector<u8> bytes;
    const char* error;
  };
  std::vector<badHeader> cases;
  cases.push_back({{}, "sample.bin: byte 0: not a training data file"});
  cases.push_back({std::vector<u8>(good.begin(), good.begin() + 10), "sample.bin: byte 0: header cut short"});
  std::vector<u8> foreign = good;
  foreign[0] = 'X';
  cases.push_back({foreign, "sample.bin: byte 0: not a training data file"});
  std::vector<u8> newer = good;
  put32(newer, 8, 3);
  cases.push_back({newer, "sample.bin: byte 0: data version 3 is newer than this program reads (2)"});
  std::vector<u8> wide = good;
  put32(wide, 12, 40);
  cases.push_back({wide, "sample.bin: byte 0: record size 40, expected 32"});
  for (const badHeader& c : cases) {
    const readOutcome o = readBytes(c.bytes);
    EXPECT_FALSE(o.opened);
    EXPECT_EQ(o.error.rfind(c.error, 0), 0u) << o.error;
  }
}

// A run cut short leaves a partial record or an unclosed game at the end:
// left out, not an error. A bad record anywhere is an error at its offset,
// and its game is not handed out.
TEST(DataReader, LeavesOutTheUnfinishedGameAndStopsAtABadRecord) {
  ensureTables();
  const std::vector<u8> file = sampleFile(3, 5);
  const readOutcome whole = readBytes(file);
  ASSERT_TRUE(whole.error.empty()) << whole.error;
  ASSERT_EQ(whole.games.size(), 3u);
  EXPECT_EQ(whole.games[1][2].score, -30);
  EXPECT_EQ(whole.games[1][0].result, 1);

  for (std::size_t cut : {file.size() - 1, file.size() - RECORD_BYTES, file.size() - 3 * RECORD_BYTES - 7}) {
    const readOutcome o = readBytes(std::vector<u8>(file.begin(), file.begin() + long(cut)));
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_EQ(o.games.size(), 2u);
    EXPECT_EQ(o.complete, DATA_HEADER_BYTES + 10u * RECORD_BYTES);
    EXPECT_EQ(o.tail, cut - o.complete);
  }

  // Byte offsets of game 2's third record.
  const std::size_t third = DATA_HEADER_BYTES + 7 * RECORD_BYTES;
  struct corruption {
    std::size_t at;
    u8 value;
    const char* why;
  };
  const corruption corruptions[] = {
      {third + 8, 0xFF, "piece code 15"},                    // first two men's codes
      {third + 31, 0x03, "result code 3"},
      {third + 31, 0x41, "reserved bits"},
      {third + 29, 0x00, "move"},                            // from-square a1: no man of the mover there
  };
  for (const corruption& c : corruptions) {
    std::vector<u8> bad = file;
    bad[c.at] = c.value;
    if (c.at == third + 29) bad[third + 30] = 0x00;
    const readOutcome o = readBytes(bad);
    EXPECT_EQ(o.games.size(), 1u) << c.why;
    EXPECT_EQ(o.error.rfind("sample.bin: byte " + std::to_string(third) + ": ", 0), 0u) << o.error;
    EXPECT_NE(o.error.find(c.why), std::string::npos) << o.error;
  }
}

// Random damage to a good file: never a crash or undefined behaviour (the
// sanitizer build runs this too); every game handed out decodes and sets
// up a board; an error names the offset of a record.
TEST(DataReader, SurvivesDamagedFiles) {
  ensureTables();
  const std::vector<u8> file = sampleFile(4, 6);
  u64 state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return u32(state >> 33);
  };
  testBoard b;
  int errors = 0, cleanEnds = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<u8> bytes = file;
    const int damage = 1 + int(next() % 4);
    for (int d = 0; d < damage; ++d) {
      const u32 kind = next() % 5;
      const std::size_t at = next() % bytes.size();
      if (kind == 0) bytes[at] = u8(next());
      else if (kind == 1) bytes[at] ^= u8(1u << (next() % 8));
      else if (kind == 2) bytes.resize(std::max<std::size_t>(at, 1));
      else if (kind == 3) bytes.insert(bytes.begin() + long(at), u8(next()));
      else bytes[at] = 0;
    }
    const readOutcome o = readBytes(bytes);
    if (!o.opened) continue;
    if (o.error.empty()) {
      ++cleanEnds;
      EXPECT_EQ(o.complete + o.tail, bytes.size());
    } else {
      ++errors;
      const std::string prefix = "sample.bin: byte ";
      ASSERT_EQ(o.error.rfind(prefix, 0), 0u) << o.error;
      const u64 offset = std::stoull(o.error.substr(prefix.size()));
      EXPECT_EQ((offset - DATA_HEADER_BYTES) % RECORD_BYTES, 0u) << o.error;
      EXPECT_GE(offset, o.complete);
    }
    for (const auto& game : o.games) {
      ASSERT_TRUE(game.back().lastOfGame);
      for (const dataRecord& r : game) {
        recordFilters(r);
        ASSERT_TRUE(setFromFen(recordFen(r), *b, recordIsChess960(r))) << recordFen(r);
      }
    }
  }
  EXPECT_GT(errors, 100);
  EXPECT_GT(cleanEnds, 100);
}

// Files joined with cat read as one stream, each part with its own header;
// what a crash leaves after the last complete game (zeros, a torn record, an
// unfinished game before the next file) is left out, not an error; a bad
// record with sound ones after it is damage, named by file, byte and game,
// and can be skipped on request.
TEST(DataReader, JoinedFilesCrashTailsAndDamage) {
  ensureTables();
  const std::vector<u8> a = sampleFile(3, 5);
  std::vector<u8> b = dataHeader({{"tool", "test"}, {"seed", "7"}});
  const std::vector<u8> bRecords = sampleFile(2, 4);
  b.insert(b.end(), bRecords.begin() + DATA_HEADER_BYTES, bRecords.end());
  auto join = [](std::vector<u8> x, const std::vector<u8>& y) {
    x.insert(x.end(), y.begin(), y.end());
    return x;
  };
  const std::vector<u8> ab = join(a, b);
  std::FILE* f = fmemopen(const_cast<u8*>(ab.data()), ab.size(), "rb");
  dataReader reader;
  ASSERT_TRUE(reader.open(f, "sample.bin"));
  std::vector<dataRecord> game;
  int games = 0;
  while (reader.nextGame(game)) ++games;
  EXPECT_EQ(games, 5);
  EXPECT_TRUE(reader.error().empty()) << reader.error();
  ASSERT_EQ(reader.parts().size(), 2u);
  EXPECT_EQ(reader.parts()[0].version, 1u);
  EXPECT_EQ(reader.parts()[1].offset, a.size());
  EXPECT_EQ(reader.parts()[1].games, 2u);
  EXPECT_EQ(settingsLine(reader.parts()[1].settings), "tool=test seed=7");

  // The tails a crash leaves: zeros, a torn record, a torn header.
  std::vector<u8> torn(45);
  for (std::size_t i = 0; i < torn.size(); ++i) torn[i] = u8(0xA5 + 37 * i);
  const std::vector<u8> halfHeader(b.begin(), b.begin() + 30);
  for (const std::vector<u8>& tail : {std::vector<u8>(4096, 0), torn, halfHeader}) {
    const readOutcome o = readBytes(join(a, tail), false);
    EXPECT_TRUE(o.error.empty()) << o.error;
    EXPECT_EQ(o.games.size(), 3u);
    EXPECT_EQ(o.complete, a.size());
    EXPECT_EQ(o.tail, tail.size());
  }
  // An unfinished game (cut inside its third record), then another file.
  std::vector<std::string> notes;
  const std::vector<u8> cutA(a.begin(), a.begin() + DATA_HEADER_BYTES + 12 * RECORD_BYTES + 9);
  const readOutcome unfinished = readBytes(join(cutA, b), false, &notes);
  EXPECT_TRUE(unfinished.error.empty()) << unfinished.error;
  EXPECT_EQ(unfinished.games.size(), 4u);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("an unfinished game before another file's header at byte " + std::to_string(cutA.size())),
            std::string::npos)
      << notes[0];

  // Damage in the middle: game 2's third record, or a byte lost there.
  const std::size_t third = DATA_HEADER_BYTES + 7 * RECORD_BYTES;
  std::vector<u8> damaged = ab;
  damaged[third + 8] = 0xFF;
  std::vector<u8> shifted = ab;
  shifted.erase(shifted.begin() + long(third) + 3);
  for (const std::vector<u8>& bad : {damaged, shifted}) {
    const readOutcome stop = readBytes(bad, false);
    EXPECT_EQ(stop.games.size(), 1u);
    EXPECT_EQ(stop.error.rfind("sample.bin: byte " + std::to_string(third) + ": game 2 (from byte 176", 0), 0u)
        << stop.error;
    const readOutcome skip = readBytes(bad, true, &notes);
    EXPECT_TRUE(skip.error.empty()) << skip.error;
    EXPECT_EQ(skip.games.size(), 4u);  // all but the damaged one
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("game 2"), std::string::npos) << notes[0];
  }
}

// The score histogram gives a high score and a mate score rows of their own.
TEST(DataStat, HistogramTellsHighScoresFromDecidedOnes) {
  ensureTables();
  std::vector<u8> file = sampleFile(1, 4);
  auto setScore = [&](int record, int score) {
    u8* rec = &file[DATA_HEADER_BYTES + std::size_t(record) * RECORD_BYTES];
    rec[27] = u8(u16(i16(score)));
    rec[28] = u8(u16(i16(score)) >> 8);
  };
  setScore(0, 2500);
  setScore(1, 2400);
  setScore(2, MATE_SCORE - 5);
  const std::string path = testing::TempDir() + "datastat_histogram.bin";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
  std::string out, err;
  ASSERT_EQ(datastatTool({path}, [&](const std::string& t) { out += t; }, [&](const std::string& t) { err += t; }), 0)
      << err;
  auto row = [&](const std::string& label) {
    const std::size_t at = out.find("  " + label + " ");
    return at == std::string::npos ? -1 : std::stoi(out.substr(at + 2 + 14));
  };
  EXPECT_EQ(row(">= 2000"), 2) << out;
  EXPECT_EQ(row("decided > 0"), 1) << out;
  std::remove(path.c_str());
}
