#include "sound/FavoriteVoices.h"

#include "platform/DataFolder.h"
#include "platform/FileBytes.h"
#include "platform/GlobalState.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace melo {

TFavoriteVoiceTable FavoriteVoices{};

namespace {

// Put back after each test (platform/GlobalState.h).
[[maybe_unused]] const bool StateRegistered = RegisterGlobalVariables(FavoriteVoices);

} // namespace

namespace {

constexpr std::array<std::uint8_t, 12> DefaultPrograms{0, 3, 18, 40, 8, 12, 9, 24, 28, 26, 49, 50};
constexpr std::int32_t DefaultExtra = 100;

void PutInt32(std::uint8_t* p, std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int32_t GetInt32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= std::uint32_t{p[i]} << (8 * i);
  return static_cast<std::int32_t>(v);
}

} // namespace

void SetDefaultFavoriteVoices(TFavoriteVoiceTable& table) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    table[i].BankMSB = 0;
    table[i].BankLSB = 0;
    table[i].Program = DefaultPrograms[i % DefaultPrograms.size()];
    table[i].Extra = DefaultExtra;
  }
}

void FavoriteVoicesToBytes(const TFavoriteVoiceTable& table,
                           std::span<std::uint8_t, FavoriteVoiceFileSize> bytes) {
  std::uint8_t* p = bytes.data();
  for (const TFavoriteVoice& v : table) {
    p[0] = v.BankMSB;
    p[1] = v.BankLSB;
    p[2] = v.Program;
    p[3] = v.Unused;
    PutInt32(p + 4, v.Extra);
    std::memcpy(p + 8, v.Reserved, sizeof v.Reserved);
    p += sizeof(TFavoriteVoice);
  }
}

void FavoriteVoicesFromBytes(std::span<const std::uint8_t, FavoriteVoiceFileSize> bytes,
                             TFavoriteVoiceTable& table) {
  const std::uint8_t* p = bytes.data();
  for (TFavoriteVoice& v : table) {
    v.BankMSB = p[0];
    v.BankLSB = p[1];
    v.Program = p[2];
    v.Unused = p[3];
    v.Extra = GetInt32(p + 4);
    std::memcpy(v.Reserved, p + 8, sizeof v.Reserved);
    p += sizeof(TFavoriteVoice);
  }
}

bool LoadFavoriteVoices(const std::filesystem::path& fileName, TFavoriteVoiceTable& table) {
  SetDefaultFavoriteVoices(table);
  std::vector<std::uint8_t> head;
  if (!ReadFileHead(fileName, head, FavoriteVoiceFileSize))
    return false;
  // A short file replaces only the leading bytes of the defaults.
  std::array<std::uint8_t, FavoriteVoiceFileSize> image;
  FavoriteVoicesToBytes(table, image);
  std::copy(head.begin(), head.end(), image.begin());
  FavoriteVoicesFromBytes(image, table);
  return true;
}

bool SaveFavoriteVoices(const std::filesystem::path& fileName, const TFavoriteVoiceTable& table) {
  std::array<std::uint8_t, FavoriteVoiceFileSize> image;
  FavoriteVoicesToBytes(table, image);
  return WriteFileReplacing(fileName, image);
}

void LoadDefaultFavoriteVoices() {
  LoadFavoriteVoices(DataFileForReading(DefaultFavoriteVoicesFileName), FavoriteVoices);
}

std::uint32_t FavoriteVoicePatch(const TFavoriteVoice& voice) {
  return std::uint32_t{voice.Program} | std::uint32_t{voice.BankLSB} << 8 |
         std::uint32_t{voice.BankMSB} << 16;
}

void SetFavoriteVoicePatch(TFavoriteVoice& voice, std::uint32_t patch) {
  voice.Program = static_cast<std::uint8_t>(patch);
  voice.BankLSB = static_cast<std::uint8_t>(patch >> 8);
  voice.BankMSB = static_cast<std::uint8_t>(patch >> 16);
}

} // namespace melo
