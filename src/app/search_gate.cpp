#include "app/search_gate.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "model/entry.h"
#include "volume/driver.h"
#include "worker/worker.h"

namespace relictor {
namespace {

struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  const CDriver* volume = nullptr;  // the volume being searched
  bool running = false;
  int pauses = 0;         // pauses asked for by the interface thread
  bool parked = false;    // the worker sits at a safe point
  int waiting = 0;        // the worker waits for the interface thread
};

Gate& TheGate() {
  static Gate gate;
  return gate;
}

// Wakes the interface thread's event loop: a SearchPause waits there for
// the worker to reach a safe point (or to end).
void WakeInterface() {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(app->thread())) {
      dispatcher->wakeUp();
    }
  }
}

constexpr int kMaxPrepareDepth = 256;

void PrepareBelow(CDirectory& folder, int depth) {
  if (!folder.populated || depth > kMaxPrepareDepth) return;
  for (auto& child : folder.children) {
    if (!child) continue;
    PrepareForDisplay(*child);
    if (auto* sub = dynamic_cast<CDirectory*>(child.get())) PrepareBelow(*sub, depth + 1);
  }
}

}  // namespace

namespace search_gate {

void BeginSearch(const CDriver* volume) {
  Gate& g = TheGate();
  std::lock_guard lock(g.mutex);
  g.volume = volume;
  g.running = true;
  g.parked = false;
  g.waiting = 0;
}

void EndSearch() {
  Gate& g = TheGate();
  {
    std::lock_guard lock(g.mutex);
    g.running = false;
    g.volume = nullptr;
    g.parked = false;
  }
  g.changed.notify_all();
  WakeInterface();
}

bool IsSearching(const CDriver* volume) {
  Gate& g = TheGate();
  std::lock_guard lock(g.mutex);
  return g.running && (volume == nullptr || g.volume == volume);
}

namespace {

// Parks the worker while a pause is asked for; called with the lock held.
void ParkWhilePaused(Gate& g, std::unique_lock<std::mutex>& lock, const StopEvent* stop) {
  if (g.pauses == 0) return;
  g.parked = true;
  g.changed.notify_all();
  WakeInterface();
  // The stop event has no wake-up of its own, so look at it now and then:
  // a progress dialog that starts its worker stops the search while the
  // window still holds it.
  while (g.pauses > 0 && !(stop && stop->IsSignalled())) {
    g.changed.wait_for(lock, std::chrono::milliseconds(10));
  }
  g.parked = false;
}

}  // namespace

void Checkpoint(const StopEvent* stop) {
  Gate& g = TheGate();
  std::unique_lock lock(g.mutex);
  ParkWhilePaused(g, lock, stop);
}

WaitingForWindow::WaitingForWindow(const StopEvent* stop) : stop_(stop) {
  Gate& g = TheGate();
  {
    std::lock_guard lock(g.mutex);
    ++g.waiting;
  }
  g.changed.notify_all();
  WakeInterface();
}

WaitingForWindow::~WaitingForWindow() {
  // A pause that the window took while the worker waited holds from here
  // on: the worker must not go back to the tree before it is released.
  Gate& g = TheGate();
  std::unique_lock lock(g.mutex);
  --g.waiting;
  ParkWhilePaused(g, lock, stop_);
}

}  // namespace search_gate

SearchPause::SearchPause(const CDriver* volume) {
  Gate& g = TheGate();
  std::unique_lock lock(g.mutex);
  if (!g.running || (volume != nullptr && g.volume != volume)) return;
  ++g.pauses;
  holding_ = true;
  // Wait for the worker to reach a safe point, dispatching the interface
  // thread's events meanwhile (but not the user's input, which could start
  // something new in the middle of this): the worker may be waiting for the
  // window to take a row before it can get there. The worker wakes the
  // event loop when it parks, waits for the window or ends; the timer only
  // bounds a wait whose wake-up came before it began.
  while (g.running && !g.parked && g.waiting == 0) {
    if (!QCoreApplication::instance()) {
      g.changed.wait_for(lock, std::chrono::milliseconds(2));
      continue;
    }
    lock.unlock();
    {
      QTimer bound;
      bound.setSingleShot(true);
      bound.start(10);
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
    lock.lock();
  }
}

SearchPause::~SearchPause() {
  if (!holding_) return;
  Gate& g = TheGate();
  {
    std::lock_guard lock(g.mutex);
    --g.pauses;
  }
  g.changed.notify_all();
}

void PrepareForDisplay(CDirEntry& entry) {
  entry.GetSize();
  entry.GetSizeOnDisk();
  entry.GetStatusText();
}

void PrepareLoadedTree(CDirectory& root) {
  PrepareForDisplay(root);
  PrepareBelow(root, 0);
}

void ReadFolderForDisplay(CDirectory& folder) {
  SearchPause pause(folder.volume);
  if (!folder.populated) folder.Populate(true, true, false);
  if (pause.Holding() || search_gate::IsSearching(folder.volume)) {
    for (auto& child : folder.children) {
      if (child) PrepareForDisplay(*child);
    }
  }
}

}  // namespace relictor
