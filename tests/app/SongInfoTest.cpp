// The song-information dialog, driven while it runs modally.

#include "app/SongInfo.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "app/SimpleRecorder.h"
#include "platform/GbkText.h"

namespace melo {
namespace {

class QtEnvironment : public ::testing::Environment {
public:
  void SetUp() override { App = std::make_unique<QApplication>(Argc, Argv); }
  void TearDown() override { App.reset(); }

private:
  int Argc = 1;
  char Name[16] = "test_songinfo";
  char* Argv[2] = {Name, nullptr};
  std::unique_ptr<QApplication> App;
};
[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The widget Tab moves to from w.
QWidget* NextTabStop(QWidget* w) {
  for (QWidget* next = w->nextInFocusChain(); next != w; next = next->nextInFocusChain()) {
    if ((next->focusPolicy() & Qt::TabFocus) && next->isEnabled())
      return next;
  }
  return nullptr;
}

// Runs ExecuteSongInfo and, once the dialog is up, hands it to act.
bool RunDialog(const QString& caption, const TSongInfo& info, TSongInfo& result, bool readOnly,
               const std::function<void(TfrmSongInfo&)>& act) {
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* form = dynamic_cast<TfrmSongInfo*>(QApplication::activeModalWidget());
    ASSERT_NE(form, nullptr);
    seen = true;
    act(*form);
  });
  const bool ok = ExecuteSongInfo(caption, info, result, readOnly);
  EXPECT_TRUE(seen);
  return ok;
}

TEST(SongInfoTest, TypedTextsComeBackCutToTheFieldsAndLineEndsAsCrLf) {
  const TSongInfo start = MakeSongInfo("", "", "");
  TSongInfo result = MakeSongInfo("old", "old", "old");
  const QString longTitle(25, QChar(0x97F3)); // 50 GBK bytes
  const bool ok =
      RunDialog(QStringLiteral("请输入歌曲信息"), start, result, false, [&](TfrmSongInfo& form) {
        EXPECT_EQ(form.windowTitle(), QStringLiteral("请输入歌曲信息"));
        EXPECT_EQ(form.size(), QSize(201, 262));
        EXPECT_EQ(form.edTitle->geometry(), QRect(8, 24, 185, 20));
        EXPECT_EQ(form.memRemark->geometry(), QRect(8, 120, 185, 105));
        EXPECT_EQ(form.btnOK->geometry(), QRect(66, 232, 75, 25));
        EXPECT_FALSE(form.edTitle->isReadOnly());
        form.edTitle->setText(longTitle);
        form.edPlayer->setText(QString(30, QLatin1Char('p')));
        form.memRemark->setPlainText(QStringLiteral("a\nb") + QString(300, QLatin1Char('r')));
        form.btnOK->click();
      });
  ASSERT_TRUE(ok);
  EXPECT_EQ(Utf8ToGbk(SongTitle(result)).size(), 38u); // never half a character
  EXPECT_EQ(SongPlayer(result), std::string(19, 'p'));
  const std::string remark = SongRemark(result);
  EXPECT_EQ(remark.size(), 255u);
  EXPECT_EQ(remark.substr(0, 5), "a\r\nbr");
}

TEST(SongInfoTest, ReadOnlyShowsTheTextsWithOkFirstAndClosingIsACancel) {
  const TSongInfo info = MakeSongInfo("标题", "Player", "one\r\ntwo");
  TSongInfo result = MakeSongInfo("kept", "", "");
  bool ok = RunDialog(QStringLiteral("歌曲信息"), info, result, true, [](TfrmSongInfo& form) {
    EXPECT_EQ(form.edTitle->text(), QStringLiteral("标题"));
    EXPECT_EQ(form.memRemark->toPlainText(), QStringLiteral("one\ntwo"));
    EXPECT_TRUE(form.edTitle->isReadOnly());
    EXPECT_TRUE(form.edPlayer->isReadOnly());
    EXPECT_TRUE(form.memRemark->isReadOnly());
    EXPECT_EQ(form.focusWidget(), form.btnOK);
    EXPECT_EQ(NextTabStop(form.btnOK), form.edTitle);
    form.close();
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(SongTitle(result), "kept");

  ok = RunDialog(QStringLiteral("歌曲信息"), info, result, true,
                 [](TfrmSongInfo& form) { form.btnOK->click(); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(SongTitle(result), "标题");
  EXPECT_EQ(SongRemark(result), "one\r\ntwo");
}

} // namespace
} // namespace melo
