// Arbitrary reply text through ReadReplyValue, and arbitrary value digits
// through DecodeValue, into destinations of various capacities.
//
// Input layout:
//   byte 0      the destination's capacity, from a fixed list (0 up to
//               more than the longest string a record can announce)
//   byte 1      bit 7 clear: ReadReplyValue; the low bits pick the object
//               identifier asked for, and the rest of the input is the
//               reply text.
//               bit 7 set: DecodeValue; bytes 2-3 are the type/length word
//               (big-endian) and the rest of the input is the value digits.
//
// The text ends at the first zero of the input or at its end; it is copied
// into a heap block of exactly its size (terminator included) and the
// destination into one of exactly its capacity, so a read past the text or
// a write past the destination is caught. A call that reports failure must
// leave the destination as it was.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "pjl/pjl_internal.h"

namespace {

constexpr std::size_t kCapacities[] = {0, 1, 2, 3, 4, 5, 8, 16, 255, 1024, 1100};
constexpr const char* kObjectIds[] = {
    "050103030104", "05010303010b", "070104010303010d", "07020f0101070101", "0501", "",
};
constexpr unsigned char kSentinel = 0x5A;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::size_t capacity = kCapacities[data[0] % (sizeof kCapacities / sizeof *kCapacities)];
  const bool decodeOnly = (data[1] & 0x80) != 0;
  const std::size_t skip = decodeOnly ? 4 : 2;

  const auto* text = reinterpret_cast<const char*>(data + skip);
  const std::size_t available = size - skip;
  const void* zero = std::memchr(text, 0, available);
  const std::size_t textLength =
      zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : available;
  char* copy = new char[textLength + 1];
  std::memcpy(copy, text, textLength);
  copy[textLength] = '\0';

  auto* destination = new unsigned char[capacity];
  std::memset(destination, kSentinel, capacity);

  BOOL result;
  if (decodeOnly) {
    const WORD word = static_cast<WORD>((data[2] << 8) | data[3]);
    result = langmon::DecodeValue(copy, static_cast<WORD>(word >> 10),
                                  static_cast<WORD>(word & 0x3FF), destination, capacity);
  } else {
    const char* objectId = kObjectIds[data[1] % (sizeof kObjectIds / sizeof *kObjectIds)];
    result = langmon::ReadReplyValue(copy, objectId, destination, capacity);
  }
  if (!result) {
    for (std::size_t i = 0; i < capacity; ++i)
      if (destination[i] != kSentinel) std::abort();
  }
  delete[] destination;
  delete[] copy;
  return 0;
}
