#include "app/ExternalVoiceLists.h"

#include <QComboBox>

#include <algorithm>
#include <cstddef>

#include "app/KoPerformance.h"
#include "sound/KoDirectMusic.h"

namespace melo {

namespace {

constexpr int ListTop = 240;
constexpr int ListWidth = 201;
constexpr int ListLeft[HandCount] = {32, 272};

} // namespace

TExternalVoiceLists::TExternalVoiceLists(QWidget& window, TKoPerformance& performance)
    : FWindow(window), FPerformance(performance) {}

TExternalVoiceLists::~TExternalVoiceLists() {
  Remove();
}

void TExternalVoiceLists::Build() {
  Remove();
  for (int hand = 0; hand < HandCount; ++hand) {
    auto* list = new QComboBox(&FWindow);
    list->setEditable(false);
    list->setFocusPolicy(Qt::NoFocus); // keys stay with the piano
    for (int i = 0; i < InstrumentList.Count; ++i) {
      list->addItem(
          QStringLiteral("%1: %2").arg(i).arg(QString::fromStdString(InstrumentList.NameUtf8(i))));
    }
    list->setCurrentIndex(0);
    list->setGeometry(ListLeft[hand], ListTop, ListWidth, list->sizeHint().height());
    // Only a choice of the user's fires: selecting in code does not.
    QObject::connect(list, &QComboBox::activated, &FWindow, [this, hand] { Apply(hand); });
    list->show();
    FLists[hand] = list;
  }
}

void TExternalVoiceLists::Remove() {
  for (QPointer<QComboBox>& list : FLists) {
    delete list.data();
    list = nullptr;
  }
}

void TExternalVoiceLists::Apply(int hand) {
  const QComboBox* list = List(hand);
  const int index = list ? list->currentIndex() : -1;
  if (index >= 0 && index < InstrumentList.Count) {
    FPerformance.SetExternalVoice(hand,
                                  InstrumentList.Entries[static_cast<std::size_t>(index)].Patch);
  }
}

bool TExternalVoiceLists::StepRight(int step) {
  QComboBox* list = List(RightHand);
  if (!list || list->count() == 0)
    return false;
  list->setCurrentIndex(std::clamp(list->currentIndex() + step, 0, list->count() - 1));
  Apply(RightHand);
  return true;
}

QComboBox* TExternalVoiceLists::List(int hand) const {
  return FLists[hand].data();
}

} // namespace melo
