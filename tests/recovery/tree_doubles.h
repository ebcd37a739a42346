#pragma once
// An in-memory entry tree for the saving tests: folders that are filled by
// the test, files whose SaveData writes bytes the test chose (or fails, or
// stops the run), a prompter that answers from a script, and a progress
// display that remembers what it was shown.

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "model/entry.h"
#include "model/output_file.h"
#include "recovery/recovery.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor::test {

class FakeFolder final : public CDirectory {
 public:
  explicit FakeFolder(std::string n, std::uint64_t cluster = 0) : cluster_(cluster) { name = std::move(n); }
  bool HasSubfolders(bool) override { return false; }
  void Populate(bool, bool, bool) override {
    ++populateCalls;
    populated = true;
  }
  bool GetFirstCluster(std::uint64_t& c) const override {
    c = cluster_;
    return cluster_ != 0;
  }
  FakeFolder* Folder(const std::string& n, std::uint64_t cluster = 0) {
    return Append(std::make_unique<FakeFolder>(n, cluster));
  }
  class FakeFile* File(const std::string& n, std::vector<std::uint8_t> data);
  int populateCalls = 0;

 private:
  std::uint64_t cluster_;
};

class FakeFile final : public CFSFile {
 public:
  FakeFile(std::string n, std::vector<std::uint8_t> d) : data(std::move(d)) {
    name = std::move(n);
    size = data.size();
  }
  bool SaveData(OutputFile& out, ProgressSink* progress) override {
    if (progress && IsStopRequested()) return false;
    std::size_t n = shortAt < data.size() ? shortAt : data.size();
    if (!out.Write(data.data(), n / 2)) return false;
    if (stop) stop->Signal();  // the user cancels half way through this file
    if (progress && IsStopRequested()) return false;
    if (!out.Write(data.data() + n / 2, n - n / 2)) return false;
    if (fail) return false;
    if (n < data.size()) out.NoteProblem("sector 7 could not be read");
    AdvanceFileCounter(progress);
    return true;
  }
  std::vector<std::uint8_t> data;
  std::size_t shortAt = SIZE_MAX;  // deliver only this many bytes
  bool fail = false;               // the reader cannot deliver the file
  std::shared_ptr<StopEvent> stop;  // signalled in the middle of saving
};

inline FakeFile* FakeFolder::File(const std::string& n, std::vector<std::uint8_t> data) {
  return Append(std::make_unique<FakeFile>(n, std::move(data)));
}

inline std::vector<std::uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

struct Question {
  std::string text, caption;
  std::uint32_t style;
};

class ScriptedPrompter final : public Prompter {
 public:
  explicit ScriptedPrompter(std::deque<int> answers = {}) : answers_(std::move(answers)) {}
  int Ask(const std::string& text, const std::string& caption, std::uint32_t style) override {
    asked.push_back({text, caption, style});
    if (style == msgbox::kNotice) return msgbox::kIdOk;
    if (answers_.empty()) return msgbox::kIdNo;
    int a = answers_.front();
    answers_.pop_front();
    return a;
  }
  std::vector<Question> asked;

 private:
  std::deque<int> answers_;
};

class RecordingProgress final : public ProgressSink {
 public:
  void SetText(ProgressText which, const std::string& text) override {
    if (which == ProgressText::Status) statuses.push_back(text);
    if (which == ProgressText::Counter) counter = text;
    if (which == ProgressText::CurrentItem) items.push_back(text);
  }
  void SetRange(ProgressBar which, std::uint64_t, std::uint64_t high) override {
    if (which == ProgressBar::Overall) overallHigh = high;
  }
  void SetPos(ProgressBar which, std::uint64_t pos) override {
    if (which == ProgressBar::Overall) overallPos = pos;
  }
  std::vector<std::string> statuses, items;
  std::string counter;
  std::uint64_t overallHigh = 0, overallPos = 0;
};

}  // namespace relictor::test
