#include "format/netfile.h"

#include <cstring>

namespace nnue {

namespace {

std::string number(std::size_t n) { return std::to_string(n); }

// Little-endian, whatever the host.
std::uint32_t readU32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
void putU32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

std::string supportedWidthsText() {
  std::string text;
  for (int i = 0; i < WIDTH_COUNT; ++i)
    text += (i == 0 ? "" : i + 1 == WIDTH_COUNT ? " or " : ", ") + std::to_string(WIDTHS[i]);
  return text;
}

std::vector<unsigned char> netFileImage(int hidden, activation act, const std::vector<unsigned char>& payload,
                                        int buckets, bool mirrored) {
  std::vector<unsigned char> file(sizeof(fileHeader) + payload.size());
  unsigned char* h = file.data();
  std::memcpy(h, MAGIC, sizeof MAGIC);
  // The oldest version that holds the net, so that earlier engines read it.
  const std::uint32_t version = mirrored ? 3 : buckets == 1 ? 1 : 2;
  const std::uint32_t fields[10] = {version, INPUTS, std::uint32_t(hidden), act, QA, QB, SCALE,
                                    std::uint32_t(payload.size()), fnv1a(payload.data(), payload.size()),
                                    version == 1 ? 0u : std::uint32_t(buckets)};
  for (int i = 0; i < 10; ++i) putU32(h + 8 + 4 * i, fields[i]);
  if (!payload.empty()) std::memcpy(h + sizeof(fileHeader), payload.data(), payload.size());
  return file;
}

std::string readNetHeader(const unsigned char* bytes, std::size_t size, fileHeader& out) {
  constexpr std::size_t HEADER = sizeof(fileHeader);
  if (size < HEADER) return "truncated: " + number(size) + " bytes, the header alone has " + number(HEADER);
  if (std::memcmp(bytes, MAGIC, sizeof MAGIC) != 0) return "wrong magic: not a net file of this engine";
  std::memcpy(out.magic, MAGIC, sizeof MAGIC);
  // The fields after the magic, in the order of fileHeader.
  std::uint32_t field[10];
  for (int i = 0; i < 10; ++i) field[i] = readU32(bytes + 8 + 4 * i);
  out.version = field[0];
  out.inputs = field[1];
  out.hidden = field[2];
  out.activation = field[3];
  out.qa = field[4];
  out.qb = field[5];
  out.scale = field[6];
  out.payloadBytes = field[7];
  out.checksum = field[8];
  out.buckets = field[9];
  if (out.version < 1 || out.version > VERSION)
    return "version " + number(out.version) + ", this engine reads versions 1 to " + number(VERSION);
  if (out.inputs != std::uint32_t(INPUTS))
    return "sizes: " + number(out.inputs) + " inputs, this engine has " + number(INPUTS);
  if (!supportedWidth(out.hidden))
    return "sizes: hidden layer of " + number(out.hidden) + ", this engine runs " + supportedWidthsText();
  if (out.activation != CRELU && out.activation != SCRELU) return "unknown activation " + number(out.activation);
  if (out.qa != std::uint32_t(QA) || out.qb != std::uint32_t(QB) || out.scale != std::uint32_t(SCALE))
    return "quantisation " + number(out.qa) + "/" + number(out.qb) + "/" + number(out.scale) + ", this engine uses " +
           number(QA) + "/" + number(QB) + "/" + number(SCALE);
  if (out.version == 1 && out.buckets != 0) return "reserved header field is not zero";
  if (out.version == 2 && out.buckets != std::uint32_t(OUTPUT_BUCKETS))
    return number(out.buckets) + " output layers, this engine runs " + number(OUTPUT_BUCKETS);
  if (out.version == 3 && out.buckets != 1 && out.buckets != std::uint32_t(OUTPUT_BUCKETS))
    return number(out.buckets) + " output layers, this engine runs 1 or " + number(OUTPUT_BUCKETS);
  const std::size_t expected = payloadSize(out.hidden, std::uint32_t(outputLayers(out)));
  if (out.payloadBytes != expected)
    return "payload length " + number(out.payloadBytes) + " in the header, the sizes make " + number(expected);
  if (size - HEADER < expected) return "truncated: " + number(size - HEADER) + " of " + number(expected) + " payload bytes";
  if (size - HEADER > expected) return number(size - HEADER - expected) + " bytes after the payload";
  const std::uint32_t actual = fnv1a(bytes + HEADER, expected);
  if (actual != out.checksum)
    return "checksum mismatch: the header says " + number(out.checksum) + ", the payload hashes to " + number(actual);
  return "";
}

}  // namespace nnue
