#pragma once
// The 24 favourite voices on F1..F12 (right hand) and Shift+F1..F12 (left
// hand), and their file (*.fvc: the 24 slots of 184 bytes, nothing else).
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace melo {

struct TFavoriteVoice {
  std::uint8_t BankMSB;
  std::uint8_t BankLSB;
  std::uint8_t Program;
  std::uint8_t Unused; // carried unchanged
  std::int32_t Extra;  // 100 in the default table; carried unchanged
  std::uint8_t Reserved[176];

  bool operator==(const TFavoriteVoice&) const = default;
};
static_assert(sizeof(TFavoriteVoice) == 184);
static_assert(offsetof(TFavoriteVoice, Extra) == 4);
static_assert(offsetof(TFavoriteVoice, Reserved) == 8);

inline constexpr std::size_t FavoriteVoiceCount = 24;
inline constexpr std::size_t FavoriteVoiceFileSize = FavoriteVoiceCount * sizeof(TFavoriteVoice);
static_assert(FavoriteVoiceFileSize == 4416);
inline constexpr std::string_view DefaultFavoriteVoicesFileName = "Default.fvc";

// Slot i (0..11) belongs to F(i+1), slot 12+i to Shift+F(i+1).
using TFavoriteVoiceTable = std::array<TFavoriteVoice, FavoriteVoiceCount>;

// The program's table: zero at start, then LoadDefaultFavoriteVoices. UI thread only.
extern TFavoriteVoiceTable FavoriteVoices;

// Sets bank 0/0, Extra 100 and the built-in programs in every slot; the other
// bytes keep what the table held.
void SetDefaultFavoriteVoices(TFavoriteVoiceTable& table);

// Defaults first, then the file's first bytes (at most 4416) over the table.
// True when the file was read; a missing file leaves the defaults.
bool LoadFavoriteVoices(const std::filesystem::path& fileName, TFavoriteVoiceTable& table);
// Writes the 4416 bytes, replacing the file; false (old file kept) on failure.
bool SaveFavoriteVoices(const std::filesystem::path& fileName, const TFavoriteVoiceTable& table);
// Fills FavoriteVoices from Default.fvc in the data folder.
void LoadDefaultFavoriteVoices();

// The slot's voice as a patch (bank MSB << 16 | bank LSB << 8 | program) and
// back; the drum-kit bit is not stored.
std::uint32_t FavoriteVoicePatch(const TFavoriteVoice& voice);
void SetFavoriteVoicePatch(TFavoriteVoice& voice, std::uint32_t patch);

// The file image of a table, little-endian, and its inverse.
void FavoriteVoicesToBytes(const TFavoriteVoiceTable& table,
                           std::span<std::uint8_t, FavoriteVoiceFileSize> bytes);
void FavoriteVoicesFromBytes(std::span<const std::uint8_t, FavoriteVoiceFileSize> bytes,
                             TFavoriteVoiceTable& table);

} // namespace melo
