#pragma once
// Net files made by the tests: any supported width, small random weights,
// a header and checksum the loader takes.

#include <vector>

#include "format/netfile.h"

namespace testnet {

using bytes = std::vector<unsigned char>;

inline void putU32(bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}
inline void putI16(bytes& b, std::size_t at, int v) {
  b[at] = std::uint16_t(v) & 0xFF;
  b[at + 1] = std::uint16_t(v) >> 8;
}

// `buckets` output layers: 1 writes a version-1 file, OUTPUT_BUCKETS a version 2;
// a `mirrored` net is a version 3.
inline bytes randomNet(int hidden, std::uint32_t activation, std::uint64_t seed, int buckets = 1, bool mirrored = false) {
  const std::size_t size = nnue::payloadSize(std::uint32_t(hidden), std::uint32_t(buckets));
  bytes payload(size);
  auto next = [&] {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return int(seed >> 33);
  };
  // Feature rows and biases within +-120, output weights within the limit.
  const std::size_t outputAt = 2 * (std::size_t(nnue::INPUTS) * hidden + hidden);
  const std::size_t biasAt = size - 4 * std::size_t(buckets);
  const int outLimit = nnue::outputWeightLimit(activation, hidden);
  for (std::size_t at = 0; at < outputAt; at += 2) putI16(payload, at, next() % 241 - 120);
  for (std::size_t at = outputAt; at < biasAt; at += 2) putI16(payload, at, next() % (2 * outLimit + 1) - outLimit);
  for (std::size_t at = biasAt; at < size; at += 4) putU32(payload, at, std::uint32_t(next() % 20001 - 10000));
  return nnue::netFileImage(hidden, nnue::activation(activation), payload, buckets, mirrored);
}

}  // namespace testnet
