#pragma once
// The network in the engine: the quantised weights, their loader and the
// integer forward pass. The trainer links this too, so its gap report runs
// the very arithmetic the search does.

#include <cstddef>
#include <string>

#include "board/types.h"
#include "format/netfile.h"

struct board;

namespace nnue {

// Network scores are kept well inside the search's non-mate range.
constexpr int SCORE_LIMIT = 20000;

// Room for the widest net; a net of width `hidden` uses the first part of
// each array, laid out as in the file.
struct network {
  alignas(64) i16 featureWeights[INPUTS * MAX_HIDDEN];  // row of feature f at f * hidden
  alignas(64) i16 featureBias[MAX_HIDDEN];
  // One output layer per bucket, at bucket * 2 * hidden; in each the side
  // to move's half (hidden values) first.
  alignas(64) i16 outputWeights[OUTPUT_BUCKETS * 2 * MAX_HIDDEN];
  i32 outputBias[OUTPUT_BUCKETS];  // at scale QA * QB
  int buckets;                     // output layers: 1 (a version-1 file) or OUTPUT_BUCKETS
  u32 activation;                                 // CRELU or SCRELU
  int hidden;                                     // a supported width
  bool mirrored;                                  // inputs flipped by each view's king (kingFlip)
};

// Runs `f.template operator()<H>()` with the net's width H as a constant,
// so that every loop over the hidden layer has a fixed length; one case for
// each width of the list (the last for anything else).
template <int I = 0, class F>
decltype(auto) withWidth(int hidden, F&& f) {
  if constexpr (I + 1 == WIDTH_COUNT) {
    return f.template operator()<WIDTHS[I]>();
  } else {
    if (hidden == WIDTHS[I]) return f.template operator()<WIDTHS[I]>();
    return withWidth<I + 1>(hidden, f);
  }
}

// Reads a net file image into `out`. Returns "" on success, else a short
// text naming the fault ("wrong magic", "truncated: ...", "checksum ...");
// `out` is then unspecified. Never reads past `size` bytes.
std::string loadNet(const void* data, std::size_t size, network& out);
// The same from a file; a file that cannot be read is named as such.
std::string loadNetFile(const std::string& path, network& out);

// The name that stands for the net built into the binary wherever a net is
// named ("EvalFile", datagen --net), and under which it is shown.
constexpr const char EMBEDDED_NET_NAME[] = "<embedded>";
// The net called `name`: the built-in one for EMBEDDED_NET_NAME, else the
// file; "" or the fault, as above. `imageSum`, when given, receives the
// FNV-1a hash of the whole image as it was read (what a data file records
// of the net that made it), so the bytes are read once.
std::string loadNetByName(const std::string& name, network& out, u32* imageSum = nullptr);

// What `view`'s squares are XORed with on `b` (kingFlip of its king).
int viewFlip(const network& net, const board& b, int view);
// Accumulator of one view, built from the pieces on the board.
void refreshView(const network& net, const board& b, int view, i16* out);
// The output layer of a position with `men` men on the board.
inline int bucketOf(const network& net, int men) { return outputBucket(men, net.buckets); }
// The output in centipawns, side to move's view, from the two views'
// accumulators (side to move's first) and the output layer `bucket`.
int outputCentipawns(const network& net, const i16* stmAcc, const i16* otherAcc, int bucket);
// The same for a net of width H (instantiated in net.cpp for each width).
template <int H>
int outputOf(const network& net, const i16* stmAcc, const i16* otherAcc, int bucket);
// The network's score of `b` in centipawns from the side to move's view,
// computed from the pieces alone (no accumulator kept).
int evaluateFromScratch(const network& net, const board& b);

}  // namespace nnue
