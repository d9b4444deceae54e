#pragma once
// The favourite-voice dialog: 24 lists of the loaded sound set's instruments, one per F-key
// (main voices, right hand) and Shift+F-key (secondary voices, left hand), with loading,
// saving and restoring the defaults. The table changes only on OK.
#include <QDialog>
#include <array>

#include "sound/FavoriteVoices.h"

class QComboBox;
class QGroupBox;
class QPushButton;

namespace melo {

class TfrmSetFavoriteVoices : public QDialog {
public:
  // Lists the instruments; table gives Extra and Reserved of what the dialog reads back.
  TfrmSetFavoriteVoices(const TFavoriteVoiceTable& table, QWidget* parent = nullptr);

  // Selects each slot's voice; a voice the sound set lacks selects item 0.
  void ShowVoices(const TFavoriteVoiceTable& table);
  // The table with the chosen voices (bank 0/0, program 0 where nothing can be chosen).
  TFavoriteVoiceTable ReadVoices() const;

  void btnLoadClick();
  void btnSaveClick();
  void btnRestoreToDefultClick();

  QGroupBox* gbSlave = nullptr;
  QGroupBox* gbMaster = nullptr;
  QPushButton* btnLoad = nullptr;
  QPushButton* btnSave = nullptr;
  QPushButton* btnRestoreToDefult = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
  // By slot: 0..11 F1..F12 in gbMaster, 12..23 Shift+F1..F12 in gbSlave.
  std::array<QComboBox*, FavoriteVoiceCount> VoiceBoxes{};

private:
  TFavoriteVoiceTable FBase;
};

// Shows the dialog on table; true, and table holding the chosen voices, after OK.
bool EditFavoriteVoices(TFavoriteVoiceTable& table, QWidget* parent = nullptr);

} // namespace melo
