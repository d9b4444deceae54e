#include "platform/GbkText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace melo {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

class Converter {
public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok())
      iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as possible; returns false when it stopped at a bad or
  // incomplete sequence (in is left pointing at it).
  bool run(const char*& in, std::size_t& inLeft, std::string& out) {
    char buf[256];
    while (inLeft > 0) {
      char* dst = buf;
      std::size_t dstLeft = sizeof buf;
      char* src = const_cast<char*>(in);
      std::size_t r = iconv(cd_, &src, &inLeft, &dst, &dstLeft);
      out.append(buf, static_cast<std::size_t>(dst - buf));
      in = src;
      if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        return false;
      }
    }
    return true;
  }

private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence starting with lead, 1 for a stray byte.
std::size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8)
    return 4;
  if (lead >= 0xE0)
    return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0)
    return 2;
  return 1;
}

// Byte count of the longest prefix of gbk that ends on a character boundary
// and fits in maxBytes.
std::size_t GbkCut(std::string_view gbk, std::size_t maxBytes) {
  std::size_t i = 0;
  while (i < gbk.size()) {
    std::size_t len = static_cast<unsigned char>(gbk[i]) >= 0x81 ? 2 : 1;
    if (i + len > maxBytes || i + len > gbk.size())
      break;
    i += len;
  }
  return i;
}

} // namespace

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  Converter conv("UTF-8", "GBK");
  if (!conv.ok()) {
    for (unsigned char c : gbk)
      out += c < 0x80 ? std::string(1, static_cast<char>(c)) : std::string(kReplacement);
    return out;
  }
  const char* in = gbk.data();
  std::size_t left = gbk.size();
  while (!conv.run(in, left, out)) {
    out += kReplacement;
    ++in;
    --left;
  }
  return out;
}

std::string Utf8ToGbk(std::string_view utf8, std::size_t maxBytes) {
  std::string out;
  Converter conv("GBK", "UTF-8");
  const char* in = utf8.data();
  std::size_t left = utf8.size();
  if (!conv.ok()) {
    for (unsigned char c : utf8)
      out += c < 0x80 ? static_cast<char>(c) : '?';
  } else {
    while (!conv.run(in, left, out)) {
      out += '?';
      std::size_t skip = std::min(left, Utf8Length(static_cast<unsigned char>(*in)));
      in += skip;
      left -= skip;
    }
  }
  out.resize(GbkCut(out, maxBytes));
  return out;
}

std::string ReadShortString(const std::uint8_t* field, std::size_t capacity) {
  std::size_t len = std::min<std::size_t>(field[0], capacity);
  return std::string(reinterpret_cast<const char*>(field + 1), len);
}

void WriteShortString(std::uint8_t* field, std::size_t capacity, std::string_view bytes) {
  std::size_t len = std::min({bytes.size(), capacity, std::size_t{255}});
  field[0] = static_cast<std::uint8_t>(len);
  std::memcpy(field + 1, bytes.data(), len);
  std::memset(field + 1 + len, 0, capacity - len);
}

} // namespace melo
