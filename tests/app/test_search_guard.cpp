// A background search and the window reading the same volume: before the
// navigation pane reads or looks at a folder of a volume, a search running
// there stops, so no folder or reader is used by two threads at once
// (this binary runs under ThreadSanitizer too). Without a search pane the
// window stops any worker that runs while it takes input.

#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/entry_list_ctrl.h"
#include "app/folders_tree_dlg.h"
#include "app/main_frame.h"
#include "app/relictor_app.h"
#include "app/vesk_doc.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "search/search.h"
#include "support/test_support.h"
#include "volume/driver.h"
#include "worker/worker.h"

namespace {

// Counts hits on the worker thread, slowly, so that the search is still
// running when the user clicks.
class SlowSink final : public relictor::SearchResultSink {
 public:
  void AddResult(std::uint32_t, relictor::CDirEntry*) override {
    hits.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  std::atomic<int> hits{0};
};

// The search pane as the window sees it: one search, on one volume.
class FakeSearchPane final : public BackgroundSearch {
 public:
  explicit FakeSearchPane(const relictor::CVolumeDriver* volume) : volume_(volume) {}
  bool IsSearching(const relictor::CVolumeDriver* volume) const override {
    return relictor::IsWorkerRunning() && (volume == nullptr || volume == volume_);
  }
  void StopSearch() override {
    ++stops;
    relictor::StopWorker();
  }
  int stops = 0;

 private:
  const relictor::CVolumeDriver* volume_;
};

}  // namespace

class SearchGuardTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<apptest::Window> window_;
  CMainFrame* frame() { return window_->Frame(); }

  // Starts a recursive search of every name from the root of `volume`.
  std::unique_ptr<relictor::SearchTask> StartSearch(relictor::CVolumeDriver* volume, SlowSink& sink) {
    relictor::SearchCriteria criteria;
    criteria.pattern = "*";
    criteria.recurse = true;
    auto task = std::make_unique<relictor::SearchTask>(*volume->GetRoot(), criteria, &sink);
    if (!relictor::StartWorker(*task)) return nullptr;
    // Wait until it is under way.
    for (int i = 0; i < 200 && sink.hits.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
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

  void withoutASearchPaneAnyRunningWorkerStops() {
    relictor::CVolumeDriver* c = frame()->Document()->GetDrives()[0];
    SlowSink sink;
    auto task = StartSearch(c, sink);
    QVERIFY(task);
    QVERIFY(relictor::IsWorkerRunning());
    apptest::ExpandNode(frame(), apptest::FindNode(frame(), {"C:\\"}));
    QVERIFY(!relictor::IsWorkerRunning());
    QVERIFY(task->Searching() || !task->Completed());
    QVERIFY(apptest::FindNode(frame(), {"C:\\", "DOCS"}));
  }

  void aSearchOnAnotherVolumeGoesOnAndOneOnTheSameVolumeStops() {
    relictor::CVolumeDriver* c = frame()->Document()->GetDrives()[0];
    FakeSearchPane pane(c);
    window_->App()->SetBackgroundSearch(&pane);
    SlowSink sink;
    auto task = StartSearch(c, sink);
    QVERIFY(task);
    // Reading the other volume leaves the search alone.
    apptest::ClickNode(frame(), apptest::FindNode(frame(), {"D:\\"}));
    QCOMPARE(pane.stops, 0);
    QVERIFY(frame()->View()->IsListShown());
    // Looking at a folder of the searched volume stops it first, even a
    // folder read before.
    apptest::ClickNode(frame(), apptest::FindNode(frame(), {"C:\\", "DOCS"}));
    QCOMPARE(pane.stops, 1);
    QVERIFY(!relictor::IsWorkerRunning());
    QCOMPARE(frame()->View()->ShownFolder(),
             CFoldersTreeDlg::EntryOf(apptest::FindNode(frame(), {"C:\\", "DOCS"})));
    window_->App()->SetBackgroundSearch(nullptr);
  }
};

RELICTOR_APP_TEST_MAIN(SearchGuardTest)
#include "test_search_guard.moc"
