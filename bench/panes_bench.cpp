// The window's search and hex viewer, each against a baseline run in the
// same process:
//
//  - a recursive search of a 210,000-file NTFS volume for "*.jpg" (10,000
//    hits) and for "*7" (20,000 hits), through the search pane as the
//    window runs it (worker, one blocking call per row into the result
//    list, the safe point before every child), against the engine's bare
//    Search on the calling thread with a sink that only counts;
//  - the hex viewer on a 64 MiB file: reading it into the viewer's buffer
//    and opening the dialog, against copying the same bytes with memcpy;
//    then painting every page from the first row to the last, as
//    scrolling through the file does, per page.
//
//   panes_bench [WORKDIR]
//
// The image is made once in WORKDIR (default: ./bench-work) with mkntfs
// and the fixture tool, and reused.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/entry_list_ctrl.h"
#include "app/hex_dump_ctrl.h"
#include "app/hex_view_dlg.h"
#include "app/search_panes.h"
#include "bench_support.h"
#include "ntfs/ntfs_driver.h"
#include "search/search.h"
#include "volume/sector_source.h"

namespace {

using namespace relictor;
using relictor::bench::Clock;
namespace fs = std::filesystem;

constexpr int kTop = 20, kSub = 10, kFiles = 1000, kJpegs = 50;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::string Q(const std::string& s) { return "'" + s + "'"; }

bool MakeImage(const std::string& image) {
  if (fs::exists(image)) return true;
  const std::string tmp = image + ".tmp";
  fs::remove(tmp);
  std::string script;
  for (int t = 0; t < kTop; ++t) {
    for (int s = 0; s < kSub; ++s) {
      const std::string dir = "/d" + std::to_string(t) + "/s" + std::to_string(s);
      script += "mkdirs " + dir + "\nmkfiles " + dir + " " + std::to_string(kFiles) + " file 100\n";
      for (int j = 0; j < kJpegs; ++j) script += "text " + dir + "/img" + std::to_string(j) + ".jpg x\n";
    }
  }
  const std::string scriptFile = image + ".script";
  std::ofstream(scriptFile) << script;
  std::printf("making %s (a minute or two)...\n", image.c_str());
  std::fflush(stdout);
  if (bench::Shell("truncate -s 1G " + Q(tmp) + " && mkntfs -F -Q -q -T -c 4096 -s 512 -p 0 -H 0 -S 0 -L BENCH " +
                   Q(tmp) + " >/dev/null 2>&1") != 0) {
    return false;
  }
  if (bench::Shell("SOURCE_DATE_EPOCH=1700000000 " + Q(RELICTOR_NTFS_FIXTURE) + " " + Q(tmp) + " " + Q(scriptFile)) !=
      0) {
    return false;
  }
  fs::rename(tmp, image);
  return true;
}

// A fresh volume with its MFT loaded, so that both ways of searching start
// from the same state.
std::unique_ptr<CNTFSDriver> OpenLoaded(const std::string& image) {
  std::string error;
  auto source = FileSource::Open(image, error);
  if (!source) return nullptr;
  auto d = std::make_unique<CNTFSDriver>();
  d->SetDevice(source);
  if (!d->Open('C', kDriveFixed, "C:\\", false)) return nullptr;
  d->GetRoot()->Populate(true, true, true);
  return d;
}

class CountingSink final : public SearchResultSink {
 public:
  void AddResult(std::uint32_t, CDirEntry*) override { ++hits; }
  std::uint32_t hits = 0;
};

double BareSearch(const std::string& image, const char* pattern, std::uint32_t& hits) {
  auto d = OpenLoaded(image);
  SearchCriteria c;
  c.pattern = pattern;
  c.recurse = true;
  CountingSink sink;
  std::uint32_t counter = 0;
  auto t0 = Clock::now();
  Search(*d->GetRoot(), c, &sink, counter);
  auto t1 = Clock::now();
  hits = sink.hits;
  return Seconds(t0, t1);
}

double WindowSearch(const std::string& image, const char* pattern, std::uint32_t& rows) {
  auto d = OpenLoaded(image);
  CSearchDlg pane;
  CSearchResultDlg results;
  pane.SetResultPane(&results);
  pane.FillVolumes({d.get()});
  pane.RecurseBox()->setChecked(true);
  pane.PatternEdit()->setText(QString::fromLatin1(pattern));
  auto t0 = Clock::now();
  pane.SearchButton()->click();
  while (pane.Searching()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  auto t1 = Clock::now();
  rows = static_cast<std::uint32_t>(results.List()->Count());
  return Seconds(t0, t1);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A 64 MiB file whose bytes come from memory, as a reader's SaveData
// would write them.
class MemoryFile final : public CFSFile {
 public:
  explicit MemoryFile(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {
    size = allocatedSize = bytes.size();
    name = "big.bin";
  }
  bool SaveData(OutputFile& out, ProgressSink*) override {
    for (std::size_t at = 0; at < bytes_.size(); at += 65536) {
      if (!out.Write(bytes_.data() + at, std::min<std::size_t>(65536, bytes_.size() - at))) return false;
    }
    return true;
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string work = argc > 1 ? argv[1] : "bench-work";
  fs::create_directories(work);
  const std::string image = work + "/panes-210k.img";
  if (!MakeImage(image)) return 1;

  std::printf("search of %d files (recursive), median of 3 runs each:\n", kTop * kSub * (kFiles + kJpegs));
  for (const char* pattern : {"*.jpg", "*7"}) {
    std::vector<double> bare, window;
    std::uint32_t hits = 0, rows = 0;
    for (int run = 0; run < 3; ++run) {
      bare.push_back(BareSearch(image, pattern, hits));
      window.push_back(WindowSearch(image, pattern, rows));
    }
    const double b = Median(bare), w = Median(window);
    std::printf("  %-6s bare Search %7.3f s (%u hits)   window %7.3f s (%u rows)   ratio %.2f\n", pattern, b, hits,
                w, rows, w / b);
  }

  // The hex viewer on 64 MiB.
  const std::size_t kBytes = std::size_t{64} << 20;
  std::vector<std::uint8_t> bytes(kBytes);
  for (std::size_t i = 0; i < kBytes; ++i) bytes[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  std::vector<std::uint8_t> copy(kBytes);
  auto c0 = Clock::now();
  std::memcpy(copy.data(), bytes.data(), kBytes);
  auto c1 = Clock::now();
  const double baseline = Seconds(c0, c1);

  MemoryFile file(bytes);
  auto o0 = Clock::now();
  HexViewData data = ReadForHexView(file);
  CHexViewDlg dlg(data.bytes.data(), data.bytes.size(), QString());
  dlg.show();
  QCoreApplication::processEvents();
  auto o1 = Clock::now();
  const double open = Seconds(o0, o1);

  MFCDumpCtrl* dump = dlg.Dump();
  QScrollBar* bar = dump->verticalScrollBar();
  const int pages = bar->maximum() / std::max(1, bar->pageStep()) + 1;
  auto s0 = Clock::now();
  for (int v = 0; v <= bar->maximum(); v += bar->pageStep()) {
    bar->setValue(v);
    dump->viewport()->repaint();
  }
  auto s1 = Clock::now();
  const double scroll = Seconds(s0, s1);
  std::printf("hex viewer, 64 MiB (%llu units per row, %d pages):\n",
              static_cast<unsigned long long>(dump->Layout().unitsPerRow), pages);
  std::printf("  memcpy of 64 MiB   %7.3f s\n", baseline);
  std::printf("  read and open      %7.3f s   ratio %.1f\n", open, open / baseline);
  std::printf("  scroll every page  %7.3f s   %.3f ms per page\n", scroll, 1000.0 * scroll / pages);
  return 0;
}
