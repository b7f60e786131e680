// The default net's bytes, taken into the object file as they stand by the
// assembler, so the engine needs no file at run time. CMake names the file
// and rebuilds this object when it changes.

#include "nnue/embedded.h"

#ifndef DRAVLIN_DEFAULT_NET
#error "DRAVLIN_DEFAULT_NET must name the default net file"
#endif

// Read-only data, aligned for the copy into the net; the symbols stay
// inside the program.
asm(".section .rodata\n"
    ".balign 64\n"
    ".globl dravlinDefaultNet\n"
    ".hidden dravlinDefaultNet\n"
    "dravlinDefaultNet:\n"
    ".incbin \"" DRAVLIN_DEFAULT_NET "\"\n"
    ".globl dravlinDefaultNetEnd\n"
    ".hidden dravlinDefaultNetEnd\n"
    "dravlinDefaultNetEnd:\n"
    ".byte 0\n"
    ".previous\n");

extern "C" const unsigned char dravlinDefaultNet[];
extern "C" const unsigned char dravlinDefaultNetEnd[];

namespace nnue {

embeddedBytes embeddedNet() {
  return {dravlinDefaultNet, std::size_t(dravlinDefaultNetEnd - dravlinDefaultNet)};
}

}  // namespace nnue
