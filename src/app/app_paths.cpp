#include "app/app_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifndef RELICTOR_DATA_DIR
#define RELICTOR_DATA_DIR "/usr/local/share/relictor"
#endif

QStringList DataFolders() {
  QStringList folders;
  folders << QDir::currentPath();
  QString programFolder = QCoreApplication::applicationDirPath();
  if (!programFolder.isEmpty()) {
    folders << programFolder;
    // An installed program lives in PREFIX/bin and its data in
    // PREFIX/share/relictor, wherever PREFIX is.
    folders << QDir(programFolder).absoluteFilePath(QStringLiteral("../share/relictor"));
  }
  folders << QStringLiteral(RELICTOR_DATA_DIR);
  folders.removeDuplicates();
  return folders;
}

QString FindDataFile(const QString& relative) {
  for (const QString& folder : DataFolders()) {
    QFileInfo info(QDir(folder), relative);
    if (info.isFile()) return info.absoluteFilePath();
  }
  return {};
}
