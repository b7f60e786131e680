#pragma once
// What the trainer and the engine must agree on: the input features, the
// quantisation and the net file's layout, with the file header's one writer
// and one reader. Both include this one header, so a net is always run the
// way it was trained.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nnue {

// 768 inputs for each point of view: the piece's colour relative to the view
// (own first), its type (pawn .. king) and its square, ranks mirrored for
// Black's view. A position and its colour-flipped twin thus give the same
// inputs, and the side to move's half always comes first at the output.
constexpr int INPUTS = 768;

// `type` is 0 (pawn) .. 5 (king), `colour` and `view` are 0 (White) or 1 (Black).
// `flip` is what the view's squares are XORed with: 0, or FILES_FLIPPED in a
// mirrored net when the view's own king stands on files e-h.
constexpr int featureIndex(int view, int colour, int type, int square, int flip = 0) {
  return (colour == view ? 0 : 384) + type * 64 + ((view == 0 ? square : square ^ 56) ^ flip);
}
// The one decoder of a piece: the engine's piece code (2 white pawn, 3 black
// pawn, ... 13 black king: colour in bit 0, type + 1 above it), as the
// accumulators, the loader and the trainer's samples all keep it.
constexpr int pieceFeature(int view, int pieceCode, int square, int flip = 0) {
  return featureIndex(view, pieceCode & 1, (pieceCode >> 1) - 1, square, flip);
}

// Horizontal mirroring (a version-3 net): each view sees the board flipped
// left to right while its own king stands on files e-h, so the net learns one
// king side and the other comes for free. A view's inputs are then built
// afresh when its king crosses between the d and e files.
constexpr int FILES_FLIPPED = 7;
constexpr int kingFlip(bool mirrored, int kingSquare) { return mirrored && (kingSquare & 7) >= 4 ? FILES_FLIPPED : 0; }

// Quantisation: accumulator weights and biases at scale QA, output weights at
// QB; the output is turned into centipawns by SCALE: the net's output unit is
// 400 centipawns (the trainer's loss scale K is separate, fitted to the data).
constexpr int QA = 255;
constexpr int QB = 64;
constexpr int SCALE = 400;

enum activation : std::uint32_t { CRELU = 0, SCRELU = 1 };

// The hidden widths the engine runs, each with its own fixed-length loops:
// the one list, from which the rest is derived.
constexpr int WIDTHS[] = {32, 64, 128, 256, 512};
constexpr int WIDTH_COUNT = int(sizeof WIDTHS / sizeof WIDTHS[0]);
constexpr int MAX_HIDDEN = [] {
  int most = 0;
  for (int w : WIDTHS) most = w > most ? w : most;
  return most;
}();
constexpr bool supportedWidth(long long hidden) {
  for (int w : WIDTHS)
    if (hidden == w) return true;
  return false;
}
// "32, 64, 128, 256 or 512".
std::string supportedWidthsText();

// What the integer arithmetic can hold without overflow (the loader checks
// it, so every loaded net is safe; the trainer clips to it):
// - an accumulator is the bias plus at most 32 rows: 33 terms in int16;
constexpr int FEATURE_WEIGHT_LIMIT = 32767 / 33;
// - SCReLU multiplies the clamped value (at most QA) by the output weight in
//   int16 first, and the 2 * hidden products (at most QA * QA * limit) are
//   summed in int32; CReLU sums QA * limit products.
constexpr int outputWeightLimit(std::uint32_t act, int hidden) {
  const long long top = 2147483647LL;
  const long long bySum = act == SCRELU ? top / (2LL * hidden * QA * QA) : top / (2LL * hidden * QA);
  const long long byProduct = act == SCRELU ? 32767 / QA : 32767;
  return int(bySum < byProduct ? bySum : byProduct);
}

// Output buckets: one output layer for each band of the men on the board
// (2-5, 6-9, ... 30-32), so that the net weighs its features by the phase.
constexpr int OUTPUT_BUCKETS = 8;
// The output layer a position of `men` men uses, in a net of `buckets` layers.
constexpr int outputBucket(int men, int buckets) {
  const int b = (men - 2) / 4;
  return buckets == 1 || b < 0 ? 0 : b < buckets ? b : buckets - 1;
}

// The file: this header, then the payload, all little-endian:
//   i16 featureWeights[INPUTS][hidden]   (row of feature f at f * hidden)
//   i16 featureBias[hidden]
//   i16 outputWeights[buckets][2 * hidden]  (each bucket's side to move's half first)
//   i32 outputBias[buckets]              (at scale QA * QB)
// `checksum` is the FNV-1a hash (32 bits) of the payload bytes. Version 1
// has one output layer (its last header field zero); version 2 names its
// number of output layers there (OUTPUT_BUCKETS); version 3 is a mirrored
// net (kingFlip), with 1 or OUTPUT_BUCKETS output layers named there.
constexpr char MAGIC[8] = {'D', 'R', 'V', 'N', 'N', 'U', 'E', '1'};
constexpr std::uint32_t VERSION = 3;  // the newest this program reads and writes

struct fileHeader {
  char magic[8];
  std::uint32_t version;
  std::uint32_t inputs;      // INPUTS
  std::uint32_t hidden;      // width of the hidden layer, a multiple of 16
  std::uint32_t activation;  // CRELU or SCRELU
  std::uint32_t qa, qb, scale;
  std::uint32_t payloadBytes;
  std::uint32_t checksum;
  std::uint32_t buckets;     // version 1: zero (one output layer); 2: OUTPUT_BUCKETS; 3: either
};
static_assert(sizeof(fileHeader) == 48);

constexpr std::size_t payloadSize(std::uint32_t hidden, std::uint32_t buckets = 1) {
  return 2 * (std::size_t(INPUTS) * hidden + hidden + 2 * std::size_t(hidden) * buckets) + 4 * std::size_t(buckets);
}
// The longest file this program reads.
constexpr std::size_t MAX_NET_FILE_BYTES = 48 + payloadSize(MAX_HIDDEN, OUTPUT_BUCKETS);

inline std::uint32_t fnv1a(const unsigned char* data, std::size_t n) {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ data[i]) * 16777619u;
  return h;
}

// The writer: the whole file, the header of a net of `hidden`, `act` and
// `buckets` output layers with its checksum, then `payload` (laid out as
// above). The oldest version that holds the net is written: 1 for one output
// layer, 2 for buckets, 3 for a mirrored net.
std::vector<unsigned char> netFileImage(int hidden, activation act, const std::vector<unsigned char>& payload,
                                        int buckets = 1, bool mirrored = false);
// The number of output layers the header describes (1 or OUTPUT_BUCKETS).
inline int outputLayers(const fileHeader& h) { return h.version == 1 ? 1 : int(h.buckets); }
// Whether the net's inputs are mirrored by its kings (kingFlip).
inline bool mirroredInputs(const fileHeader& h) { return h.version == 3; }
// The reader: checks the header of an image of `size` bytes against this
// program's sizes and the payload's length and checksum. "" with `out`
// filled, or a short text naming the fault.
std::string readNetHeader(const unsigned char* bytes, std::size_t size, fileHeader& out);

}  // namespace nnue
