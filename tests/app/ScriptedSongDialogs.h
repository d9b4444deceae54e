#pragma once
// The song commands' dialogs answered from prepared file names, noting what was asked.

#include <deque>
#include <string>
#include <vector>

#include "app/SongCommands.h"

namespace melo::test {

class TScriptedSongDialogs : public TSongDialogs {
public:
  void Message(const QString& text) override { Asked.push_back("message " + text.toStdString()); }

  // The next prepared file name; none left answers as a cancelled dialog.
  QString Next() {
    if (FileNames.empty())
      return {};
    QString name = FileNames.front();
    FileNames.pop_front();
    return name;
  }

  std::deque<QString> FileNames;
  std::vector<std::string> Asked;
};

} // namespace melo::test
