#pragma once
// Text in the program's files is GBK; in memory it is UTF-8. Every file format
// converts at its boundary through these functions.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace melo {

// Malformed or truncated byte sequences decode to U+FFFD; never fails.
std::string GbkToUtf8(std::string_view gbk);

// Characters GBK cannot hold become '?'. The result is cut to at most maxBytes
// without splitting a double-byte character.
std::string Utf8ToGbk(std::string_view utf8,
                      std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// Length-prefixed ("short string") fields: byte 0 is the length, then up to
// capacity bytes. Reading clamps a length byte larger than the capacity.
std::string ReadShortString(const std::uint8_t* field, std::size_t capacity);
// Writes the length byte and the bytes (cut to capacity), zero-filling the rest.
void WriteShortString(std::uint8_t* field, std::size_t capacity, std::string_view bytes);

} // namespace melo
