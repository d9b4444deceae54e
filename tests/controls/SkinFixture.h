#pragma once
// Shared set-up of the widget tests: one application, the real glyph library, and a host window
// whose whole area is the work picture, as the main window's is.
#include "controls/GlyphBmp.h"
#include "controls/SkinLayout.h"

#include <QApplication>
#include <QPainter>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace melo::test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "melo_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class TSkinHost : public QWidget {
public:
  TSkinHost() { setFixedSize(SkinWidth, SkinHeight); }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).drawImage(QPoint(0, 0), WorkBitmap, QRect(0, 0, SkinWidth, SkinHeight));
  }
};

// Loads the glyph library once and gives every test a fresh work picture and a shown host.
class SkinTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    App();
    ASSERT_TRUE(LoadGlyphLibrary(QStringLiteral(MELO_GLYPH_LIBRARY)));
  }
  void SetUp() override {
    ASSERT_TRUE(LoadSkinBitmaps());
    Host = std::make_unique<TSkinHost>();
  }
  void ShowHost() {
    Host->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Host.get()));
    // The toolkit drops a move to where the pointer already is, so every test
    // starts with the pointer off the controls, wherever the last one left it.
    Move(QPoint(-1, -1));
  }
  // Mouse actions through the window system, so the toolkit routes them to the control under
  // the point and keeps sending to the pressed control until release.
  void Press(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(Host->windowHandle(), button, {}, at);
  }
  void Release(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(Host->windowHandle(), button, {}, at);
  }
  void Move(QPoint at) { QTest::mouseMove(Host->windowHandle(), at); }
  void DoubleClick(QPoint at) { QTest::mouseDClick(Host->windowHandle(), Qt::LeftButton, {}, at); }
  // What the host shows, in the work picture's format.
  QImage Screen() const { return Host->grab().toImage().convertToFormat(QImage::Format_RGB888); }
  static QImage Area(const QImage& image, const QRect& r) { return image.copy(r); }

  std::unique_ptr<TSkinHost> Host;
};

} // namespace melo::test
