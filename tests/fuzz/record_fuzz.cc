// libFuzzer target for the training data reader: any bytes, read as a data
// file and as single records, must neither crash nor hand out a record the
// engine cannot set up. Built and run by tests/fuzz/fuzz_reader.sh (clang).

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "format/record.h"
#include "movegen/setup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (initAttackTables(), initKeys(), true);
  (void)ready;
  static auto b = std::make_unique<board>();
  std::FILE* f = size ? fmemopen(const_cast<std::uint8_t*>(data), size, "rb") : std::fopen("/dev/null", "rb");
  dataReader reader;
  if (reader.open(f, "fuzz")) {
    std::vector<dataRecord> game;
    while (reader.nextGame(game))
      for (const dataRecord& r : game) {
        recordFilters(r);
        if (!setFromFen(recordFen(r), *b, recordIsChess960(r))) __builtin_trap();
      }
  }
  for (std::size_t at = 0; at + RECORD_BYTES <= size; at += RECORD_BYTES) {
    dataRecord r;
    if (decodeRecord(data + at, r) && setFromFen(recordFen(r), *b, recordIsChess960(r))) {
      recordFilters(r);
      fromRecordMove(r.move, *b);
    }
  }
  return 0;
}
