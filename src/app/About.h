#pragma once

// The About box; also the start-up splash.

#include <QDialog>

class QLabel;
class QPushButton;

namespace melo {

class TKoLinkLabel;

class TfrmAbout : public QDialog {
public:
  explicit TfrmAbout(QWidget* parent = nullptr);

  // Borderless, cut just above the web link, shown without waiting and painted at once.
  void ShowAsSplash();

  QLabel* lblDXVer = nullptr;
  QLabel* lblFamily = nullptr;
  QLabel* lblTitle = nullptr;
  QLabel* lblVersion = nullptr;
  TKoLinkLabel* lblWeb = nullptr;
  QPushButton* btnOK = nullptr;

protected:
  void paintEvent(QPaintEvent* event) override;
};

// Shows the About box modally.
void ShowAbout(QWidget* parent);

} // namespace melo
