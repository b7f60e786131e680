// Writes the placeholder net: small random weights from a fixed seed, in the
// net file format, so that the engine has a default net to embed before a
// trained one exists. Usage: dravlin-placeholder-net OUTPUT [HIDDEN]
// The same output on every machine and compiler: the generator is our own
// and every value is an integer.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "board/random.h"
#include "format/netfile.h"

namespace {

// Uniform in [lo, hi].
int between(splitMix& rng, int lo, int hi) { return lo + int(rng.next() % std::uint64_t(hi - lo + 1)); }

void putI16(std::vector<unsigned char>& out, int v) {
  const auto u = std::uint16_t(std::int16_t(v));
  out.push_back(u & 0xFF);
  out.push_back(u >> 8);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT [HIDDEN]\n", argv[0]);
    return 2;
  }
  const int hidden = argc > 2 ? std::atoi(argv[2]) : 256;
  if (hidden <= 0 || hidden % 16 != 0) {
    std::fprintf(stderr, "the hidden width must be a positive multiple of 16\n");
    return 2;
  }
  splitMix rng{0x44524156'4C494E31ull};  // fixed seed

  // Feature weights and biases at scale QA: about +-0.06 and 0 .. 0.25, so
  // that a neuron is often inside SCReLU's active range; output weights at
  // scale QB, about +-0.25, far inside what the integer sums can hold.
  std::vector<unsigned char> payload;
  payload.reserve(nnue::payloadSize(hidden));
  for (long i = 0; i < long(nnue::INPUTS) * hidden; ++i) putI16(payload, between(rng, -16, 16));
  for (int i = 0; i < hidden; ++i) putI16(payload, between(rng, 0, 64));
  for (int i = 0; i < 2 * hidden; ++i) putI16(payload, between(rng, -16, 16));
  for (int i = 0; i < 4; ++i) payload.push_back(0);  // output bias 0
  if (payload.size() != nnue::payloadSize(hidden)) return 1;

  const std::vector<unsigned char> file = nnue::netFileImage(hidden, nnue::SCRELU, payload);

  FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  if (std::fclose(f) != 0 || !ok) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
