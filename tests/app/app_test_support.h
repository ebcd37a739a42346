#pragma once
// Shared helpers of the window's tests: an isolated settings store and the
// offscreen platform, images made by the real tools, and driving the
// window's tree, list and message boxes as a user would.

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>

class QTreeWidgetItem;
class QDialog;
class QMessageBox;
class CMainFrame;
class CRelictorApp;

namespace relictor::test {
class TempDir;
}

namespace apptest {

// Counts the turns of the event loop and the longest time between two:
// a window kept busy on its own thread serves no turns meanwhile.
class Heartbeat {
 public:
  Heartbeat() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.elapsed();
      longest_ = std::max(longest_, now - last_);
      last_ = now;
      ++beats_;
    });
  }
  void Restart() {
    clock_.start();
    last_ = 0;
    longest_ = 0;
    beats_ = 0;
    timer_.start();
  }
  int Beats() const { return beats_; }
  qint64 Elapsed() const { return clock_.elapsed(); }
  qint64 Longest() const { return std::max(longest_, clock_.elapsed() - last_); }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0, longest_ = 0;
  int beats_ = 0;
};


// Sets the offscreen platform, a runtime folder and a private settings
// folder (so that no test reads or writes the user's settings). Called
// before the QApplication is made.
void PrepareEnvironment();

// A temporary folder for the whole test binary.
relictor::test::TempDir& Scratch();

// Runs a shell command; false (and a printed reason) when it fails.
bool Shell(const std::string& commandLine);

// The FAT test volume: a 32 MiB FAT16 image with
//   /readme.txt, /photo.jpg (deleted),
//   /DOCS/a.txt, /DOCS/b.txt, /DOCS/gone.txt (deleted), /DOCS/SUB/inner.txt,
//   /EMPTY/ (no subfolders), /OLD/ (deleted, held old.txt).
bool MakeFatImage(const std::string& path);

// The window on `sources`, with the app object it needs. Problems met
// while opening are answered (OK) and kept in Problems().
class Window {
 public:
  explicit Window(const QStringList& sources);
  ~Window();
  CMainFrame* Frame() const { return frame_; }
  CRelictorApp* App() const { return app_.get(); }
  const QStringList& Problems() const { return problems_; }

 private:
  std::unique_ptr<CRelictorApp> app_;
  CMainFrame* frame_ = nullptr;
  QStringList problems_;
};

// Answers the next modal dialog whose object name is `name` with `answer`
// (called with the dialog; it should close it) as soon as it shows. The
// returned flag turns true when it did.
std::shared_ptr<bool> WhenDialogShows(const QString& name, std::function<void(QDialog*)> answer);
// Runs `action`, which is expected to show one message box; closes it
// and returns its text (empty when none showed).
QString RunAndCloseMessageBox(const std::function<void()>& action);

// The tree node under "My Computer" reached by the node texts in `path`
// (the first is a drive node's text, or its start).
QTreeWidgetItem* FindNode(CMainFrame* frame, const QStringList& path);
// Clicks a node of the navigation tree (selects it).
void ClickNode(CMainFrame* frame, QTreeWidgetItem* node);
// Expands a node the way a keyboard user does (select, then Right).
void ExpandNode(CMainFrame* frame, QTreeWidgetItem* node);
// The texts of a node's children.
QStringList ChildTexts(QTreeWidgetItem* node);

// The row of the main list that shows `name`, or -1.
int RowOf(CMainFrame* frame, const QString& name);
// Double-clicks a row of the main list.
void DoubleClickRow(CMainFrame* frame, int row);

}  // namespace apptest

#define RELICTOR_APP_TEST_MAIN(TestClass)       \
  int main(int argc, char** argv) {             \
    apptest::PrepareEnvironment();              \
    QApplication application(argc, argv);       \
    TestClass test;                             \
    return QTest::qExec(&test, argc, argv);     \
  }
