#pragma once
// Shared helpers of the window's tests: the test's main function on the
// offscreen platform, and a driver that answers modal dialogs as a user
// would (the recovery dialog, message boxes, progress dialogs) while the
// code under test waits in them.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "model/entry.h"
#include "volume/driver.h"
#include "volume/host.h"

namespace relictor::test {

// Runs a shell command (mkfs.fat, mtools, the NTFS fixture tool); false
// with its output printed when it fails.
bool Sh(const std::string& command);

// Opens the volume of a FAT or NTFS image with the given host; null when
// it cannot be opened.
std::unique_ptr<CVolumeDriver> OpenFatImage(const std::string& path, Host* host);
std::unique_ptr<CVolumeDriver> OpenNtfsImage(const std::string& path, Host* host);
// The child of a folder by name (populating the folder as the saving
// does), or null.
CDirEntry* ChildNamed(CDirectory* folder, const std::string& name);

// Prepares the environment of a window test before the application is
// made: the offscreen platform, a private runtime folder, and settings
// that never touch the user's own.
void PrepareWindowTestEnvironment();

// Runs `ModalDriver` steps: each step is offered every new modal widget
// (the top of the modal stack) until it reports that it dealt with it; the
// next step then waits for the next modal widget.
class ModalDriver : public QObject {
 public:
  using Step = std::function<bool(QWidget*)>;
  ModalDriver();
  ~ModalDriver() override;
  void Then(Step step) { steps_.push_back(std::move(step)); }
  bool Done() const { return steps_.empty(); }
  std::size_t Left() const { return steps_.size(); }
  // What each step saw, for messages of failed tests.
  std::vector<QString> seen;

 private:
  void Poll();
  std::deque<Step> steps_;
  QTimer timer_;
  QPointer<QWidget> last_;
};

// A step that clicks the button with `text` ("&Yes", "Y&es to All", ...)
// of an extended message box, and records the box's text.
ModalDriver::Step AnswerBox(const QString& buttonText, QString* textSeen = nullptr, QString* titleSeen = nullptr);
// A step that fills in the output folder of "Files Recovery" and presses
// Save.
ModalDriver::Step SaveInto(const QString& folder);
// A step that waits for a progress dialog of the given title, and, when
// `cancelWhen` says so, presses its Cancel button.
ModalDriver::Step OnProgress(const QString& title, std::function<bool(QWidget*)> cancelWhen = {});

// Calls `shown` for every window that is shown and `hidden` for every
// window that is hidden while it lives: long work that ends too fast to be
// polled is still seen.
class WindowWatcher : public QObject {
 public:
  explicit WindowWatcher(std::function<void(QWidget*)> shown, std::function<void(QWidget*)> hidden = {});
  ~WindowWatcher() override;
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  std::function<void(QWidget*)> shown_, hidden_;
};

// Finds the push button of a widget by its text.
QAbstractButton* FindButton(QWidget* w, const QString& text);

// Waits while `done` is false, serving events, at most `ms` milliseconds.
bool WaitFor(const std::function<bool()>& done, int ms = 20000);

}  // namespace relictor::test

// The main function of a window test binary.
#define RELICTOR_WINDOW_TEST_MAIN(TestClass)                 \
  int main(int argc, char** argv) {                          \
    relictor::test::PrepareWindowTestEnvironment();          \
    QApplication app(argc, argv);                            \
    app.setAttribute(Qt::AA_Use96Dpi, true);                 \
    TestClass tc;                                            \
    QTEST_SET_MAIN_SOURCE_PATH                               \
    return QTest::qExec(&tc, argc, argv);                    \
  }
