#pragma once
// A light child widget that shows one rectangle of a shared picture, chosen by a state index,
// with an optional centred caption. The skinned keys, buttons and displays are built from it.
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>

namespace melo {

// The frame colour (0xRRGGBB) of the keys to press next while practising, on
// the PC keyboard and the piano keyboards alike.
inline constexpr std::uint32_t NextKeyColour = 0xFF8C00;

class TKoMultiGlyphButton;

using TMouseButtonEvent = std::function<void(TKoMultiGlyphButton* sender, Qt::MouseButton button,
                                             Qt::KeyboardModifiers shift, int x, int y)>;
using TMouseMoveEvent =
    std::function<void(TKoMultiGlyphButton* sender, Qt::KeyboardModifiers shift, int x, int y)>;
using TButtonNotifyEvent = std::function<void(TKoMultiGlyphButton* sender)>;
using TKeyMouseEvent =
    std::function<void(TKoMultiGlyphButton* sender, Qt::MouseButton button, bool down)>;

class TKoMultiGlyphButton : public QWidget {
  Q_OBJECT
public:
  static constexpr int GlyphStateCount = 16;

  explicit TKoMultiGlyphButton(QWidget* parent);

  // Not owned; nullptr shows the background and the caption only.
  void SetGlyph(const QImage* glyph) { FGlyph = glyph; }
  const QImage* Glyph() const { return FGlyph; }
  void SetGlyphOrigin(int index, QPoint origin) {
    if (index >= 0 && index < GlyphStateCount)
      FGlyphOrigins[index] = origin;
  }
  QPoint GlyphOrigin(int index) const {
    return index >= 0 && index < GlyphStateCount ? FGlyphOrigins[index] : QPoint();
  }
  void SetGlyphIndex(int index) { FGlyphIndex = index; }
  int GlyphIndex() const { return FGlyphIndex; }
  // A frame in this colour over the glyph; an invalid colour for none.
  void SetMarkColour(const QColor& colour) { FMarkColour = colour; }
  const QColor& MarkColour() const { return FMarkColour; }
  void SetCaption(const QString& caption) { FCaption = caption; }
  const QString& Caption() const { return FCaption; }
  void SetTag(int tag) { FTag = tag; }
  int Tag() const { return FTag; }
  // Schedules a repaint from the current glyph state.
  void Repaint() { update(); }

  // A key of a keyboard picture: one handler for press (down) and release.
  void SetKeyMouse(const TKeyMouseEvent& handler);

  TMouseButtonEvent OnMouseDown;
  TMouseButtonEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TButtonNotifyEvent OnDblClick;

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
  const QImage* FGlyph = nullptr;
  std::array<QPoint, GlyphStateCount> FGlyphOrigins{};
  int FGlyphIndex = 0;
  QString FCaption;
  QColor FMarkColour;
  int FTag = 0;
};

// Makes a glyph button a push button: the left mouse button shows it down
// while pressed, and the release reports a click to *onClick (read at that
// moment, so its owner may assign the handler later).
void MakePushButton(TKoMultiGlyphButton* button, const TButtonNotifyEvent* onClick);

} // namespace melo
