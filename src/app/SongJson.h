#pragma once
// A song as JSON, for scripts and for looking into a file: its version,
// texts, start state and every event with its kind's name.
#include "app/SimpleRecorder.h"

#include <QByteArray>

#include <cstdint>
#include <string_view>

namespace melo {

// "keyDown", "rawMidi", ... for the kinds a song holds; "unknown" otherwise.
std::string_view SongEventKindName(std::uint8_t kind);

// Indented JSON of the song the recorder holds.
QByteArray SongToJson(const TSongHeader& header, const TSimpleBuffer& events);

} // namespace melo
