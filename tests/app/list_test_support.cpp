#include "app/list_test_support.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

#include <cstdio>
#include <cstdlib>

#include "fat/fat_driver.h"
#include "model/entry.h"
#include "ntfs/ntfs_driver.h"
#include "support/test_support.h"
#include "volume/sector_source.h"

namespace relictor::test {

void PrepareWindowTestEnvironment() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  // Settings go to a folder of the test's own.
  qputenv("XDG_CONFIG_HOME", (runtime.path() + "/config").toUtf8());
  QStandardPaths::setTestModeEnabled(true);
}

bool Sh(const std::string& command) {
  CommandResult r = Run(command);
  if (r.exitCode != 0) std::fprintf(stderr, "%s failed (%d): %s%s\n", command.c_str(), r.exitCode, r.out.c_str(), r.err.c_str());
  return r.exitCode == 0;
}

namespace {
template <typename Reader>
std::unique_ptr<CVolumeDriver> OpenImage(const std::string& path, Host* host) {
  std::string error;
  auto source = FileSource::Open(path, error);
  if (!source) return nullptr;
  auto d = std::make_unique<Reader>();
  d->SetHost(host);
  d->SetDevice(std::move(source));
  if (!d->Open('C', kDriveFixed, "C:\\", false)) return nullptr;
  return d;
}
}  // namespace

std::unique_ptr<CVolumeDriver> OpenFatImage(const std::string& path, Host* host) {
  return OpenImage<CFATDriver>(path, host);
}

std::unique_ptr<CVolumeDriver> OpenNtfsImage(const std::string& path, Host* host) {
  return OpenImage<CNTFSDriver>(path, host);
}

CDirEntry* ChildNamed(CDirectory* folder, const std::string& name) {
  if (!folder) return nullptr;
  if (!folder->populated) folder->Populate(true, true, true);
  for (auto& c : folder->children)
    if (c->name == name) return c.get();
  return nullptr;
}

ModalDriver::ModalDriver() {
  timer_.setInterval(10);
  connect(&timer_, &QTimer::timeout, this, &ModalDriver::Poll);
  timer_.start();
}

ModalDriver::~ModalDriver() = default;

void ModalDriver::Poll() {
  if (steps_.empty()) return;
  QWidget* w = QApplication::activeModalWidget();
  if (!w || !w->isVisible()) return;
  if (w == last_) return;
  // Handle the widget from the event loop that shows it, outside this
  // timer's call, so that a step may open nested loops of its own.
  if (steps_.front()(w)) {
    seen.push_back(w->windowTitle());
    last_ = w;
    steps_.pop_front();
  }
}

WindowWatcher::WindowWatcher(std::function<void(QWidget*)> shown, std::function<void(QWidget*)> hidden)
    : shown_(std::move(shown)), hidden_(std::move(hidden)) {
  qApp->installEventFilter(this);
}

WindowWatcher::~WindowWatcher() { qApp->removeEventFilter(this); }

bool WindowWatcher::eventFilter(QObject* o, QEvent* e) {
  if (!o->isWidgetType() || !static_cast<QWidget*>(o)->isWindow()) return false;
  if (e->type() == QEvent::Show && shown_) shown_(static_cast<QWidget*>(o));
  if (e->type() == QEvent::Hide && hidden_) hidden_(static_cast<QWidget*>(o));
  return false;
}

QAbstractButton* FindButton(QWidget* w, const QString& text) {
  for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
    if (b->text() == text && b->isVisible()) return b;
  return nullptr;
}

ModalDriver::Step AnswerBox(const QString& buttonText, QString* textSeen, QString* titleSeen) {
  return [=](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return false;
    QAbstractButton* b = FindButton(box, buttonText);
    if (!b) return false;
    if (textSeen) *textSeen = box->text();
    if (titleSeen) *titleSeen = box->windowTitle();
    QTimer::singleShot(0, b, [b] { QTest::mouseClick(b, Qt::LeftButton); });
    return true;
  };
}

ModalDriver::Step SaveInto(const QString& folder) {
  return [=](QWidget* w) {
    if (w->objectName() != "CRecoveryDlg") return false;
    auto* combo = w->findChild<QComboBox*>("outputFolder");
    auto* save = w->findChild<QPushButton*>("save");
    if (!combo || !save) return false;
    QTimer::singleShot(0, w, [combo, save, folder] {
      combo->lineEdit()->selectAll();
      QTest::keyClicks(combo->lineEdit(), folder);
      QTest::mouseClick(save, Qt::LeftButton);
    });
    return true;
  };
}

ModalDriver::Step OnProgress(const QString& title, std::function<bool(QWidget*)> cancelWhen) {
  return [=](QWidget* w) {
    if (w->objectName() != "CWorkerDlg" || w->windowTitle() != title) return false;
    if (!cancelWhen) return true;
    if (!cancelWhen(w)) return false;
    auto* cancel = w->findChild<QPushButton*>("cancel");
    if (!cancel) return false;
    QTest::mouseClick(cancel, Qt::LeftButton);
    return true;
  };
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(5);
  }
  return true;
}

}  // namespace relictor::test
