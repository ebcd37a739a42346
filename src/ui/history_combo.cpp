#include "ui/history_combo.h"

#include <QSettings>

namespace relictor {

CHistoryCombo::CHistoryCombo(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setMaxCount(1000);
}

void CHistoryCombo::LoadHistory(QSettings& settings, const QString& group, const QString& key) {
  clear();
  settings.beginGroup(group);
  for (int i = 0; i < maxHistory_; ++i) {
    const QString value = settings.value(key + QString::number(i)).toString();
    if (value.isEmpty()) break;
    if (findText(value, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) addItem(value);
  }
  const QString current = settings.value(key).toString();
  settings.endGroup();
  setEditText(current.isEmpty() && count() > 0 ? itemText(0) : current);
}

void CHistoryCombo::SaveHistory(QSettings& settings, const QString& group, const QString& key) {
  settings.beginGroup(group);
  settings.setValue(key, currentText());
  int i = 0;
  for (; i < count() && i < maxHistory_; ++i) settings.setValue(key + QString::number(i), itemText(i));
  // Older entries beyond the list are forgotten.
  for (; settings.contains(key + QString::number(i)); ++i) settings.remove(key + QString::number(i));
  settings.endGroup();
}

void CHistoryCombo::AddToHistory(const QString& text) {
  if (text.isEmpty()) return;
  for (int i = count() - 1; i >= 0; --i)
    if (itemText(i) == text) removeItem(i);
  insertItem(0, text);
  while (count() > maxHistory_) removeItem(count() - 1);
  setCurrentIndex(0);
  setEditText(text);
}

}  // namespace relictor
