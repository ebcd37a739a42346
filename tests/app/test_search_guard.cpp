// A background search and the window reading the same volume: the
// navigation pane reads and shows folders of the searched volume while the
// search is held at a safe point, and the search then goes on to the end;
// a search on another volume is not held at all. No folder or reader is
// used by two threads at once (this binary runs under ThreadSanitizer too).

#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/entry_list_ctrl.h"
#include "app/folders_tree_dlg.h"
#include "app/main_frame.h"
#include "app/relictor_app.h"
#include "app/search_gate.h"
#include "app/vesk_doc.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "model/entry.h"
#include "search/search.h"
#include "support/test_support.h"
#include "volume/driver.h"
#include "worker/worker.h"

namespace {

// A search of every name below a volume's root as the search pane runs it:
// it checks in at each child, and counts its hits slowly, so that it is
// still running when the user clicks.
class GatedSearch final : public relictor::WorkerTask, public relictor::SearchResultSink {
 public:
  explicit GatedSearch(relictor::CDirectory& root) : WorkerTask(false), root_(root) {
    criteria_.pattern = "*";
    criteria_.recurse = true;
  }
  bool Step() override {
    stop_ = relictor::CurrentStopEvent();
    std::uint32_t n = 0;
    const bool done = relictor::Search(root_, criteria_, this, n);
    relictor::search_gate::EndSearch();
    completed.store(done);
    return true;
  }
  void AddResult(std::uint32_t, relictor::CDirEntry*) override {
    hits.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  void BeforeChild() override { relictor::search_gate::Checkpoint(stop_.get()); }

  std::atomic<int> hits{0};
  std::atomic<bool> completed{false};

 private:
  relictor::CDirectory& root_;
  relictor::SearchCriteria criteria_;
  std::shared_ptr<relictor::StopEvent> stop_;
};

// Counts the hits of the same search, run here.
class CountingSink final : public relictor::SearchResultSink {
 public:
  void AddResult(std::uint32_t, relictor::CDirEntry*) override { ++hits; }
  int hits = 0;
};

}  // namespace

class SearchGuardTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<apptest::Window> window_;
  CMainFrame* frame() { return window_->Frame(); }

  // Starts a recursive search of every name from the root of `volume`.
  std::unique_ptr<GatedSearch> StartSearch(relictor::CVolumeDriver* volume) {
    auto task = std::make_unique<GatedSearch>(*volume->GetRoot());
    relictor::search_gate::BeginSearch(volume);
    if (!relictor::StartWorker(*task)) {
      relictor::search_gate::EndSearch();
      return nullptr;
    }
    // Wait until it is under way.
    for (int i = 0; i < 200 && task->hits.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return task;
  }

 private slots:
  void initTestCase() {
    std::string a = apptest::Scratch() / "a.img";
    std::string b = apptest::Scratch() / "b.img";
    QVERIFY(apptest::MakeFatImage(a));
    QVERIFY(apptest::MakeFatImage(b));
    window_ = std::make_unique<apptest::Window>(QStringList{QString::fromStdString(a), QString::fromStdString(b)});
    QCOMPARE(frame()->Document()->GetDrives().size(), std::size_t{2});
  }
  void cleanupTestCase() {
    relictor::StopWorker();
    window_.reset();
  }

  void theSearchedVolumeIsReadWhileTheSearchIsHeldAndTheSearchGoesOn() {
    relictor::CVolumeDriver* c = frame()->Document()->GetDrives()[0];
    auto task = StartSearch(c);
    QVERIFY(task);
    QVERIFY(relictor::IsWorkerRunning());
    // Reading the other volume leaves the search alone.
    apptest::ClickNode(frame(), apptest::FindNode(frame(), {"D:\\"}));
    QVERIFY(frame()->View()->IsListShown());
    QVERIFY(relictor::IsWorkerRunning());
    // Folders of the searched volume are read and shown while the search
    // is held; it is not stopped.
    apptest::ExpandNode(frame(), apptest::FindNode(frame(), {"C:\\"}));
    QTreeWidgetItem* docs = apptest::FindNode(frame(), {"C:\\", "DOCS"});
    QVERIFY(docs);
    apptest::ClickNode(frame(), docs);
    QCOMPARE(frame()->View()->ShownFolder(), CFoldersTreeDlg::EntryOf(docs));
    QVERIFY(relictor::search_gate::IsSearching(c) || task->completed.load());
    // It ends on its own, having seen every name of the volume.
    for (int i = 0; i < 2000 && relictor::IsWorkerRunning(); ++i) QTest::qWait(5);
    QVERIFY(!relictor::IsWorkerRunning());
    QVERIFY(task->completed.load());
    CountingSink reference;
    std::uint32_t n = 0;
    relictor::SearchCriteria all;
    all.pattern = "*";
    all.recurse = true;
    QVERIFY(relictor::Search(*c->GetRoot(), all, &reference, n));
    QCOMPARE(task->hits.load(), reference.hits);
    relictor::StopWorker();
  }
};

RELICTOR_APP_TEST_MAIN(SearchGuardTest)
#include "test_search_guard.moc"
