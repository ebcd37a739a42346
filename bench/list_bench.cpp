// The file list on a folder of 100,000 NTFS entries: the time from handing
// the list its rows to the first paint, and the time to sort by each
// column, against the same rows built as items of a QStandardItemModel
// shown in a QTreeView in the same run. Offscreen, so no window system
// costs count.

#include <QApplication>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/entry_list_ctrl.h"
#include "bench_support.h"
#include "ntfs/ntfs_driver.h"
#include "volume/sector_source.h"

using namespace relictor;
using relictor::bench::Clock;

namespace {

constexpr int kFiles = 100000;
constexpr int kRuns = 3;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Paints the widget once, as the first paint after a model reset.
void Paint(QWidget& w) {
  QImage target(w.size(), QImage::Format_ARGB32_Premultiplied);
  w.render(&target);
}

// The same rows as items: the texts and icon the list shows, made for
// every row up front.
std::unique_ptr<QStandardItemModel> BuildItems(const std::vector<std::unique_ptr<CDirEntry>>& children,
                                               const EntryListModel& texts) {
  auto model = std::make_unique<QStandardItemModel>(0, 5);
  model->setHorizontalHeaderLabels({"FileName", "Size", "Type", "Modified Date", "Status"});
  for (const auto& c : children) {
    CDirEntry& e = *c;
    QList<QStandardItem*> row;
    auto* name = new QStandardItem(texts.Icons().Icon(e), texts.CellText(e, EntryListModel::kName));
    row << name;
    for (auto key : {EntryListModel::kSize, EntryListModel::kType, EntryListModel::kModified, EntryListModel::kStatus}) {
      auto* item = new QStandardItem(texts.CellText(e, key));
      if (key == EntryListModel::kSize) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      row << item;
    }
    model->appendRow(row);
  }
  return model;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::string work = argc > 1 ? argv[1] : "bench-work";
  std::filesystem::create_directories(work);
  const std::string image = work + "/list-100k.img";
  if (!std::filesystem::exists(image)) {
    const std::string script = work + "/list-100k.script";
    std::FILE* f = std::fopen(script.c_str(), "w");
    if (!f) return 1;
    // Two sizes of files that fit in their records, a subfolder, and every
    // 50th file deleted, so that sizes, folders and ratings differ.
    std::fprintf(f, "mkdir /big\nmkfiles /big %d f 100\nmkfiles /big %d g 600\nmkdir /big/sub\n", kFiles / 2,
                 kFiles / 2);
    for (int i = 50; i <= kFiles / 2; i += 50) std::fprintf(f, "delete /big/f%06d\n", i);
    std::fclose(f);
    if (bench::Shell("truncate -s 400M '" + image + "' && mkntfs -F -Q -q -T -c 4096 -s 512 -p 0 -H 0 -S 0 -L BIG '" +
                     image + "' >/dev/null 2>&1 && SOURCE_DATE_EPOCH=1700000000 '" RELICTOR_NTFS_FIXTURE "' '" +
                     image + "' '" + script + "'") != 0) {
      std::filesystem::remove(image);
      return 1;
    }
  }
  QApplication app(argc, argv);

  std::string error;
  auto source = FileSource::Open(image, error);
  if (!source) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  CNTFSDriver volume;
  volume.SetDevice(source);
  if (!volume.Open('C', kDriveFixed, "C:\\", false)) return 1;
  volume.GetRoot()->Populate(true, false, false);
  CDirectory* big = nullptr;
  for (auto& c : volume.GetRoot()->children)
    if (c->name == "big") big = static_cast<CDirectory*>(c.get());
  if (!big) return 1;
  big->Populate(true, false, false);
  const auto& children = big->children;
  std::printf("folder: %zu entries\n", children.size());

  CEntryListCtrl list;
  list.resize(1000, 700);
  list.show();
  QTreeView baseline;
  baseline.setUniformRowHeights(true);
  baseline.setRootIsDecorated(false);
  baseline.resize(1000, 700);
  baseline.show();
  app.processEvents();

  std::vector<double> showList, showItems;
  std::vector<std::vector<double>> sortList(5), sortItems(5);
  for (int run = 0; run < kRuns; ++run) {
    list.SetEntries(nullptr);
    baseline.setModel(nullptr);
    app.processEvents();

    auto t0 = Clock::now();
    list.SetEntries(&children);  // sorted on FileName, as when a folder is opened
    Paint(list);
    showList.push_back(Seconds(t0));

    t0 = Clock::now();
    auto items = BuildItems(children, *list.Model());
    baseline.setModel(items.get());
    baseline.sortByColumn(0, Qt::AscendingOrder);
    Paint(baseline);
    showItems.push_back(Seconds(t0));

    for (int column = 0; column < 5; ++column) {
      for (Qt::SortOrder order : {Qt::DescendingOrder, Qt::AscendingOrder}) {
        t0 = Clock::now();
        list.Sort(column, order);
        Paint(list);
        sortList[std::size_t(column)].push_back(Seconds(t0));
        t0 = Clock::now();
        baseline.sortByColumn(column, order);
        Paint(baseline);
        sortItems[std::size_t(column)].push_back(Seconds(t0));
      }
    }
    baseline.setModel(nullptr);
  }

  const char* names[] = {"FileName", "Size", "Type", "Modified Date", "Status"};
  std::printf("%-24s %12s %14s %8s\n", "", "list (ms)", "items (ms)", "ratio");
  auto line = [](const char* what, double a, double b) {
    std::printf("%-24s %12.1f %14.1f %8.3f\n", what, a * 1000, b * 1000, a / b);
  };
  line("open to first paint", Median(showList), Median(showItems));
  for (int c = 0; c < 5; ++c) {
    std::string what = std::string("sort by ") + names[c];
    line(what.c_str(), Median(sortList[std::size_t(c)]), Median(sortItems[std::size_t(c)]));
  }
  return 0;
}
