#pragma once
// A song as JSON, for scripts and for looking into a file: its version,
// texts, start state and every event with its kind's name.
#include "app/SimpleRecorder.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace melo {

// "keyDown", "rawMidi", ... for the kinds a song holds; "unknown" otherwise.
std::string_view SongEventKindName(std::uint8_t kind);

// Indented JSON of the song the recorder holds; ignoredBytes is what the file
// held after its counted events ("ignored_bytes", 0 for an undamaged file).
QByteArray SongToJson(const TSongHeader& header, const TSimpleBuffer& events,
                      std::size_t ignoredBytes = 0);

} // namespace melo
