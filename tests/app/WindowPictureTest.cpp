// The window's picture on a fresh start is what the shared control builder
// draws on a bare skin, pixel for pixel: one description of where every
// control lies serves the program and the offscreen renderer.
#include "StandInSoundSet.h"
#include "app/MainWindow.h"
#include "controls/GlyphBmp.h"
#include "controls/KoPCKeyboard.h"
#include "controls/KoSlider.h"
#include "controls/KoSpinEdit.h"
#include "controls/SkinControls.h"
#include "platform/DataFolder.h"
#include "sound/MyVolume.h"

#include <QApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace melo {
namespace {

// A bare window whose whole area is the work picture, as the main window's is.
class TSkinPicture : public QWidget {
public:
  TSkinPicture() { setFixedSize(SkinWidth, SkinHeight); }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).drawImage(QPoint(0, 0), WorkBitmap, QRect(0, 0, SkinWidth, SkinHeight));
  }
};

QImage Picture(QWidget& widget) {
  widget.show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&widget));
  return widget.grab().toImage().convertToFormat(QImage::Format_RGB888);
}

TEST(WindowPictureTest, FreshWindowIsTheSharedBuildersPicture) {
  // No sound server, no mixer, a sound set that is present but not loadable:
  // the window must not touch the machine.
  ::setenv("PULSE_SERVER", "unix:/nonexistent/melo-test/native", 1);
  MixerDeviceName = "melo-no-mixer";
  int argc = 1;
  char name[] = "test_windowpicture";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  ASSERT_TRUE(LoadGlyphLibrary(QStringLiteral(MELO_GLYPH_LIBRARY)));
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  ASSERT_TRUE(
      test::WriteStandInSoundSet(std::filesystem::path(folder.path().toStdString()) / "msf4.s"));
  SetProgramFolder(folder.path().toStdString());

  auto form = std::make_unique<TRoVoravForm>(TEngineMode::Capture);
  const QImage window = Picture(*form);
  std::array<QString, SpinEditCount> texts;
  for (int i = 0; i < SpinEditCount; ++i)
    texts[static_cast<std::size_t>(i)] = form->SpinEdit(i).Text();
  const int volume = form->VolumeSlider().Position();
  form.reset();

  ASSERT_TRUE(LoadSkinBitmaps());
  TSkinPicture host;
  TPerformanceValues values;
  FillDefaultKeyDefs(values.KeyDefs);
  TSkinControls built = BuildSkinControls(&host, values);
  built.PCKeyboard->DrawAllLabels();
  built.PCKeyboard->AllKeysUp();
  built.VolumeSlider->SetPosition(volume);
  for (std::size_t i = 0; i < texts.size(); ++i)
    built.SpinEdits[i]->SetText(texts[i]);
  const QImage picture = Picture(host);

  ASSERT_EQ(picture.size(), window.size());
  int differing = 0;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x)
      differing += picture.pixel(x, y) != window.pixel(x, y);
  }
  EXPECT_EQ(differing, 0);
  EXPECT_FALSE(texts[seTranspose].isEmpty()) << "the window shows its values";
}

} // namespace
} // namespace melo
