// Writes the placeholder net: small random weights from a fixed seed, in the
// net file format, so that the engine has a default net to embed before a
// trained one exists. Usage: dravlin-placeholder-net OUTPUT [HIDDEN]
// The same output on every machine and compiler: the generator is our own
// and every value is an integer.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "nnue/format.h"

namespace {

// splitmix64: tiny, and fully defined by its few lines.
struct randomSource {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [lo, hi].
  int between(int lo, int hi) { return lo + int(next() % std::uint64_t(hi - lo + 1)); }
};

void putI16(std::vector<unsigned char>& out, int v) {
  const auto u = std::uint16_t(std::int16_t(v));
  out.push_back(u & 0xFF);
  out.push_back(u >> 8);
}

void putU32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF;
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
  randomSource rng{0x44524156'4C494E31ull};  // fixed seed

  // Feature weights and biases at scale QA: about +-0.06 and 0 .. 0.25, so
  // that a neuron is often inside SCReLU's active range; output weights at
  // scale QB, about +-0.25, far inside what the integer sums can hold.
  std::vector<unsigned char> payload;
  payload.reserve(nnue::payloadSize(hidden));
  for (long i = 0; i < long(nnue::INPUTS) * hidden; ++i) putI16(payload, rng.between(-16, 16));
  for (int i = 0; i < hidden; ++i) putI16(payload, rng.between(0, 64));
  for (int i = 0; i < 2 * hidden; ++i) putI16(payload, rng.between(-16, 16));
  for (int i = 0; i < 4; ++i) payload.push_back(0);  // output bias 0
  if (payload.size() != nnue::payloadSize(hidden)) return 1;

  unsigned char header[sizeof(nnue::fileHeader)] = {};
  std::memcpy(header, nnue::MAGIC, sizeof nnue::MAGIC);
  const std::uint32_t fields[] = {nnue::VERSION,
                                  nnue::INPUTS,
                                  std::uint32_t(hidden),
                                  nnue::SCRELU,
                                  nnue::QA,
                                  nnue::QB,
                                  nnue::SCALE,
                                  std::uint32_t(payload.size()),
                                  nnue::fnv1a(payload.data(), payload.size()),
                                  0};
  for (int i = 0; i < 10; ++i) putU32(header + 8 + 4 * i, fields[i]);

  FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  const bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header &&
                  std::fwrite(payload.data(), 1, payload.size(), f) == payload.size();
  if (std::fclose(f) != 0 || !ok) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
