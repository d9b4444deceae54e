#include "sound/SetupConfig.h"

#include "platform/DataFolder.h"
#include "platform/FileBytes.h"
#include "platform/GbkText.h"
#include "platform/GlobalState.h"

#include <cctype>
#include <charconv>
#include <optional>
#include <vector>

namespace melo {

const TSetupConfig DefaultConfig{40, 3, false, {}};
TSetupConfig Config = DefaultConfig;

namespace {

// Put back after each test (platform/GlobalState.h).
[[maybe_unused]] const bool StateRegistered = RegisterGlobalVariables(Config);

} // namespace

namespace {

// Far beyond four short lines; anything larger is not a configuration file.
constexpr std::size_t MaxConfigFileBytes = 64 * 1024;
// Splits at CR LF, LF or a lone CR; a final line break ends the last line
// without adding an empty one.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n')
      continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  if (start < text.size())
    lines.emplace_back(text.substr(start));
  return lines;
}

// Decimal integer with optional sign and surrounding blanks.
std::optional<std::int32_t> ParseInteger(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  if (s.size() > 1 && s.front() == '+' && s[1] != '-')
    s.remove_prefix(1);
  std::int32_t value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size())
    return std::nullopt;
  return value;
}

constexpr std::string_view FileUriPrefix = "file://";

bool GbkHolds(std::string_view utf8) {
  return GbkToUtf8(Utf8ToGbk(utf8)) == utf8;
}

// A name GBK cannot hold is stored as a file URI: ASCII, every byte but
// letters, digits, "-._~/" as %XX of its UTF-8.
std::string FileUri(std::string_view utf8) {
  constexpr std::string_view plain = "-._~/";
  constexpr char hex[] = "0123456789ABCDEF";
  std::string uri(FileUriPrefix);
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 && byte < 0x80) {
      uri += c;
    } else if (plain.find(c) != std::string_view::npos) {
      uri += c;
    } else {
      uri += '%';
      uri += hex[byte >> 4];
      uri += hex[byte & 0xF];
    }
  }
  return uri;
}

// The name a file URI stands for, or nothing when the line is none (or its
// escapes are broken).
std::optional<std::string> FromFileUri(std::string_view line) {
  if (!line.starts_with(FileUriPrefix))
    return std::nullopt;
  line.remove_prefix(FileUriPrefix.size());
  std::string name;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '%') {
      name += line[i];
      continue;
    }
    unsigned value = 0;
    const char* digits = line.data() + i + 1;
    if (line.size() - i < 3 || std::from_chars(digits, digits + 2, value, 16).ptr != digits + 2)
      return std::nullopt;
    // No name holds these: a NUL would end it early, naming another file.
    if (value == 0 || value == '\r' || value == '\n')
      return std::nullopt;
    name += static_cast<char>(value);
    i += 2;
  }
  return name;
}

// The name as line 4 holds it: GBK when GBK holds it (cut to the field's
// size), else its file URI.
std::string StoredFileName(std::string_view utf8) {
  return GbkHolds(utf8) ? Utf8ToGbk(utf8, MaxExternalDLSFileNameBytes) : FileUri(utf8);
}

std::string FileNameFromStored(std::string_view line) {
  if (auto name = FromFileUri(line))
    return *std::move(name);
  // Cut on a character boundary so the name stays storable as it is.
  return GbkToUtf8(Utf8ToGbk(GbkToUtf8(line), MaxExternalDLSFileNameBytes));
}

std::optional<TSetupConfig> ParseConfig(std::string_view text) {
  std::vector<std::string> lines = SplitLines(text);
  if (lines.size() < 4)
    return std::nullopt;
  auto latency = ParseInteger(lines[0]);
  auto reverb = ParseInteger(lines[1]);
  auto external = ParseInteger(lines[2]);
  if (!latency || !reverb || !external)
    return std::nullopt;
  return TSetupConfig{*latency, static_cast<std::uint8_t>(*reverb & 0xFF), (*external & 0xFF) != 0,
                      FileNameFromStored(lines[3])};
}

std::string FormatConfig(const TSetupConfig& config) {
  std::string text;
  text += std::to_string(config.Latency) + "\r\n";
  text += std::to_string(config.ReverbLevel) + "\r\n";
  text += std::string(config.UseExternalDLS ? "1" : "0") + "\r\n";
  text += StoredFileName(config.ExternalDLSFileName) + "\r\n";
  return text;
}

} // namespace

bool LoadConfigFrom(const std::filesystem::path& fileName, TSetupConfig& config) {
  config = DefaultConfig;
  std::vector<std::uint8_t> bytes;
  if (!ReadFileBytes(fileName, bytes, MaxConfigFileBytes))
    return false;
  auto loaded = ParseConfig({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  if (!loaded)
    return false;
  config = std::move(*loaded);
  return true;
}

bool LoadConfig(TSetupConfig& config) {
  return LoadConfigFrom(DataFileForReading(ConfigFileName), config);
}

std::string StoredFileNameRoundTrip(std::string_view fileName) {
  return ConfigFileNameStorable(fileName) ? FileNameFromStored(StoredFileName(fileName))
                                          : std::string(fileName);
}

bool ConfigFileNameStorable(std::string_view fileName) {
  return fileName.find_first_of("\r\n") == std::string_view::npos &&
         StoredFileName(fileName).size() <= MaxExternalDLSFileNameBytes;
}

bool SaveConfigTo(const std::filesystem::path& fileName, const TSetupConfig& config) {
  if (!ConfigFileNameStorable(config.ExternalDLSFileName))
    return false;
  std::string text = FormatConfig(config);
  return WriteFileReplacing(fileName,
                            {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

bool SaveConfig(const TSetupConfig& config) {
  std::filesystem::path fileName = DataFileForWriting(ConfigFileName);
  return !fileName.empty() && SaveConfigTo(fileName, config);
}

std::int32_t WritePeriodForLatency(std::int32_t latency) {
  if (latency < 30)
    return latency / 2;
  if (latency < 50)
    return latency / 3;
  return latency / 4;
}

} // namespace melo
