#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "nnue/embedded.h"
#include "nnue/net.h"
#include "netfile.h"
#include "testutil.h"

namespace {

using testnet::bytes;
using testnet::putI16;
using testnet::putU32;

bytes embedded() {
  const nnue::embeddedBytes e = nnue::embeddedNet();
  return bytes(e.data, e.data + e.size);
}

// The file tests use a net of this width, made by the test.
constexpr int W = 256;
bytes net256(u32 activation = nnue::SCRELU) { return testnet::randomNet(W, activation, 77); }

// Header field offsets, as in fileHeader.
constexpr std::size_t VERSION_AT = 8, INPUTS_AT = 12, HIDDEN_AT = 16, ACTIVATION_AT = 20, QA_AT = 24,
                      PAYLOAD_AT = 36, CHECKSUM_AT = 40, RESERVED_AT = 44, HEADER = 48;
// Payload offsets.
constexpr std::size_t biasAt(int hidden) { return HEADER + 2 * std::size_t(nnue::INPUTS) * hidden; }
constexpr std::size_t outputAt(int hidden) { return biasAt(hidden) + 2 * std::size_t(hidden); }
constexpr std::size_t outputBiasAt(int hidden) { return outputAt(hidden) + 4 * std::size_t(hidden); }
constexpr std::size_t BIAS_AT = biasAt(W), OUTPUT_AT = outputAt(W), OUTPUT_BIAS_AT = outputBiasAt(W);

// The header's checksum made right again after a change to the payload.
void reseal(bytes& b) { putU32(b, CHECKSUM_AT, nnue::fnv1a(b.data() + HEADER, b.size() - HEADER)); }

std::string load(const bytes& b) {
  auto net = std::make_unique<nnue::network>();
  return nnue::loadNet(b.data(), b.size(), *net);
}

char swapCase(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isupper(u) ? char(std::tolower(u)) : char(std::toupper(u));
}

// The same position with colours swapped and ranks mirrored.
std::string flippedFen(const std::string& fen) {
  std::istringstream in(fen);
  std::string placement, side, castling, ep, rest, word;
  in >> placement >> side >> castling >> ep;
  while (in >> word) rest += " " + word;
  std::vector<std::string> ranks(1);
  for (char c : placement) {
    if (c == '/')
      ranks.emplace_back();
    else
      ranks.back().push_back(c);
  }
  std::string out;
  for (auto r = ranks.rbegin(); r != ranks.rend(); ++r) {
    for (char c : *r) out += swapCase(c);
    if (r + 1 != ranks.rend()) out += '/';
  }
  std::string flippedCastling;
  for (char c : castling) flippedCastling += swapCase(c);
  if (ep != "-") ep[1] = char('1' + '8' - ep[1]);
  return out + (side == "w" ? " b " : " w ") + flippedCastling + " " + ep + rest;
}

// The same position mirrored left to right (no castling rights: they would
// name other rooks).
std::string filesFlippedFen(const std::string& fen) {
  std::istringstream in(fen);
  std::string placement, side, castling, ep, rest, word;
  in >> placement >> side >> castling >> ep;
  while (in >> word) rest += " " + word;
  std::string out, rank;
  for (char c : placement + "/") {
    if (c != '/') {
      rank.insert(rank.begin(), c);
      continue;
    }
    out += (out.empty() ? "" : "/") + rank;
    rank.clear();
  }
  if (ep != "-") ep[0] = char('a' + 'h' - ep[0]);
  return out + " " + side + " - " + ep + rest;
}

const char* const POSITIONS[] = {
    START_FEN,
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "rnbqkb1r/pp1p1ppp/2p5/4P3/2B5/8/PPP1NnPP/RNBQK2R w KQkq - 0 6",
    "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",
    "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1",
    "8/8/8/3k4/8/8/3K4/8 w - - 0 1",
};

}  // namespace

TEST(NetFile, EmbeddedNetAndEveryWidthLoad) {
  EXPECT_EQ(load(embedded()), "");
  for (int hidden : {32, 64, 128, 256, 512})
    for (u32 activation : {u32(nnue::SCRELU), u32(nnue::CRELU)})
      EXPECT_EQ(load(testnet::randomNet(hidden, activation, 1)), "") << hidden << " " << activation;
}

// Each fault is refused with its own words, and nothing is read past the end.
TEST(NetFile, EveryFaultIsNamed) {
  const bytes good = net256();
  struct fault {
    const char* expected;
    bytes data;
  };
  std::vector<fault> faults;
  auto with = [&](const char* expected, auto change) {
    bytes b = good;
    change(b);
    faults.push_back({expected, b});
  };
  with("wrong magic", [](bytes& b) { b[0] = 'X'; });
  with("version 4, this engine reads versions 1 to 3", [](bytes& b) { putU32(b, VERSION_AT, 4); });
  with("sizes: 769 inputs", [](bytes& b) { putU32(b, INPUTS_AT, 769); });
  with("sizes: hidden layer of 96, this engine runs 32, 64, 128, 256 or 512", [](bytes& b) { putU32(b, HIDDEN_AT, 96); });
  with("payload length 394756 in the header, the sizes make 197380", [](bytes& b) { putU32(b, HIDDEN_AT, 128); });
  with("unknown activation 7", [](bytes& b) { putU32(b, ACTIVATION_AT, 7); });
  with("quantisation 256/64/400", [](bytes& b) { putU32(b, QA_AT, 256); });
  with("reserved header field", [](bytes& b) { putU32(b, RESERVED_AT, 1); });
  with("payload length 12 in the header", [](bytes& b) { putU32(b, PAYLOAD_AT, 12); });
  with("checksum mismatch", [](bytes& b) { b[HEADER + 1000] ^= 1; });
  with("truncated: 20 bytes, the header alone has 48", [](bytes& b) { b.resize(20); });
  with("truncated: 1000 of", [](bytes& b) { b.resize(HEADER + 1000); });
  with("truncated", [](bytes& b) { b.pop_back(); });
  with("3 bytes after the payload", [](bytes& b) { b.insert(b.end(), 3, 0); });
  // Weights beyond what the integer sums hold, with a checksum that fits.
  with("feature weight 993 at index 3", [](bytes& b) { putI16(b, HEADER + 6, 993); reseal(b); });
  with("feature bias -993 at index 3", [](bytes& b) { putI16(b, BIAS_AT + 6, -993); reseal(b); });
  with("output weight 65 at index 511", [](bytes& b) { putI16(b, OUTPUT_AT + 2 * 511, 65); reseal(b); });
  // The limits themselves are allowed.
  with("", [](bytes& b) {
    putI16(b, HEADER + 6, 992);
    putI16(b, BIAS_AT, -992);
    putI16(b, OUTPUT_AT, -64);
    reseal(b);
  });
  for (const fault& f : faults) {
    const std::string got = load(f.data);
    if (*f.expected == 0)
      EXPECT_EQ(got, "");
    else
      EXPECT_NE(got.find(f.expected), std::string::npos) << "expected \"" << f.expected << "\", got \"" << got << "\"";
  }

  // Files: missing, not a regular file, too long; a good one loads.
  auto net = std::make_unique<nnue::network>();
  EXPECT_EQ(nnue::loadNetFile("/nonexistent/net.nnue", *net), "cannot be read: no such file");
  EXPECT_EQ(nnue::loadNetFile("/", *net), "cannot be read: not a regular file");
  const std::string path = ::testing::TempDir() + "net_test_long.nnue";
  bytes longer = good;
  longer.resize(nnue::MAX_NET_FILE_BYTES + 1);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(longer.data()), std::streamsize(longer.size()));
  EXPECT_EQ(nnue::loadNetFile(path, *net), "longer than a net of this engine's sizes");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(good.data()), std::streamsize(good.size()));
  EXPECT_EQ(nnue::loadNetFile(path, *net), "");
  std::remove(path.c_str());
}

// Random changes of a good file (bytes changed, cut, added; the checksum made
// right half of the time so that the weight checks are reached): the loader
// refuses or accepts, and an accepted net evaluates, without a fault under
// the sanitizers.
TEST(NetFile, MutatedFilesNeverFault) {
  testBoard b("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
  const bytes good = net256();
  auto net = std::make_unique<nnue::network>();
  u64 seed = 12345;
  auto next = [&] {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return seed >> 33;
  };
  int accepted = 0;
  const int rounds = std::getenv("DRAVLIN_SANITIZED") ? 150 : 400;
  for (int round = 0; round < rounds; ++round) {
    bytes b2 = good;
    const int changes = 1 + int(next() % 4);
    for (int c = 0; c < changes; ++c) {
      switch (next() % 5) {
        case 0: b2[next() % HEADER] = u8(next()); break;                // header byte
        case 1: b2[next() % b2.size()] = u8(next()); break;             // any byte
        case 2: b2.resize(next() % (b2.size() + 1)); break;             // cut
        case 3: b2.insert(b2.end(), next() % 64, u8(next())); break;    // added
        default: if (b2.size() >= OUTPUT_BIAS_AT) putI16(b2, OUTPUT_AT + 2 * (next() % 512), int(next() % 200) - 100); break;
      }
      if (b2.empty()) break;
    }
    if (b2.size() > HEADER && next() % 2) reseal(b2);
    if (nnue::loadNet(b2.data(), b2.size(), *net).empty()) {
      ++accepted;
      const int score = nnue::evaluateFromScratch(*net, *b);
      EXPECT_LE(std::abs(score), nnue::SCORE_LIMIT);
    }
  }
  EXPECT_GT(accepted, 0);  // the fuzz reached the weights, not only the header
}

// A position and its colour-flipped twin get exactly the same score (from
// the side to move's view).
TEST(NetEval, ColourFlippedTwinScoresTheSame) {
  auto net = std::make_unique<nnue::network>();
  bool anyNonZero = false;
  for (const bytes& good : {embedded(), testnet::randomNet(64, nnue::CRELU, 3), testnet::randomNet(512, nnue::SCRELU, 4),
                            testnet::randomNet(64, nnue::SCRELU, 6, nnue::OUTPUT_BUCKETS),
                            testnet::randomNet(128, nnue::SCRELU, 8, nnue::OUTPUT_BUCKETS, true)}) {
    ASSERT_EQ(nnue::loadNet(good.data(), good.size(), *net), "");
    for (const char* fen : POSITIONS) {
      testBoard a(fen), twin(flippedFen(fen));
      const int score = nnue::evaluateFromScratch(*net, *a);
      EXPECT_EQ(score, nnue::evaluateFromScratch(*net, *twin)) << net->hidden << ": " << fen << " / " << flippedFen(fen);
      anyNonZero = anyNonZero || score != 0;
    }
  }
  EXPECT_TRUE(anyNonZero);
}

// A mirrored net (version 3) sees a position and its left-right mirror
// alike, whichever half each king stands on; an unmirrored one does not.
TEST(NetEval, MirroredNetScoresTheLeftRightMirrorTheSame) {
  auto net = std::make_unique<nnue::network>();
  for (const bool mirrored : {true, false}) {
    const bytes file = testnet::randomNet(64, nnue::SCRELU, 11, nnue::OUTPUT_BUCKETS, mirrored);
    ASSERT_EQ(file[8], mirrored ? 3 : 2);
    ASSERT_EQ(nnue::loadNet(file.data(), file.size(), *net), "");
    int alike = 0;
    for (const char* fen : POSITIONS) {
      testBoard a(fen), mirror(filesFlippedFen(fen));
      alike += nnue::evaluateFromScratch(*net, *a) == nnue::evaluateFromScratch(*net, *mirror);
    }
    EXPECT_EQ(alike, mirrored ? int(std::size(POSITIONS)) : 0) << "mirrored " << mirrored;
  }
}

// The largest sums the loader allows: every accumulator at its top, every
// output weight at its limit, on a full board. The output bias brings the
// result back into the score range, so that the integer result is compared
// exactly: a wrap anywhere would show. One more in a weight is refused.
TEST(NetEval, OverflowBoundHolds) {
  testBoard full(START_FEN);
  for (const int hidden : {32, 64, 128, 256, 512}) {
    for (const u32 activation : {u32(nnue::SCRELU), u32(nnue::CRELU)}) {
      const int outputLimit = nnue::outputWeightLimit(activation, hidden);
      for (const int sign : {1, -1}) {
        // Accumulators all at +33 * limit, output weights all at sign * their limit.
        const i64 c = nnue::QA;
        const i64 sum = activation == nnue::SCRELU ? 2 * hidden * c * c * outputLimit * sign
                                                   : 2 * hidden * c * outputLimit * sign;
        ASSERT_LT(std::abs(sum), i64(1) << 31);
        const i64 reach = activation == nnue::SCRELU ? sum / nnue::QA : sum;
        const i64 bias = -reach + nnue::QA * nnue::QB / 4;  // 100 cp after the sums

        bytes b = testnet::randomNet(hidden, activation, 5);
        for (std::size_t at = HEADER; at < outputAt(hidden); at += 2) putI16(b, at, nnue::FEATURE_WEIGHT_LIMIT);
        for (std::size_t at = outputAt(hidden); at < outputBiasAt(hidden); at += 2) putI16(b, at, sign * outputLimit);
        putU32(b, outputBiasAt(hidden), u32(i32(bias)));
        reseal(b);
        auto net = std::make_unique<nnue::network>();
        ASSERT_EQ(nnue::loadNet(b.data(), b.size(), *net), "");

        alignas(64) i16 acc[nnue::MAX_HIDDEN];
        nnue::refreshView(*net, *full, BLACK, acc);
        EXPECT_EQ(acc[hidden - 1], 33 * nnue::FEATURE_WEIGHT_LIMIT);  // 32 men and the bias, within int16
        EXPECT_EQ(nnue::evaluateFromScratch(*net, *full), 100) << hidden << " " << activation << " " << sign;

        putI16(b, outputAt(hidden), sign * (outputLimit + 1));
        reseal(b);
        EXPECT_NE(nnue::loadNet(b.data(), b.size(), *net).find("output weight"), std::string::npos);
      }
    }
  }
}
