#pragma once
// The default net, built into the binary from nets/default.nnue.

#include <cstddef>

namespace nnue {

struct embeddedBytes {
  const unsigned char* data;
  std::size_t size;
};
embeddedBytes embeddedNet();

}  // namespace nnue
