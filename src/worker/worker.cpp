#include "worker/worker.h"

#include <mutex>
#include <thread>

namespace relictor {
namespace {

struct WorkerRun {
  std::shared_ptr<StopEvent> event;
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> ended;
};

std::mutex slotMutex;
WorkerRun slot;  // guarded by slotMutex

thread_local std::shared_ptr<StopEvent> threadEvent;

void WorkerProcedure(WorkerTask* task, std::shared_ptr<StopEvent> event, std::shared_ptr<std::atomic<bool>> ended) {
  threadEvent = event;
  for (;;) {
    if (event->IsSignalled()) break;
    if (task->Step()) break;
  }
  // Close our own event: signal it for anyone still holding it, and empty
  // the slot only if it still refers to this run.
  event->Signal();
  {
    std::lock_guard lock(slotMutex);
    if (slot.event == event) slot.event.reset();
  }
  if (task->AutoStart()) task->OnWorkerDone();
  threadEvent.reset();
  ended->store(true, std::memory_order_release);
}

}  // namespace

bool StartWorker(WorkerTask& task, const EventPump& pump) {
  StopWorker(pump);
  auto event = std::make_shared<StopEvent>();
  auto ended = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard lock(slotMutex);
  slot.event = event;
  slot.ended = ended;
  try {
    slot.thread = std::thread(WorkerProcedure, &task, event, ended);
  } catch (const std::system_error&) {
    slot.event.reset();
    slot.ended.reset();
    return false;
  }
  return true;
}

bool StopWorker(const EventPump& pump) {
  std::shared_ptr<StopEvent> event;
  std::shared_ptr<std::atomic<bool>> ended;
  std::thread thread;
  {
    std::lock_guard lock(slotMutex);
    event = slot.event;
    ended = slot.ended;
    if (event) event->Signal();
  }
  if (ended) {
    // The worker may be waiting for the front end to handle one of its
    // events, so keep dispatching until the thread has ended instead of
    // blocking on it.
    while (!ended->load(std::memory_order_acquire)) {
      if (pump) pump();
      std::this_thread::yield();
    }
  }
  {
    std::lock_guard lock(slotMutex);
    if (slot.event == event) slot.event.reset();
    if (slot.ended == ended) {
      thread = std::move(slot.thread);
      slot.ended.reset();
    }
  }
  if (thread.joinable()) thread.join();
  return true;
}

bool IsStopRequested() {
  if (threadEvent) return threadEvent->IsSignalled();
  std::lock_guard lock(slotMutex);
  return slot.event && slot.event->IsSignalled();
}

bool IsWorkerRunning() {
  std::lock_guard lock(slotMutex);
  return slot.ended && !slot.ended->load(std::memory_order_acquire);
}

bool IsWorkerThread() { return threadEvent != nullptr; }

std::shared_ptr<StopEvent> CurrentStopEvent() {
  if (threadEvent) return threadEvent;
  std::lock_guard lock(slotMutex);
  return slot.event;
}

void RequestStop() {
  std::lock_guard lock(slotMutex);
  if (slot.event) slot.event->Signal();
}

StopScope::StopScope(std::shared_ptr<StopEvent> event) : previous_(std::move(threadEvent)) {
  threadEvent = std::move(event);
}

StopScope::~StopScope() { threadEvent = std::move(previous_); }

bool RunTaskHere(WorkerTask& task, const std::shared_ptr<StopEvent>& stop) {
  StopScope scope(stop);
  for (;;) {
    if (stop->IsSignalled()) return false;
    if (task.Step()) return true;
  }
}

}  // namespace relictor
