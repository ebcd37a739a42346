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
  int pauses = 0;         // pauses of the search asked for by the interface thread
  bool parked = false;    // the worker sits at a safe point
  int waiting = 0;        // the worker waits for the interface thread
  // The interface thread's pauses of every kind; background readers park
  // for any of them, whatever volume it names.
  int holds = 0;
  int readers = 0;        // background reads that hold the volumes
  int readersParked = 0;  // those of them parked at a safe point
  int readersWanting = 0; // background reads waiting for the search to park
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

// Whether the search must stay at its safe point: the window holds it, or
// a background read has the volumes or waits for them.
bool SearchHeld(const Gate& g) { return g.pauses > 0 || g.readers > 0 || g.readersWanting > 0; }

// Whether a background read may use the volumes: the window holds no
// pause, no other background read holds them (one thread at a time), no
// worker other than the search owns them (a scan, a save), and the search
// sits at a safe point.
bool ReadersFree(const Gate& g) {
  if (g.holds > 0 || g.readers > 0) return false;
  if (g.running) return g.parked || g.waiting > 0;
  return !IsWorkerRunning();
}

// Parks the worker while a pause is asked for; called with the lock held.
void ParkWhilePaused(Gate& g, std::unique_lock<std::mutex>& lock, const StopEvent* stop) {
  if (!SearchHeld(g)) return;
  g.parked = true;
  g.changed.notify_all();
  WakeInterface();
  // The stop event has no wake-up of its own, so look at it now and then:
  // a progress dialog that starts its worker stops the search while the
  // window still holds it.
  while (SearchHeld(g) && !(stop && stop->IsSignalled())) {
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

BackgroundRead::BackgroundRead(const StopEvent& stop) : stop_(stop) {
  Gate& g = TheGate();
  std::unique_lock lock(g.mutex);
  ++g.readersWanting;
  g.changed.notify_all();
  // A scan or a save that ends sends no wake-up, and neither does the
  // stop event: the wait looks again now and then.
  while (!ReadersFree(g) && !stop_.IsSignalled()) g.changed.wait_for(lock, std::chrono::milliseconds(10));
  --g.readersWanting;
  if (!stop_.IsSignalled()) {
    ++g.readers;
    holding_ = true;
  }
  g.changed.notify_all();
}

BackgroundRead::~BackgroundRead() {
  if (!holding_) return;
  Gate& g = TheGate();
  {
    std::lock_guard lock(g.mutex);
    --g.readers;
  }
  g.changed.notify_all();
  WakeInterface();
}

bool BackgroundRead::SafePoint() {
  if (!holding_) return false;
  Gate& g = TheGate();
  std::unique_lock lock(g.mutex);
  if (g.holds > 0) {
    ++g.readersParked;
    g.changed.notify_all();
    WakeInterface();
    // Back to the volumes once the window lets go of them and a search
    // that ran meanwhile is at a safe point again (it parks for this read).
    while (!(g.holds == 0 && (!g.running || g.parked || g.waiting > 0)) && !stop_.IsSignalled())
      g.changed.wait_for(lock, std::chrono::milliseconds(10));
    --g.readersParked;
    g.changed.notify_all();
  }
  return !stop_.IsSignalled();
}

}  // namespace search_gate

SearchPause::SearchPause(const CDriver* volume) {
  Gate& g = TheGate();
  std::unique_lock lock(g.mutex);
  // Counted even when nothing runs: no background read starts meanwhile.
  ++g.holds;
  if (g.running && (volume == nullptr || g.volume == volume)) {
    ++g.pauses;
    holding_ = true;
  }
  if (!holding_ && g.readers == g.readersParked) return;
  // Wait for the worker to reach a safe point, dispatching the interface
  // thread's events meanwhile (but not the user's input, which could start
  // something new in the middle of this): the worker may be waiting for the
  // window to take a row before it can get there. The worker wakes the
  // event loop when it parks, waits for the window or ends; the timer only
  // bounds a wait whose wake-up came before it began.
  while ((holding_ && g.running && !g.parked && g.waiting == 0) || g.readersParked < g.readers) {
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
  Gate& g = TheGate();
  {
    std::lock_guard lock(g.mutex);
    --g.holds;
    if (holding_) --g.pauses;
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

}  // namespace relictor
