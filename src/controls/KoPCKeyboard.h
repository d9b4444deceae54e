#pragma once
// The picture of the PC keyboard: one glyph button per playable key on the owner window, each
// labelled with the first note of its definition in numbered notation (or its caption), lit
// while held. Labels are painted into the shared work picture, in both its up and down halves.
#include "controls/KoMultiGlyphButton.h"
#include "input/KoKeyDef.h"

#include <QImage>
#include <QRect>
#include <array>
#include <cstdint>
#include <span>

namespace melo {

// Paints the mask's glyph at maskRect into dest at destRect in colour (0x00BBGGRR). The mask's
// red channel is the transparency: 255 leaves the pixel, 0 gives the full colour. Clipped to
// both pictures; both must be 24-bit (QImage::Format_RGB888), anything else paints nothing.
void TintGlyph(QImage& dest, const QImage& mask, QRect destRect, std::uint32_t colour,
               QRect maskRect);

inline constexpr std::uint32_t PCLabelUpColour = 0x997A3D;
inline constexpr std::uint32_t PCLabelDownColour = 0x000000;

class TKoPCKeyboard {
public:
  // Labels are drawn from SkinBitmap and StaffMaskBitmap into workBitmap, naming the notes of
  // values' key definition shifted by its octaves.
  TKoPCKeyboard(QWidget* owner, QImage* workBitmap, const TPerformanceValues& values);

  void SetKeyState(int keyIndex, std::uint8_t state);
  std::uint8_t KeyState(int keyIndex) const;
  void AllKeysUp();
  // Frames these keys (the next to press) and no others.
  void SetMarkedKeys(std::span<const int> keyIndices);
  bool KeyMarked(int keyIndex) const;
  void SetEnabled(bool enabled);
  bool Enabled() const { return FKeysEnabled; }
  void DrawLabel(int keyIndex);
  void DrawAllLabels();
  // The values changed: every label is drawn again, every key up.
  void SetLeftOctave(int octave);
  void SetRightOctave(int octave);
  // The editing keys' labels drawn again, those keys up.
  void SetSmartSemitone(bool on);

  void SetOnKeyDown(TButtonNotifyEvent handler) { FOnKeyDown = std::move(handler); }
  void SetOnKeyUp(TButtonNotifyEvent handler) { FOnKeyUp = std::move(handler); }
  void SetOnMouseMove(TMouseMoveEvent handler) { FOnMouseMove = std::move(handler); }
  void SetOnEditKey(TButtonNotifyEvent handler) { FOnEditKey = std::move(handler); }

  // nullptr for keys that are not playable.
  TKoMultiGlyphButton* Button(int keyIndex) const;
  QRect KeyRect(int keyIndex) const;

private:
  void MakeButton(QWidget* owner, int keyIndex);
  QSize MeasureNote(const TKeyNote& note) const;
  void DrawNote(const TKeyNote& note, QPoint at, std::uint32_t colour);
  void DrawCaption(const QString& caption, QPoint upAt, QPoint downAt);
  void KeyMouse(TKoMultiGlyphButton* sender, Qt::MouseButton button, bool press);

  const TPerformanceValues& FValues;
  QImage* FWorkBitmap;
  std::array<std::uint8_t, KeyCount> FKeyStates{};
  std::array<TKoMultiGlyphButton*, KeyCount> FButtons{};
  std::array<QRect, KeyCount> FKeyRects;
  std::array<QRect, KeyCount> FKeyDownRects;
  TButtonNotifyEvent FOnKeyDown;
  TButtonNotifyEvent FOnKeyUp;
  TMouseMoveEvent FOnMouseMove;
  TButtonNotifyEvent FOnEditKey;
  bool FKeysEnabled = true;
};

} // namespace melo
