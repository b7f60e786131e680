#pragma once
// The network in the engine: the quantised weights, their loader and the
// integer forward pass. The trainer links this too, so its gap report runs
// the very arithmetic the search does.

#include <cstddef>
#include <string>

#include "board/types.h"
#include "nnue/format.h"

struct board;

namespace nnue {

// The width this engine is built for; a net of another width is refused.
constexpr int HIDDEN = 256;
static_assert(HIDDEN % 16 == 0);

// What the integer arithmetic can hold without overflow (checked by the
// loader, so every loaded net is safe):
// - an accumulator is the bias plus at most 32 rows: 33 terms in int16;
constexpr int FEATURE_WEIGHT_LIMIT = 32767 / 33;
// - SCReLU multiplies the clamped value (at most QA) by the output weight in
//   int16 first, and the 2 * HIDDEN products (at most QA * QA * limit) are
//   summed in int32; CReLU sums QA * limit products.
constexpr i64 INT32_TOP = 2147483647;
constexpr int SCRELU_OUTPUT_LIMIT =
    int(32767 / QA < INT32_TOP / (2 * i64(HIDDEN) * QA * QA) ? 32767 / QA : INT32_TOP / (2 * i64(HIDDEN) * QA * QA));
constexpr int CRELU_OUTPUT_LIMIT =
    int(32767 < INT32_TOP / (2 * i64(HIDDEN) * QA) ? 32767 : INT32_TOP / (2 * i64(HIDDEN) * QA));

// Network scores are kept well inside the search's non-mate range.
constexpr int SCORE_LIMIT = 20000;

struct network {
  alignas(64) i16 featureWeights[INPUTS * HIDDEN];  // row of feature f at f * HIDDEN
  alignas(64) i16 featureBias[HIDDEN];
  alignas(64) i16 outputWeights[2 * HIDDEN];  // side to move's half first
  i32 outputBias;                             // at scale QA * QB
  u32 activation;                             // CRELU or SCRELU
};

// Reads a net file image into `out`. Returns "" on success, else a short
// text naming the fault ("wrong magic", "truncated: ...", "checksum ...");
// `out` is then unspecified. Never reads past `size` bytes.
std::string loadNet(const void* data, std::size_t size, network& out);
// The same from a file; a file that cannot be read is named as such.
std::string loadNetFile(const std::string& path, network& out);

// Accumulator of one view, built from the pieces on the board.
void refreshView(const network& net, const board& b, int view, i16* out);
// The output in centipawns, side to move's view, from the two views'
// accumulators (side to move's first).
int outputCentipawns(const network& net, const i16* stmAcc, const i16* otherAcc);
// The network's score of `b` in centipawns from the side to move's view,
// computed from the pieces alone (no accumulator kept).
int evaluateFromScratch(const network& net, const board& b);

}  // namespace nnue
