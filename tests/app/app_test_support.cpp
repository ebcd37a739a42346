#include "app_test_support.h"

#include <QAbstractItemView>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "app/folders_tree_dlg.h"
#include "app/list_test_support.h"
#include "app/main_frame.h"
#include "app/relictor_app.h"
#include "app/vesk_view.h"
#include "support/test_support.h"

#include "app/entry_list_ctrl.h"

namespace apptest {

relictor::test::TempDir& Scratch() {
  static auto* dir = new relictor::test::TempDir;
  return *dir;
}

void PrepareEnvironment() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::string runtime = Scratch() / "runtime";
  std::string config = Scratch() / "config";
  Shell("mkdir -p -m 700 " + relictor::test::Quote(runtime) + " " + relictor::test::Quote(config));
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config));
}

bool Shell(const std::string& commandLine) {
  relictor::test::CommandResult r = relictor::test::Run(commandLine);
  if (r.exitCode != 0) {
    std::fprintf(stderr, "command failed (%d): %s\n%s%s\n", r.exitCode, commandLine.c_str(), r.out.c_str(),
                 r.err.c_str());
    return false;
  }
  return true;
}

bool MakeFatImage(const std::string& path) {
  using relictor::test::Quote;
  std::string img = Quote(path);
  std::string src = Quote(Scratch() / "fatsrc");
  return Shell("rm -rf " + src + " && mkdir -p " + src + " && cd " + src +
               " && printf 'read me first\\n' > readme.txt"
               " && head -c 20000 /dev/urandom > photo.jpg"
               " && printf 'alpha\\n' > a.txt && printf 'bravo bravo\\n' > b.txt"
               " && head -c 5000 /dev/urandom > gone.txt && printf 'inner\\n' > inner.txt"
               " && printf 'old\\n' > old.txt") &&
         Shell("rm -f " + img + " && truncate -s 32M " + img + " && mkfs.fat -F 16 -s 4 -n TESTFAT " + img +
               " >/dev/null") &&
         Shell("cd " + src + " && mcopy -i " + img + " readme.txt photo.jpg ::/ && mmd -i " + img +
               " ::/DOCS ::/DOCS/SUB ::/EMPTY ::/OLD && mcopy -i " + img + " a.txt b.txt gone.txt ::/DOCS/ && mcopy -i " +
               img + " inner.txt ::/DOCS/SUB/ && mcopy -i " + img + " old.txt ::/OLD/") &&
         Shell("mdel -i " + img + " ::/photo.jpg ::/DOCS/gone.txt && mdeltree -i " + img + " ::/OLD");
}

Window::Window(const QStringList& sources) : app_(std::make_unique<CRelictorApp>()) {
  app_->LoadSettings();
  frame_ = new CMainFrame(sources);
  frame_->show();
  problems_ << RunAndCloseMessageBox([this] { frame_->ReportOpenProblems(); });
  problems_.removeAll(QString());
  QTest::qWait(10);
}

Window::~Window() {
  delete frame_;
  app_.reset();
}

std::shared_ptr<bool> WhenDialogShows(const QString& name, std::function<void(QDialog*)> answer) {
  auto seen = std::make_shared<bool>(false);
  auto* timer = new QTimer;
  timer->setInterval(20);
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, name, answer, tries, seen] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || dialog->objectName() != name) {
      // Give up after a while, so that a dialog that never shows fails
      // the test instead of leaving a timer behind.
      if (++*tries > 1500) timer->deleteLater();
      return;
    }
    timer->stop();
    timer->deleteLater();
    *seen = true;
    answer(dialog);
  });
  timer->start();
  return seen;
}

QString RunAndCloseMessageBox(const std::function<void()>& action) {
  auto text = std::make_shared<QString>();
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    *text = box->text();
    if (!box->detailedText().isEmpty()) *text += QLatin1Char('\n') + box->detailedText();
    relictor::test::MaybeShoot(box, box->objectName().isEmpty() ? QStringLiteral("message") : box->objectName());
    box->done(QMessageBox::Ok);
  });
  timer->start();
  action();
  timer->stop();
  delete timer;
  return *text;
}

QTreeWidgetItem* FindNode(CMainFrame* frame, const QStringList& path) {
  QTreeWidgetItem* node = frame->NavigationPane()->RootItem();
  for (int depth = 0; depth < path.size() && node != nullptr; ++depth) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < node->childCount(); ++i) {
      QString text = node->child(i)->text(0);
      if (depth == 0 ? text.startsWith(path[depth]) : text == path[depth]) {
        next = node->child(i);
        break;
      }
    }
    node = next;
  }
  return node;
}

void ClickNode(CMainFrame* frame, QTreeWidgetItem* node) {
  QTreeWidget* tree = frame->NavigationPane()->Tree();
  tree->scrollToItem(node);
  QRect rect = tree->visualItemRect(node);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

void ExpandNode(CMainFrame* frame, QTreeWidgetItem* node) {
  ClickNode(frame, node);
  QTreeWidget* tree = frame->NavigationPane()->Tree();
  tree->setFocus();
  QTest::keyClick(tree, Qt::Key_Right);
}

QStringList ChildTexts(QTreeWidgetItem* node) {
  QStringList out;
  for (int i = 0; node && i < node->childCount(); ++i) out << node->child(i)->text(0);
  return out;
}

int RowOf(CMainFrame* frame, const QString& name) {
  auto* view = frame->View()->List()->CurrentView();
  auto* model = view->model();
  for (int r = 0; r < model->rowCount(); ++r) {
    if (model->index(r, 0).data(Qt::DisplayRole).toString() == name) return r;
  }
  return -1;
}

void DoubleClickRow(CMainFrame* frame, int row) {
  auto* view = frame->View()->List()->CurrentView();
  QModelIndex index = view->model()->index(row, 0);
  view->scrollTo(index);
  QRect rect = view->visualRect(index);
  // A double click is a press, a release and a double-click event.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

}  // namespace apptest
