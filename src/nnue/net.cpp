#include "nnue/net.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "board/board.h"
#include "nnue/embedded.h"

namespace nnue {

namespace {

std::string number(std::size_t n) { return std::to_string(n); }

// Little-endian reads from the image (the file is little-endian whatever the host).
u32 readU32(const unsigned char* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }
i16 readI16(const unsigned char* p) { return i16(u16(p[0] | p[1] << 8)); }

// Reads `count` int16 values, each within `limit` in magnitude; "" or the fault.
std::string readWeights(const unsigned char*& p, i16* out, std::size_t count, int limit, const char* what) {
  for (std::size_t i = 0; i < count; ++i, p += 2) {
    out[i] = readI16(p);
    if (out[i] > limit || out[i] < -limit)
      return std::string(what) + " " + std::to_string(out[i]) + " at index " + number(i) + " is beyond " +
             std::to_string(limit) + ", more than the integer sums can hold";
  }
  return "";
}

}  // namespace

std::string loadNet(const void* data, std::size_t size, network& out) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  fileHeader h;
  if (std::string fault = readNetHeader(bytes, size, h); !fault.empty()) return fault;
  const u32 hidden = h.hidden, activation = h.activation;
  const unsigned char* p = bytes + sizeof(fileHeader);
  std::string fault = readWeights(p, out.featureWeights, std::size_t(INPUTS) * hidden, FEATURE_WEIGHT_LIMIT, "feature weight");
  if (fault.empty()) fault = readWeights(p, out.featureBias, hidden, FEATURE_WEIGHT_LIMIT, "feature bias");
  const int buckets = outputLayers(h);
  if (fault.empty())
    fault = readWeights(p, out.outputWeights, 2 * std::size_t(hidden) * std::size_t(buckets),
                        outputWeightLimit(activation, int(hidden)), "output weight");
  if (!fault.empty()) return fault;
  for (int k = 0; k < buckets; ++k, p += 4) out.outputBias[k] = i32(readU32(p));
  out.buckets = buckets;
  out.activation = activation;
  out.hidden = int(hidden);
  out.mirrored = mirroredInputs(h);
  return "";
}

namespace {

// A net file's bytes into `image`; "" or the fault. A FIFO or a device could
// block or never end: only a regular file is opened.
std::string readNetFile(const std::string& path, std::vector<unsigned char>& image) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return "cannot be read: no such file";
  if (!std::filesystem::is_regular_file(status)) return "cannot be read: not a regular file";
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot be read";
  // More than the widest net: a huge file is refused without reading it all.
  constexpr std::size_t MOST = MAX_NET_FILE_BYTES + 1;
  image.resize(MOST);
  in.read(reinterpret_cast<char*>(image.data()), std::streamsize(MOST));
  if (in.bad()) return "cannot be read";
  const std::size_t got = std::size_t(in.gcount());
  if (got == MOST) return "longer than a net of this engine's sizes";
  image.resize(got);
  return "";
}

}  // namespace

std::string loadNetFile(const std::string& path, network& out) {
  std::vector<unsigned char> image;
  const std::string fault = readNetFile(path, image);
  return fault.empty() ? loadNet(image.data(), image.size(), out) : fault;
}

std::string loadNetByName(const std::string& name, network& out, u32* imageSum) {
  std::vector<unsigned char> file;
  embeddedBytes image = embeddedNet();
  if (name != EMBEDDED_NET_NAME) {
    if (std::string fault = readNetFile(name, file); !fault.empty()) return fault;
    image = {file.data(), file.size()};
  }
  std::string fault = loadNet(image.data, image.size, out);
  if (fault.empty() && imageSum) *imageSum = fnv1a(image.data, image.size);
  return fault;
}

namespace {

// Plain loops over fixed lengths: the compiler turns them into vector code
// for whatever the build targets, and the integers come out the same.
template <int H>
i32 screluSum(const i16* __restrict acc, const i16* __restrict weights) {
  i32 sum = 0;
  for (int i = 0; i < H; ++i) {
    const i16 c = i16(std::clamp<int>(acc[i], 0, QA));
    const i16 cw = i16(c * weights[i]);  // within int16: the loader bounds the weights
    sum += i32(cw) * i32(c);
  }
  return sum;
}

template <int H>
i32 creluSum(const i16* __restrict acc, const i16* __restrict weights) {
  i32 sum = 0;
  for (int i = 0; i < H; ++i) {
    const i16 c = i16(std::clamp<int>(acc[i], 0, QA));
    sum += i32(c) * i32(weights[i]);
  }
  return sum;
}

template <int H>
void refreshRows(const network& net, const board& b, int view, i16* __restrict out) {
  std::memcpy(out, net.featureBias, sizeof(i16) * H);
  const int flip = viewFlip(net, b, view);
  for (int code = WHITE_PAWN; code <= BLACK_KING; ++code) {
    for (u64 set = b.pieceBB[code]; set;) {
      const i16* __restrict row = net.featureWeights + std::size_t(pieceFeature(view, code, popLsb(set), flip)) * H;
      for (int i = 0; i < H; ++i) out[i] = i16(out[i] + row[i]);
    }
  }
}

}  // namespace

template <int H>
int outputOf(const network& net, const i16* stmAcc, const i16* otherAcc, int bucket) {
  const i16* w = net.outputWeights + std::size_t(bucket) * 2 * H;
  i64 value;
  if (net.activation == SCRELU) {
    const i32 sum = screluSum<H>(stmAcc, w) + screluSum<H>(otherAcc, w + H);
    value = i64(sum) / QA + net.outputBias[bucket];
  } else {
    const i32 sum = creluSum<H>(stmAcc, w) + creluSum<H>(otherAcc, w + H);
    value = i64(sum) + net.outputBias[bucket];
  }
  value = value * SCALE / (QA * QB);
  return int(std::clamp<i64>(value, -SCORE_LIMIT, SCORE_LIMIT));
}
// Every width of the list, for the accumulators' own calls.
extern const std::array<int (*)(const network&, const i16*, const i16*, int), WIDTH_COUNT> outputOfEachWidth;
const std::array<int (*)(const network&, const i16*, const i16*, int), WIDTH_COUNT> outputOfEachWidth =
    []<std::size_t... I>(std::index_sequence<I...>) {
      return std::array<int (*)(const network&, const i16*, const i16*, int), WIDTH_COUNT>{&outputOf<WIDTHS[I]>...};
    }(std::make_index_sequence<WIDTH_COUNT>{});

int viewFlip(const network& net, const board& b, int view) {
  return net.mirrored ? kingFlip(true, kingSquare(b, view)) : 0;
}

void refreshView(const network& net, const board& b, int view, i16* out) {
  withWidth(net.hidden, [&]<int H>() { refreshRows<H>(net, b, view, out); });
}

int outputCentipawns(const network& net, const i16* stmAcc, const i16* otherAcc, int bucket) {
  return withWidth(net.hidden, [&]<int H>() { return outputOf<H>(net, stmAcc, otherAcc, bucket); });
}

int evaluateFromScratch(const network& net, const board& b) {
  alignas(64) i16 acc[2][MAX_HIDDEN];
  refreshView(net, b, WHITE, acc[WHITE]);
  refreshView(net, b, BLACK, acc[BLACK]);
  const int us = b.sideToMove;
  return outputCentipawns(net, acc[us], acc[us ^ 1], bucketOf(net, popCount(occupancy(b))));
}

}  // namespace nnue
