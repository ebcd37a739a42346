#pragma once
// Where the window finds its data files: the help pages and the start
// page. A program started from a desktop menu has no useful current
// folder, so after the current folder come the program's own folder and
// the installed data folder.

#include <QString>
#include <QStringList>

// The folders searched, in order.
QStringList DataFolders();
// The first existing file `relative` ("Media/index.htm", "help/index.html")
// under the data folders, or an empty string.
QString FindDataFile(const QString& relative);
