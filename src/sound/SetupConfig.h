#pragma once
// The four stored settings (Melotastico4.cfg) and the four performance
// switches the settings dialog shows but never stores.
#include "platform/ProgramSettings.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace melo {

struct TSetupConfig {
  std::int32_t Latency;            // the port's write latency in ms
  std::uint8_t ReverbLevel;        // 0..4
  bool UseExternalDLS;             // external sound set instead of the built-in one
  std::string ExternalDLSFileName; // UTF-8; at most 250 bytes once stored

  bool operator==(const TSetupConfig&) const = default;
};

struct TSetupOptions {
  bool NotebookMode = false;
  bool LoopPlay = false;
  bool PeriodPedal = false;
  bool SmartSemitone = false;
  // Shown beside the switches; stored in the program's own settings file.
  TProgramSettings Program{};

  bool operator==(const TSetupOptions&) const = default;
};

inline constexpr std::string_view ConfigFileName = "Melotastico4.cfg";
inline constexpr std::size_t MaxExternalDLSFileNameBytes = 250;

extern const TSetupConfig DefaultConfig;
// The program's settings, loaded at start-up and replaced by a confirmed
// settings dialog. UI thread only.
extern TSetupConfig Config;

// Fills config from the configuration file in the data folder. A missing or
// damaged file gives DefaultConfig for every field; true when the file was
// read and used.
bool LoadConfig(TSetupConfig& config);
bool LoadConfigFrom(const std::filesystem::path& fileName, TSetupConfig& config);

// The file's fourth line holds the external set's name as GBK, byte for byte,
// when GBK holds every character of it (cut to 250 bytes on a character
// boundary). Another name (Hangul, Cyrillic, "Klänge") is stored as its file
// URI, "file://" and the name's UTF-8 with every byte but ASCII letters,
// digits and "-._~/" written %XX: plain ASCII, which an older reader takes for
// a relative name under a folder "file:" that does not exist, so it sees a
// missing set and plays the built-in one.
//
// Whether the file name survives a save and a load: the file is a list of
// lines, so a name holding CR or LF (legal in Linux names) cannot be stored,
// nor one whose file URI is longer than 250 bytes (cutting it could name
// another file).
bool ConfigFileNameStorable(std::string_view fileName);
// The name a save and a load give back (a long GBK name cut); one that cannot
// be stored comes back as it is.
std::string StoredFileNameRoundTrip(std::string_view fileName);

// Writes the configuration file (into the data folder), replacing it; false
// when it could not be written or ExternalDLSFileName is not storable, the
// old file then stays as it was.
bool SaveConfig(const TSetupConfig& config);
bool SaveConfigTo(const std::filesystem::path& fileName, const TSetupConfig& config);

// The engine's write period for a latency: fast latencies are split into two
// writes, medium into three, slow into four.
std::int32_t WritePeriodForLatency(std::int32_t latency);

} // namespace melo
