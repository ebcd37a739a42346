#pragma once
// The window program's command line: images and devices to open, and the
// two options every desktop program answers on the terminal.

#include <QString>
#include <QStringList>

struct WindowCommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  QStringList sources;
  QString error;  // for Action::Error: the sentence to print
};

// `arguments` are the words after the program's name, with the toolkit's
// own options already taken out. "--" ends the options, so that a file
// whose name begins with '-' can still be opened.
WindowCommandLine ParseWindowCommandLine(const QStringList& arguments);

// The text of `relictor --help`.
QString WindowUsage();
