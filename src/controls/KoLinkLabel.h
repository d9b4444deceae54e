#pragma once
// A label that opens a web page or starts an e-mail when clicked and changes colour while the
// mouse is over it.
#include <QColor>
#include <QLabel>
#include <QString>
#include <QUrl>
#include <functional>

namespace melo {

enum TAddressType { atMail = 0, atWWW = 1 };

class TKoLinkLabel : public QLabel {
  Q_OBJECT
public:
  using TNotifyEvent = std::function<void(TKoLinkLabel* sender)>;
  using TUrlOpener = std::function<bool(const QUrl&)>;

  explicit TKoLinkLabel(QWidget* parent);

  void SetAddress(const QString& address) { FAddress = address; }
  const QString& Address() const { return FAddress; }
  void SetAddressType(TAddressType type);
  TAddressType AddressType() const { return FAddressType; }
  void SetActiveColor(const QColor& colour) { FActiveColor = colour; }
  const QColor& ActiveColor() const { return FActiveColor; }
  void SetFontColor(const QColor& colour);
  QColor FontColor() const;
  // What a click opens: "mailto:" + Address unless the type is atWWW with an address.
  QUrl ClickUrl() const;

  TNotifyEvent OnClick;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseExit;
  // Opens the address; the desktop's handler unless replaced (tests replace it).
  TUrlOpener UrlOpener;

protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

private:
  QString FAddress;
  TAddressType FAddressType = atWWW;
  QColor FActiveColor{0, 0, 255};
  QColor FSavedColor;
};

} // namespace melo
