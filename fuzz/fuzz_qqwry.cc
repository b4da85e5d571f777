// libFuzzer target: arbitrary bytes as a QQWry.dat file. Every lookup must stay inside
// the bytes (AddressSanitizer), terminate, and give a record ID within 1..N or 0.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ipdb/gbk.h"
#include "ipdb/ip2local.h"
#include "ipdb/qqwry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const ostrel::TQQWry reader = ostrel::TQQWry::FromBytes(bytes);
  const uint32_t n = reader.GetIPRecordNum();
  if (n > size / 7 + 1 || reader.GetQQWryFileSize() > size) __builtin_trap();

  for (const uint32_t id : {0u, 1u, 2u, n / 2, n - 1, n, n + 1, 0xFFFFFFFFu}) {
    (void)reader.GetIPMsg(id);
  }
  // Addresses and offsets taken from the input reach the records it describes.
  std::string address = "0.0.0.0";
  for (size_t at = 0; at + 4 <= size && at < 64; at += 4) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | data[at + i];
    (void)reader.GetIPLocation(value & 0xFFFFFF);
    address = std::to_string(value >> 24) + "." + std::to_string(value >> 16 & 255) + "." +
              std::to_string(value >> 8 & 255) + "." + std::to_string(value & 255);
    const auto id = reader.GetIPRecordID(address);
    if (!id || *id > n) __builtin_trap();
    (void)ostrel::IP2Local(reader, address);
  }
  for (const char* fixed : {"0.0.0.0", "255.255.255.255", "127.0.0.1"}) {
    (void)ostrel::IP2Local(reader, fixed);
  }
  (void)reader.GetQQWryDate();

  // The same bytes as address text and as text to convert.
  const std::string_view head = bytes.substr(0, 256);
  (void)ostrel::TQQWry::GetIPValue(head);
  const std::string utf8 = ostrel::GbkToUtf8(head);
  if (!ostrel::IsValidUtf8(utf8)) __builtin_trap();
  (void)ostrel::Utf8ToGbk(head);
  return 0;
}
