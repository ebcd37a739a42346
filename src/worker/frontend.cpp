#include "worker/frontend.h"

#include <cstdio>

namespace relictor {

void ProgressSink::BeginFileCounter(std::uint32_t total) {
  filesDone_ = 0;
  filesTotal_ = total;
  if (HasBar(ProgressBar::Overall)) {
    SetRange(ProgressBar::Overall, 0, total);
    SetPos(ProgressBar::Overall, 0);
  }
  if (HasText(ProgressText::Counter)) SetText(ProgressText::Counter, "0/" + std::to_string(total));
}

void ProgressSink::AdvanceFileCounter() {
  ++filesDone_;
  if (HasBar(ProgressBar::Overall)) SetPos(ProgressBar::Overall, filesDone_);
  if (HasText(ProgressText::Counter)) {
    SetText(ProgressText::Counter, std::to_string(filesDone_) + "/" + std::to_string(filesTotal_));
  }
}

bool InlineJobRunner::Run(WorkerTask& task, const JobInfo&) {
  task.SetProgress(sink_);
  // Inside other long work the inner task shares the outer one's stop
  // event, so that one stop request ends both.
  auto event = IsWorkerThread() ? CurrentStopEvent() : std::make_shared<StopEvent>();
  bool finished = RunTaskHere(task, event);
  task.SetProgress(nullptr);
  return finished;
}

}  // namespace relictor
