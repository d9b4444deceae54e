#include "app/SongJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace melo {
namespace {

QString Text(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

QJsonValue KeyName(std::int32_t scanCode) {
  const int index = KeyIndexOfScanCode(scanCode);
  if (index < 0)
    return QJsonValue::Null;
  return QString::fromLatin1(
      KeyNames[static_cast<std::size_t>(index)].data(),
      static_cast<qsizetype>(KeyNames[static_cast<std::size_t>(index)].size()));
}

} // namespace

std::string_view SongEventKindName(std::uint8_t kind) {
  switch (kind) {
  case sekKeyDown:
    return "keyDown";
  case sekKeyUp:
    return "keyUp";
  case sekRightOctave:
    return "rightOctave";
  case sekLeftOctave:
    return "leftOctave";
  case sekTranspose:
    return "transpose";
  case sekRightVoice:
    return "rightVoice";
  case sekLeftVoice:
    return "leftVoice";
  case sekRightVelocity:
    return "rightVelocity";
  case sekLeftVelocity:
    return "leftVelocity";
  case sekRightSustain:
    return "rightSustain";
  case sekLeftSustain:
    return "leftSustain";
  case sekKeyDefs:
    return "keyDefs";
  case sekSmartSemitone:
    return "smartSemitone";
  case sekRawMidi:
    return "rawMidi";
  case sekEnd:
    return "end";
  default:
    return "unknown";
  }
}

QByteArray SongToJson(const TSongHeader& header, const TSimpleBuffer& events,
                      std::size_t ignoredBytes) {
  const TSongState& s = header.State;
  QJsonObject state{{"transpose", s.Transpose},
                    {"rightVelocity", s.RightVelocity},
                    {"leftVelocity", s.LeftVelocity},
                    {"rightOctave", s.RightOctave},
                    {"leftOctave", s.LeftOctave},
                    {"rightPatch", static_cast<qint64>(static_cast<std::uint32_t>(s.RightPatch))},
                    {"leftPatch", static_cast<qint64>(static_cast<std::uint32_t>(s.LeftPatch))},
                    {"smartSemitone", s.SmartSemitone != 0},
                    {"keyDefsRemark", Text(TableRemarks(s.KeyDefs))}};

  QJsonArray list;
  std::uint32_t length = 0;
  for (std::size_t i = 0; i < events.Count(); ++i) {
    const TSongEvent& e = events[i];
    // Copies: the record is packed, so its fields cannot be bound by reference.
    const std::int32_t data = e.Data;
    const std::uint32_t time = e.Time;
    const std::string_view kind = SongEventKindName(e.Kind);
    QJsonObject event{
        {"time", static_cast<qint64>(time)},
        {"kind", QString::fromLatin1(kind.data(), static_cast<qsizetype>(kind.size()))},
        {"data", data}};
    if (e.Skip != 0) {
      event.insert("skip", true);
    } else {
      length = std::max(length, time);
    }
    if (kind == "unknown")
      event.insert("code", e.Kind);
    if (e.Kind == sekKeyDown || e.Kind == sekKeyUp)
      event.insert("key", KeyName(data));
    if (e.Kind == sekRawMidi)
      event.insert("midi", QJsonArray{(data >> 16) & 0xFF, (data >> 8) & 0xFF, data & 0xFF});
    if (const TKeyDefTable* table = events.KeyDefs(i))
      event.insert("keyDefsRemark", Text(TableRemarks(*table)));
    list.append(event);
  }

  const QJsonObject song{{"version", header.Version},
                         {"title", Text(SongTitle(header.Info))},
                         {"player", Text(SongPlayer(header.Info))},
                         {"remark", Text(SongRemark(header.Info))},
                         {"state", state},
                         {"length", static_cast<qint64>(length)},
                         {"eventCount", static_cast<qint64>(events.Count())},
                         {"ignored_bytes", static_cast<qint64>(ignoredBytes)},
                         {"events", list}};
  return QJsonDocument(song).toJson(QJsonDocument::Indented);
}

} // namespace melo
