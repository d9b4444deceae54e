#include "app/SongJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace melo {
namespace {

TEST(SongJson, EveryKindHasItsNameAndUnknownKindsTheirCode) {
  const std::vector<std::pair<std::uint8_t, std::string_view>> names{
      {1, "keyDown"},        {2, "keyUp"},         {3, "rightOctave"},  {4, "leftOctave"},
      {5, "transpose"},      {8, "rightVoice"},    {9, "leftVoice"},    {10, "rightVelocity"},
      {11, "leftVelocity"},  {12, "rightSustain"}, {13, "leftSustain"}, {16, "keyDefs"},
      {17, "smartSemitone"}, {18, "rawMidi"},      {19, "end"},         {0, "unknown"},
      {6, "unknown"},        {14, "unknown"},      {255, "unknown"}};
  for (const auto& [kind, name] : names)
    EXPECT_EQ(SongEventKindName(kind), name) << int(kind);
}

TEST(SongJson, TextsStateAndEventsOfASong) {
  TSongHeader header{};
  header.Version = 3;
  header.Info = MakeSongInfo("小星星", "Tavrin \"T\"", "line 1\nline 2");
  header.State.Transpose = -2;
  header.State.RightVelocity = 100;
  header.State.LeftVelocity = 70;
  header.State.RightOctave = 1;
  header.State.LeftOctave = -1;
  header.State.RightPatch = static_cast<std::int32_t>(0x80000000u | 0x7F0000u);
  header.State.LeftPatch = 5;
  header.State.SmartSemitone = -1;
  SetTableRemarks(header.State.KeyDefs, "start keys");
  TKeyDefTable later{};
  SetTableRemarks(later, "later keys");

  TSimpleBuffer events;
  events.Add({0, 0, sekKeyDown, 0x10}); // Q
  events.Add({40, 0, sekRawMidi, 0x99 << 16 | 36 << 8 | 127});
  events.Add({90, 0, sekKeyDefs, 0}, &later);
  events.Add({5000, 1, sekKeyUp, 0x10}); // skipped: not in the length
  events.Add({120, 0, 7, 3});
  events.Add({130, 0, sekKeyUp, 0xFF}); // no such key
  events.Add({150, 0, sekEnd, 0});

  const QJsonObject song = QJsonDocument::fromJson(SongToJson(header, events)).object();
  EXPECT_EQ(song["version"].toInt(), 3);
  EXPECT_EQ(song["title"].toString(), QStringLiteral("小星星"));
  EXPECT_EQ(song["player"].toString(), QStringLiteral("Tavrin \"T\""));
  EXPECT_EQ(song["remark"].toString(), QStringLiteral("line 1\nline 2"));
  EXPECT_EQ(song["length"].toInteger(), 150);
  EXPECT_EQ(song["eventCount"].toInteger(), 7);

  const QJsonObject state = song["state"].toObject();
  EXPECT_EQ(state["transpose"].toInt(), -2);
  EXPECT_EQ(state["rightOctave"].toInt(), 1);
  EXPECT_EQ(state["leftOctave"].toInt(), -1);
  EXPECT_EQ(state["rightVelocity"].toInt(), 100);
  EXPECT_EQ(state["leftVelocity"].toInt(), 70);
  EXPECT_EQ(state["rightPatch"].toInteger(), 0x807F0000ll); // unsigned, drum flag kept
  EXPECT_EQ(state["leftPatch"].toInteger(), 5);
  EXPECT_TRUE(state["smartSemitone"].toBool());
  EXPECT_EQ(state["keyDefsRemark"].toString(), QStringLiteral("start keys"));

  const QJsonArray list = song["events"].toArray();
  ASSERT_EQ(list.size(), 7);
  EXPECT_EQ(list[0]["kind"].toString(), QStringLiteral("keyDown"));
  EXPECT_EQ(list[0]["key"].toString(), QStringLiteral("Q"));
  EXPECT_FALSE(list[0].toObject().contains("skip"));
  EXPECT_EQ(list[1]["midi"].toArray(), (QJsonArray{0x99, 36, 127}));
  EXPECT_EQ(list[2]["keyDefsRemark"].toString(), QStringLiteral("later keys"));
  EXPECT_TRUE(list[3]["skip"].toBool());
  EXPECT_EQ(list[3]["time"].toInteger(), 5000);
  EXPECT_EQ(list[4]["kind"].toString(), QStringLiteral("unknown"));
  EXPECT_EQ(list[4]["code"].toInt(), 7);
  EXPECT_TRUE(list[5]["key"].isNull());
  EXPECT_EQ(list[6]["kind"].toString(), QStringLiteral("end"));
}

} // namespace
} // namespace melo
