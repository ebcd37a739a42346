#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor {
namespace {

using namespace std::chrono_literals;

// Finishes on its first step.
class OneStep final : public WorkerTask {
 public:
  bool Step() override {
    ++steps;
    return true;
  }
  void OnWorkerDone() override { done = true; }
  std::atomic<int> steps{0};
  std::atomic<bool> done{false};
};

// One step that loops until it sees the stop request, as long work does.
class LoopsUntilStopped final : public WorkerTask {
 public:
  explicit LoopsUntilStopped(bool autoStart = true) : WorkerTask(autoStart) {}
  bool Step() override {
    entered = true;
    while (!IsStopRequested()) std::this_thread::yield();
    sawStop = true;
    return true;
  }
  void OnWorkerDone() override { ++doneCount; }
  std::atomic<bool> entered{false}, sawStop{false};
  std::atomic<int> doneCount{0};
};

// Never finishes by itself: the step loop must end at the stop request
// between steps.
class EndlessSteps final : public WorkerTask {
 public:
  bool Step() override {
    ++steps;
    return false;
  }
  std::atomic<long> steps{0};
};

void WaitFor(const std::atomic<bool>& flag) {
  auto until = std::chrono::steady_clock::now() + 10s;
  while (!flag && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(flag.load());
}

TEST(Worker, StepFinishedAtOnceSendsTheDoneNotificationAndEnds) {
  OneStep task;
  ASSERT_TRUE(StartWorker(task));
  WaitFor(task.done);
  StopWorker();
  EXPECT_EQ(task.steps, 1);
  EXPECT_FALSE(IsWorkerRunning());
}

TEST(Worker, WithoutAutoStartNoDoneNotification) {
  class Quiet final : public WorkerTask {
   public:
    Quiet() : WorkerTask(false) {}
    bool Step() override { return true; }
    void OnWorkerDone() override { done = true; }
    std::atomic<bool> done{false};
  } task;
  ASSERT_TRUE(StartWorker(task));
  StopWorker();
  EXPECT_FALSE(task.done);
}

TEST(Worker, StopWhileAStepLoopsEndsTheLoopAndTheThread) {
  LoopsUntilStopped task;
  ASSERT_TRUE(StartWorker(task));
  WaitFor(task.entered);
  EXPECT_TRUE(IsWorkerRunning());
  EXPECT_FALSE(IsStopRequested());  // asked from this thread, about the running worker
  StopWorker();
  EXPECT_TRUE(task.sawStop);
  EXPECT_FALSE(IsWorkerRunning());
  EXPECT_EQ(task.doneCount, 1);
  EXPECT_FALSE(IsStopRequested());  // the slot is empty again
}

TEST(Worker, StopEndsAStepLoopThatNeverFinishes) {
  EndlessSteps task;
  ASSERT_TRUE(StartWorker(task));
  while (task.steps < 100) std::this_thread::yield();
  StopWorker();
  long after = task.steps;
  std::this_thread::sleep_for(5ms);
  EXPECT_EQ(task.steps, after);
}

TEST(Worker, StopWithNoWorkerReturnsAtOnce) {
  EXPECT_TRUE(StopWorker());
  EXPECT_TRUE(StopWorker());
  EXPECT_FALSE(IsWorkerRunning());
  EXPECT_FALSE(IsStopRequested());
}

TEST(Worker, TwoWorkersInTurnEachGetAFreshStopEvent) {
  LoopsUntilStopped first;
  ASSERT_TRUE(StartWorker(first));
  WaitFor(first.entered);
  StopWorker();
  ASSERT_TRUE(first.sawStop);

  // The second run must not see the first one's stop.
  OneStep second;
  ASSERT_TRUE(StartWorker(second));
  WaitFor(second.done);
  StopWorker();
  EXPECT_EQ(second.steps, 1);
}

TEST(Worker, StartingAWorkerStopsTheRunningOneWithoutTouchingTheNewOne) {
  LoopsUntilStopped search(false);
  ASSERT_TRUE(StartWorker(search));
  WaitFor(search.entered);
  // A progress dialog wants the slot while the search runs.
  LoopsUntilStopped dialog;
  ASSERT_TRUE(StartWorker(dialog));
  EXPECT_TRUE(search.sawStop);
  WaitFor(dialog.entered);
  std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(dialog.sawStop) << "the first worker's end signalled the second worker's event";
  StopWorker();
  EXPECT_TRUE(dialog.sawStop);
}

TEST(Worker, PumpIsCalledWhileStoppingSoAWaitingWorkerCanFinish) {
  // The worker waits for the front end to handle an event (as a
  // synchronous window message would); only the pump handles it.
  class WaitsForFrontEnd final : public WorkerTask {
   public:
    bool Step() override {
      entered = true;
      while (!IsStopRequested()) std::this_thread::yield();
      posted = true;
      while (!handled) std::this_thread::yield();
      return true;
    }
    std::atomic<bool> entered{false}, posted{false}, handled{false};
  } task;
  ASSERT_TRUE(StartWorker(task));
  WaitFor(task.entered);
  int pumpCalls = 0;
  StopWorker([&] {
    ++pumpCalls;
    if (task.posted) task.handled = true;
    return true;
  });
  EXPECT_TRUE(task.handled);
  EXPECT_GT(pumpCalls, 0);
  EXPECT_FALSE(IsWorkerRunning());
}

TEST(Worker, RunTaskHereAnswersStopRequestsFromItsOwnEvent) {
  auto event = std::make_shared<StopEvent>();
  class StopsItself final : public WorkerTask {
   public:
    explicit StopsItself(std::shared_ptr<StopEvent> e) : e_(std::move(e)) {}
    bool Step() override {
      if (++steps == 3) e_->Signal();
      seen = IsStopRequested();
      return false;
    }
    std::shared_ptr<StopEvent> e_;
    int steps = 0;
    bool seen = false;
  } task(event);
  EXPECT_FALSE(RunTaskHere(task, event));
  EXPECT_EQ(task.steps, 3);
  EXPECT_TRUE(task.seen);
  EXPECT_FALSE(IsStopRequested()) << "the scope must end with the run";
}

TEST(Worker, InlineRunnerInsideAWorkerSharesItsStopEvent) {
  // Long work that starts more long work: the inner task must see a stop
  // of the outer worker.
  class Inner final : public WorkerTask {
   public:
    bool Step() override {
      while (!IsStopRequested()) std::this_thread::yield();
      return false;
    }
  };
  class Outer final : public WorkerTask {
   public:
    bool Step() override {
      entered = true;
      Inner inner;
      InlineJobRunner runner;
      innerFinished = runner.Run(inner, JobInfo{});
      returned = true;
      return true;
    }
    std::atomic<bool> entered{false}, returned{false}, innerFinished{true};
  } outer;
  ASSERT_TRUE(StartWorker(outer));
  WaitFor(outer.entered);
  StopWorker();
  EXPECT_TRUE(outer.returned);
  EXPECT_FALSE(outer.innerFinished);
}

class CountingSink final : public ProgressSink {
 public:
  void SetText(ProgressText which, const std::string& text) override {
    if (which == ProgressText::Counter) counter = text;
  }
  void SetRange(ProgressBar, std::uint64_t, std::uint64_t high) override { range = high; }
  void SetPos(ProgressBar, std::uint64_t pos) override { position = pos; }
  std::string counter;
  std::uint64_t range = 0, position = 0;
};

TEST(ProgressSink, FileCounterCountsUpToTheTotal) {
  CountingSink sink;
  sink.BeginFileCounter(3);
  EXPECT_EQ(sink.counter, "0/3");
  EXPECT_EQ(sink.range, 3u);
  sink.AdvanceFileCounter();
  sink.AdvanceFileCounter();
  EXPECT_EQ(sink.counter, "2/3");
  EXPECT_EQ(sink.position, 2u);
  EXPECT_EQ(sink.FilesDone(), 2u);
}

}  // namespace
}  // namespace relictor
