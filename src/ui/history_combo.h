#pragma once
// An editable combo box that remembers recently used texts (output
// folders) in the settings: the entries under "<key>0", "<key>1", ... and
// the current text under "<key>" itself, in a group of the settings.

#include <QComboBox>

class QSettings;

namespace relictor {

class CHistoryCombo : public QComboBox {
  Q_OBJECT

 public:
  explicit CHistoryCombo(QWidget* parent = nullptr);

  // Entries beyond this are dropped from the end.
  void SetMaxHistory(int count) { maxHistory_ = count > 0 ? count : 1; }
  int MaxHistory() const { return maxHistory_; }

  // Reads the history and shows the last used text.
  void LoadHistory(QSettings& settings, const QString& group, const QString& key);
  // Writes the history and the current text; entries beyond the list are
  // removed from the settings.
  void SaveHistory(QSettings& settings, const QString& group, const QString& key);
  // Puts a text at the top of the list, removes an equal entry further
  // down, cuts the list to its length and selects the new entry.
  void AddToHistory(const QString& text);

 private:
  int maxHistory_ = 10;
};

}  // namespace relictor
