#include "controls/KoLinkLabel.h"
#include "SkinFixture.h"

#include <QEnterEvent>
#include <vector>

namespace melo::test {
namespace {

class KoLinkLabelTest : public SkinTest {
protected:
  void SetUp() override {
    SkinTest::SetUp();
    Label = new TKoLinkLabel(Host.get());
    Label->setGeometry(20, 20, 200, 20);
    Label->setText(QStringLiteral("访问作者主页以获取更多信息"));
    Label->UrlOpener = [this](const QUrl& url) {
      Opened.push_back(url.toString());
      return true;
    };
    ShowHost();
  }
  void Click() {
    Press(QPoint(30, 30));
    Release(QPoint(30, 30));
  }
  void Enter() {
    QEnterEvent event(QPointF(5, 5), QPointF(25, 25), QPointF(25, 25));
    QCoreApplication::sendEvent(Label, &event);
  }
  void Leave() {
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(Label, &event);
  }
  TKoLinkLabel* Label = nullptr;
  std::vector<QString> Opened;
};

TEST_F(KoLinkLabelTest, OpensTheAddressOrAMail) {
  int clicks = 0;
  Label->OnClick = [&](TKoLinkLabel*) { ++clicks; };
  Label->SetAddress(QStringLiteral("https://example.org/melotastico"));
  Click();
  Label->SetAddressType(atMail);
  Label->SetAddress(QStringLiteral("player@example.org"));
  Click();
  Label->SetAddressType(atWWW);
  Label->SetAddress(QString());
  Click();
  EXPECT_EQ(Opened, (std::vector<QString>{"https://example.org/melotastico",
                                          "mailto:player@example.org", "mailto:"}));
  EXPECT_EQ(clicks, 3);
}

TEST_F(KoLinkLabelTest, HoverColourIsUndoneEvenIfTheActiveColourChanged) {
  Label->SetFontColor(Qt::darkRed);
  EXPECT_EQ(Label->ActiveColor(), QColor(0, 0, 255));
  std::vector<char> events;
  Label->OnMouseEnter = [&](TKoLinkLabel* s) {
    events.push_back(s->FontColor() == Qt::blue ? 'E' : '?');
  };
  Label->OnMouseExit = [&](TKoLinkLabel*) { events.push_back('X'); };
  Enter();
  EXPECT_EQ(Label->FontColor(), QColor(Qt::blue));
  Label->SetActiveColor(Qt::green);
  Leave();
  EXPECT_EQ(Label->FontColor(), QColor(Qt::darkRed));
  EXPECT_EQ(events, (std::vector<char>{'E', 'X'}));
}

} // namespace
} // namespace melo::test
