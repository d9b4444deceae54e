#include "app/About.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "controls/GlyphBmp.h"
#include "controls/KoLinkLabel.h"
#include "sound/MyGetDxVer.h"

namespace melo {

namespace {

constexpr int AboutWidth = 279;
constexpr int AboutHeight = 248;
constexpr int LinkTop = 184;
constexpr std::uint32_t SkyBlue = 0xF0CAA6; // 0x00BBGGRR
constexpr std::uint32_t Maroon = 0x000080;
constexpr std::uint32_t LinkBlue = 0xFF0000;
constexpr const char* HomePage = "https://github.com/melotastico";

QLabel* CentredLabel(QWidget* parent, const QString& text, int top, int height) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignCenter);
  label->setGeometry(0, top, AboutWidth, height);
  return label;
}

} // namespace

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QCoreApplication::translate("TfrmAbout", "关于"));
  QFont font(QStringLiteral("宋体"));
  font.setPixelSize(12);
  setFont(font);
  setFixedSize(AboutWidth, AboutHeight);

  lblFamily =
      CentredLabel(this, QCoreApplication::translate("TfrmAbout", "Sunlark音乐软件系列"), 24, 16);
  lblTitle = CentredLabel(this, QStringLiteral("Melotastico"), 52, 40);
  QFont titleFont = font;
  titleFont.setPixelSize(32);
  titleFont.setBold(true);
  lblTitle->setFont(titleFont);
  QPalette titlePalette = lblTitle->palette();
  titlePalette.setColor(QPalette::WindowText, BgrToQColor(Maroon));
  lblTitle->setPalette(titlePalette);
  // The version sits 20 pixels left of the centre line.
  lblVersion = CentredLabel(
      this, QCoreApplication::translate("TfrmAbout", "版本: ") + QStringLiteral(MELO_VERSION), 104,
      16);
  lblVersion->move(lblVersion->x() - 20, lblVersion->y());
  lblDXVer = CentredLabel(
      this, QCoreApplication::translate("TfrmAbout", DXVersionLabel(DXVersion).c_str()), 132, 16);

  lblWeb = new TKoLinkLabel(this);
  lblWeb->setText(QCoreApplication::translate("TfrmAbout", "访问作者主页以获取更多信息"));
  lblWeb->SetAddressType(atWWW);
  lblWeb->SetAddress(QString::fromLatin1(HomePage));
  lblWeb->SetFontColor(BgrToQColor(LinkBlue));
  lblWeb->SetActiveColor(BgrToQColor(LinkBlue));
  QFont linkFont = font;
  linkFont.setUnderline(true);
  lblWeb->setFont(linkFont);
  lblWeb->adjustSize();
  lblWeb->move((AboutWidth - lblWeb->width()) / 2, LinkTop);

  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setGeometry(106, 216, 75, 25);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmAbout::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), BgrToQColor(SkyBlue));
}

void TfrmAbout::ShowAsSplash() {
  // A plain borderless window, not a splash type that window managers keep
  // above the message boxes of the start-up.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setFixedSize(AboutWidth, LinkTop);
  move(screen()->availableGeometry().center() - rect().center());
  show();
  repaint();
  QCoreApplication::processEvents();
}

void ShowAbout(QWidget* parent) {
  TfrmAbout about(parent);
  about.exec();
}

} // namespace melo
