#pragma once
// A value display with two arrow buttons beside it. It holds no value: the owner sets the text
// and reads which arrow was clicked from the sender's tag (0 upper, 1 lower).
#include "controls/KoMultiGlyphButton.h"

#include <QLabel>
#include <QString>

namespace melo {

class TKoSpinEdit {
public:
  // The three controls become children of form and go with it.
  TKoSpinEdit(QWidget* form, int top, int left, int height, int width, const QImage* skin);

  void SetText(const QString& text) { FValueLabel->setText(text); }
  QString Text() const { return FValueLabel->text(); }
  void SetButtonsEnabled(bool enabled);
  bool ButtonsEnabled() const { return FButtonsEnabled; }
  void SetOnClick(TButtonNotifyEvent handler) { FOnClick = std::move(handler); }

  QLabel* Label() const { return FValueLabel; }
  TKoMultiGlyphButton* UpArrow() const { return FUpButton; }
  TKoMultiGlyphButton* DownArrow() const { return FDownButton; }

private:
  TKoMultiGlyphButton* MakeArrow(QWidget* form, int tag, const QRect& place, const QImage* skin);

  QLabel* FValueLabel = nullptr;
  TKoMultiGlyphButton* FUpButton = nullptr;
  TKoMultiGlyphButton* FDownButton = nullptr;
  TButtonNotifyEvent FOnClick;
  bool FButtonsEnabled = true;
};

} // namespace melo
