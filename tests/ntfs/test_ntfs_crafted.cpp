// The NTFS reader over small volumes made byte by byte: the cases real
// tools do not make on demand (an MFT continued through an attribute list,
// torn and old-style records, lost parents of every kind, failed reads,
// damaged run lists, encrypted and compressed data), and the long work of
// loading the MFT with its progress and stop.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

#include "lznt1_writer.h"
#include "ntfs/ntfs_driver.h"
#include "ntfs_helpers.h"
#include "recovery/recovery.h"
#include "scan/deep_scan.h"
#include "search/search.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor::test {
namespace {

constexpr std::uint32_t kBpc = 4096;
constexpr std::uint64_t kClusters = 512;  // 2 MiB
constexpr std::uint64_t kMftLcn = 16;
constexpr std::uint64_t kRecords = 64;  // clusters 16 to 31
constexpr std::uint64_t kFirstFree = 64;

// A JPEG of `size` bytes that the signature rules measure exactly: the
// start marker, one application segment, a scan, filler and the end marker.
Bytes MinimalJpeg(std::size_t size) {
  Bytes j = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0,
             0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 0x3F, 0};
  j.resize(size - 2, 0x55);
  j.push_back(0xFF);
  j.push_back(0xD9);
  return j;
}

// A file record with non-resident data in one run.
Bytes RunFile(std::uint64_t parent, const std::u16string& name, std::uint64_t lcn, std::uint64_t size,
              std::uint16_t flags = kNtfsRecordInUse, std::uint64_t nameSize = 0) {
  const std::uint64_t clusters = (size + kBpc - 1) / kBpc;
  NonResidentSpec d;
  d.runs = EncodeRuns({{clusters, static_cast<std::int64_t>(lcn)}});
  d.lastVcn = clusters - 1;
  d.allocatedSize = clusters * kBpc;
  d.realSize = d.initializedSize = size;
  return RecordBuilder(1024, flags).FileName({parent, name, kNtfsWin32Name, 0x20, nameSize, 0}).NonResident(d).Build();
}

std::u16string Ascii16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class RecordingRunner final : public JobRunner, public ProgressSink {
 public:
  bool Run(WorkerTask& task, const JobInfo& info) override {
    infos.push_back(info);
    event = std::make_shared<StopEvent>();
    task.SetProgress(this);
    const bool finished = RunTaskHere(task, event);
    task.SetProgress(nullptr);
    return finished;
  }
  void SetText(ProgressText which, const std::string& text) override {
    texts[which].push_back(text);
    if (which == ProgressText::Counter && stopAfterCounters >= 0 && ++counters > stopAfterCounters) event->Signal();
  }
  void SetRange(ProgressBar which, std::uint64_t, std::uint64_t high) override { ranges[which] = high; }
  void SetPos(ProgressBar which, std::uint64_t pos) override { positions[which] = pos; }

  std::vector<JobInfo> infos;
  std::map<ProgressText, std::vector<std::string>> texts;
  std::map<ProgressBar, std::uint64_t> ranges, positions;
  int stopAfterCounters = -1;
  int counters = 0;
  std::shared_ptr<StopEvent> event;
};

class NtfsCrafted : public ::testing::Test {
 protected:
  NtfsCrafted() : v_(kBpc, kClusters, kMftLcn, kRecords) {}
  std::unique_ptr<CNTFSDriver> Open(Host* host = nullptr) { return OpenNtfsBytes(v_.ImageBytes(), host); }
  CraftedVolume v_;
};

TEST_F(NtfsCrafted, OpensWithTheGeometryAndRangeOfItsBootSector) {
  v_.SetRecord(16, ResidentFile(5, u"a.txt", {'a'}));
  auto d = Open();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->FileSystemName(), "NTFS");
  EXPECT_STREQ(d->ClassName(), "CNTFSDriver");
  EXPECT_TRUE(d->KeepsAccessTimeOfDay());
  EXPECT_EQ(d->BytesPerCluster(), kBpc);
  EXPECT_EQ(d->ClusterCount(), kClusters);
  EXPECT_EQ(d->RecordSize(), 1024u);
  EXPECT_EQ(d->RecordCount(), kRecords);
  // The deep scan is offered clusters 2 to the last one of the volume.
  EXPECT_EQ(d->FirstDataCluster(), 2u);
  EXPECT_EQ(d->LastDataCluster(), kClusters - 1);
  EXPECT_EQ(d->FirstCluster(), 2u);
  EXPECT_EQ(d->LastCluster(), kClusters - 1);
  EXPECT_EQ(ScanRangeMaximum(*d), kClusters - 1);
  EXPECT_FALSE(d->IsMftLoaded()) << "the MFT is read when a folder is first read, not at open";
  ASSERT_EQ(ChildNames(d->GetRoot()), (std::vector<std::string>{"LostFiles", "DeletedFiles", "a.txt"}));
  EXPECT_TRUE(d->IsMftLoaded());
}

TEST_F(NtfsCrafted, BootSectorsAndMftsThatCannotBeReadFailTheOpenWithAReason) {
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint64_t value;
    int width;
  };
  const Case cases[] = {
      {"2048 bytes per sector", 11, 2048, 2},
      {"3 sectors per cluster", 13, 3, 1},
      {"no end marker", 510, 0, 2},
      {"MFT past the volume", 48, kClusters + 5, 8},
      {"no MFT record where the MFT should start", 48, kClusters - 1, 8},
      {"records of 3 clusters (not a power of two)", 64, 3, 1},
  };
  for (const Case& c : cases) {
    Bytes b = v_.ImageBytes();
    if (c.width == 1) b[c.offset] = static_cast<std::uint8_t>(c.value);
    if (c.width == 2) Put16(b, c.offset, static_cast<std::uint16_t>(c.value));
    if (c.width == 8) Put64(b, c.offset, c.value);
    auto d = std::make_unique<CNTFSDriver>();
    d->SetDevice(std::make_shared<MemorySource>(b));
    EXPECT_FALSE(d->Open('C', kDriveFixed, "C:\\", false)) << c.what;
    EXPECT_FALSE(d->OpenError().empty()) << c.what;
  }
  // 128 sectors per cluster is allowed; a record size of 2 clusters on 4 KiB
  // clusters is 8 KiB.
  NtfsGeometry g;
  std::string reason;
  Bytes b(v_.ImageBytes().begin(), v_.ImageBytes().begin() + 512);
  b[13] = 128;
  EXPECT_TRUE(ParseNtfsBootSector(ByteSpan(b), g, reason)) << reason;
  b[13] = 8;
  Put32(b, 64, 2);
  ASSERT_TRUE(ParseNtfsBootSector(ByteSpan(b), g, reason)) << reason;
  EXPECT_EQ(g.recordSize, 8192u);
}

TEST_F(NtfsCrafted, AnMftSizeThatIsNotAWholeNumberOfRecordsDropsThePartOne) {
  RecordBuilder r;
  r.Number(0).FileName({5, u"$MFT", kNtfsWin32AndDosName, 6});
  NonResidentSpec d;
  d.runs = EncodeRuns({{16, static_cast<std::int64_t>(kMftLcn)}});
  d.lastVcn = 15;
  d.allocatedSize = 16 * kBpc;
  d.realSize = d.initializedSize = 20 * 1024 + 500;
  r.NonResident(d);
  v_.SetRecord(0, r.Build());
  auto drv = Open();
  ASSERT_TRUE(drv);
  EXPECT_EQ(drv->RecordCount(), 20u);
}

TEST_F(NtfsCrafted, TwoClustersOfHalfAKilobyteMakeOneRecord) {
  CraftedVolume small(512, 4096, 64, 64);
  small.SetRecord(20, ResidentFile(5, u"halves.txt", {'h', 'i'}));
  auto d = OpenNtfsBytes(small.ImageBytes());
  ASSERT_TRUE(d);
  std::vector<std::uint8_t> record;
  ASSERT_TRUE(d->ReadMftRecord(20, record));
  EXPECT_EQ(record, RecordBuilder(1024).FileName({5, u"halves.txt", kNtfsWin32Name, 0x20, 2, 2})
                        .Resident(kNtfsData, {'h', 'i'})
                        .Build(false));
  // A failed read of the record's second cluster fails the record.
  auto source = std::make_shared<MemorySource>(small.ImageBytes());
  source->FailReadsIn(small.RecordOffset(20) + 512, small.RecordOffset(20) + 1024);
  auto broken = OpenNtfs(source);
  ASSERT_TRUE(broken);
  EXPECT_FALSE(broken->ReadMftRecord(20, record));
  EXPECT_FALSE(broken->ReadMftRecord(64, record)) << "past the MFT";
}

TEST_F(NtfsCrafted, AnMftContinuedInAnExtensionRecordIsReadWhole) {
  // Record 0's own extent covers the first 32 records (8 clusters); the
  // rest of the MFT lies far away and is described by record 15, which
  // record 0's attribute list names.
  constexpr std::uint64_t kFarLcn = 300;
  Bytes list;
  PutBytes(list, 0, ListEntry(kNtfsFileName, 0, 0));
  PutBytes(list, 32, ListEntry(kNtfsData, 0, 2, 0));
  PutBytes(list, 64, ListEntry(kNtfsData, 15, 0, 8));
  v_.SetRecord(0, v_.Record0(EncodeRuns({{8, static_cast<std::int64_t>(kMftLcn)}}), 8, list, 7));
  NonResidentSpec second;
  second.runs = EncodeRuns({{8, static_cast<std::int64_t>(kFarLcn)}});
  second.startVcn = 8;
  second.lastVcn = 15;
  v_.SetRecord(15, RecordBuilder().Base(std::uint64_t{1} << 48).NonResident(second).Build());
  // Record 40 lies in the far part; so does a folder at 33 with a child.
  auto far = [&](std::uint64_t n, const Bytes& r) { v_.SetRecordAt(kFarLcn * kBpc + (n - 32) * 1024, r); };
  far(40, ResidentFile(5, u"far.txt", {'f', 'a', 'r'}));
  far(33, Folder(5, u"farfolder"));
  far(34, ResidentFile(33, u"inner.txt", {'i'}));
  // What lies where record 40 would be without the extension is not it.
  v_.SetRecord(40, ResidentFile(5, u"decoy.txt", {'d'}));

  auto d = Open();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->RecordCount(), kRecords);
  EXPECT_EQ(d->MftRuns().size(), 2u);
  auto names = ChildNames(d->GetRoot());
  EXPECT_EQ(names, (std::vector<std::string>{"LostFiles", "DeletedFiles", "farfolder", "far.txt"}));
  EXPECT_EQ(Save(Find(*d, "/far.txt")).bytes, (Bytes{'f', 'a', 'r'}));
  EXPECT_EQ(ChildNames(FindDir(*d, "/farfolder")), (std::vector<std::string>{"inner.txt"}));
  std::vector<std::uint8_t> record;
  ASSERT_TRUE(d->ReadMftRecord(40, record));
}

TEST_F(NtfsCrafted, TheMftLoadIsLongWorkWithItsTitleProgressAndAFreshStartAfterAStop) {
  // Half-kilobyte clusters: the 64 records take 128 clusters, four blocks
  // of 32.
  CraftedVolume small(512, 4096, 64, 64);
  for (std::uint64_t n = 16; n < 64; ++n) small.SetRecord(n, ResidentFile(5, Ascii16("f" + std::to_string(n)), {'x'}));
  RecordingRunner runner;
  Host host;
  host.jobs = &runner;
  auto source = std::make_shared<MemorySource>(small.ImageBytes());
  auto d = OpenNtfs(source, &host);
  ASSERT_TRUE(d);
  d->Rename("Z: (SMALL)");

  runner.stopAfterCounters = 1;
  d->GetRoot()->Populate(true, true, false);
  ASSERT_EQ(runner.infos.size(), 1u);
  EXPECT_EQ(runner.infos[0].kind, JobKind::LoadMft);
  EXPECT_EQ(runner.infos[0].title, "Scanning...");
  EXPECT_EQ(runner.infos[0].volumeName, "Z: (SMALL)");
  EXPECT_EQ(runner.texts[ProgressText::CurrentItem], (std::vector<std::string>{"Z: (SMALL)"}));
  EXPECT_EQ(runner.ranges[ProgressBar::Overall], 128u);
  EXPECT_FALSE(d->IsMftLoaded());
  EXPECT_FALSE(d->GetRoot()->populated) << "a stopped load leaves the folder unread";
  EXPECT_EQ(d->GetRoot()->children.size(), 2u);

  // The next read starts over. Records 16 to 31 cannot be read now: the
  // first load read them, but nothing of it may be left behind.
  source->FailReadsIn(small.RecordOffset(16), small.RecordOffset(32));
  runner.stopAfterCounters = -1;
  runner.texts.clear();
  d->GetRoot()->Populate(true, true, false);
  EXPECT_TRUE(d->IsMftLoaded());
  EXPECT_TRUE(d->GetRoot()->populated);
  EXPECT_EQ(d->MftLoads(), 1);
  EXPECT_EQ(d->GetRoot()->children.size(), 2u + 32u);
  for (auto& c : d->GetRoot()->children) {
    auto* f = dynamic_cast<CNTFSFile*>(c.get());
    if (f) {
      EXPECT_GE(f->mftRecord, 32u) << f->name;
    }
  }
  const auto& counters = runner.texts[ProgressText::Counter];
  ASSERT_FALSE(counters.empty());
  EXPECT_EQ(counters.front(), "0/128");
  EXPECT_EQ(counters.back(), "128/128");
  EXPECT_EQ(runner.positions[ProgressBar::Overall], 128u);
  // Loaded once, the MFT is not read again.
  d->GetDeletedFiles()->Populate(true, true, false);
  EXPECT_EQ(runner.infos.size(), 2u);
}

TEST_F(NtfsCrafted, TornAndDamagedRecordsInTheImage) {
  // A torn record keeps what lies before its torn stride: the name in the
  // first stride is listed, the data behind it are gone.
  RecordBuilder torn(1024);
  torn.FileName({5, u"torn.txt", kNtfsWin32Name, 0x20, 100, 100});
  torn.Resident(kNtfsStandardInformation, Bytes(360, 0));
  torn.Resident(kNtfsData, Bytes(100, 'T'));
  Bytes t = torn.Build();
  t[1022] ^= 0x55;
  v_.SetRecord(20, t);
  // A record whose first stride does not check is not a record at all.
  Bytes broken = ResidentFile(5, u"broken.txt", {'b'});
  broken[510] ^= 0x55;
  v_.SetRecord(21, broken);
  v_.SetRecord(22, ResidentFile(5, u"whole.txt", {'w'}));
  auto d = Open();
  ASSERT_TRUE(d);
  EXPECT_EQ(ChildNames(d->GetRoot()), (std::vector<std::string>{"LostFiles", "DeletedFiles", "torn.txt", "whole.txt"}));
  CNTFSFile* f = FindFile(*d, "/torn.txt");
  ASSERT_TRUE(f);
  MemoryOutputFile out;
  EXPECT_FALSE(f->SaveData(out, nullptr)) << "data from the torn part were used";
  EXPECT_EQ(Save(Find(*d, "/whole.txt")).bytes, (Bytes{'w'}));
}

TEST_F(NtfsCrafted, RecordsAreNumberedByTheirPlaceInTheMft) {
  // Records of older versions have no number field; a number field that
  // contradicts the record's place is not believed either.
  v_.SetRecord(20, RecordBuilder(1024, kNtfsRecordInUse | kNtfsRecordDirectory)
                       .OldHeader()
                       .FileName({5, u"olddir", kNtfsWin32Name, 0x10})
                       .Build());
  v_.SetRecord(21, RecordBuilder().OldHeader().FileName({20, u"old.txt", kNtfsWin32Name}).Resident(kNtfsData, {'o'}).Build());
  v_.SetRecord(22, RecordBuilder(1024, kNtfsRecordInUse | kNtfsRecordDirectory)
                       .Number(20)
                       .FileName({5, u"liar", kNtfsWin32Name, 0x10})
                       .Build());
  v_.SetRecord(23, ResidentFile(22, u"truth.txt", {'t'}));
  auto d = Open();
  ASSERT_TRUE(d);
  CNTFSDirectory* old = FindDir(*d, "/olddir");
  ASSERT_TRUE(old);
  EXPECT_EQ(old->reference, 20u);
  CNTFSFile* f = FindFile(*d, "/olddir/old.txt");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->mftRecord, 21u);
  EXPECT_EQ(Save(f).bytes, (Bytes{'o'}));
  EXPECT_EQ(ChildNames(FindDir(*d, "/liar")), (std::vector<std::string>{"truth.txt"}));
}

TEST_F(NtfsCrafted, NamesFromTheWin32NameTheFirstNameOrTheRecordNumber) {
  // A short name first and the long one behind it.
  v_.SetRecord(20, RecordBuilder()
                       .FileName({5, u"LONGNA~1.TXT", kNtfsDosName})
                       .FileName({5, u"Long name.txt", kNtfsWin32Name})
                       .Resident(kNtfsData, {'l'})
                       .Build());
  // POSIX names only (as made on Linux): the first one; a hard link in
  // another folder does not move the file there.
  v_.SetRecord(21, RecordBuilder()
                       .FileName({5, u"posix first", kNtfsPosixName})
                       .FileName({5, u"posix second", kNtfsPosixName})
                       .FileName({30, u"elsewhere", kNtfsWin32Name})
                       .Build());
  // A name of no characters.
  v_.SetRecord(22, RecordBuilder().FileName({5, u"", kNtfsPosixName}).Build());
  // Metadata and dot names are never listed.
  v_.SetRecord(23, ResidentFile(5, u"$Secret", {'s'}));
  v_.SetRecord(24, ResidentFile(5, u".hidden", {'h'}));
  v_.SetRecord(25, RecordBuilder().Resident(kNtfsData, {'n'}).Build());  // no name at all
  v_.SetRecord(30, Folder(5, u"other"));
  auto d = Open();
  ASSERT_TRUE(d);
  EXPECT_EQ(ChildNames(d->GetRoot()), (std::vector<std::string>{"LostFiles", "DeletedFiles", "Long name.txt",
                                                                 "posix first", "Record_22", "other"}));
  EXPECT_TRUE(ChildNames(FindDir(*d, "/other")).empty());
  CNTFSFile* f = FindFile(*d, "/Long name.txt");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->typeText, "txt");
  EXPECT_EQ(f->modified, 1700000000);
  EXPECT_EQ(f->status, kStatusExisting);
}

TEST_F(NtfsCrafted, NamesAndDataInExtensionRecordsCountOnlyForTheirOwnBase) {
  // Record 20: a folder whose name lies in extension record 21; record 22
  // a file in it whose long name and data lie in record 23. Record 24 is an
  // extension that names record 26 as its base, which names it back: its
  // name is used. Record 25 names record 24 in its list but is not its
  // base: that name is not used, and no extension is listed on its own.
  Bytes list20;
  PutBytes(list20, 0, ListEntry(kNtfsFileName, 21, 0));
  v_.SetRecord(20, RecordBuilder(1024, kNtfsRecordInUse | kNtfsRecordDirectory).Resident(kNtfsAttributeList, list20).Build());
  v_.SetRecord(21, RecordBuilder().Base(20 | (std::uint64_t{1} << 48)).FileName({5, u"spilled folder", kNtfsWin32Name, 0x10}).Build());

  Bytes list22;
  PutBytes(list22, 0, ListEntry(kNtfsFileName, 22, 0));
  PutBytes(list22, 32, ListEntry(kNtfsFileName, 23, 0));
  PutBytes(list22, 64, ListEntry(kNtfsData, 23, 1));
  v_.SetRecord(22, RecordBuilder().FileName({20, u"SPILLE~1.TXT", kNtfsDosName}).Resident(kNtfsAttributeList, list22).Build());
  v_.SetRecord(23, RecordBuilder()
                       .Base(22 | (std::uint64_t{1} << 48))
                       .FileName({20, u"spilled file.txt", kNtfsWin32Name})
                       .Resident(kNtfsData, {'s', 'p'})
                       .Build());

  Bytes list25;
  PutBytes(list25, 0, ListEntry(kNtfsFileName, 25, 0));
  PutBytes(list25, 32, ListEntry(kNtfsFileName, 26, 0));
  v_.SetRecord(25, RecordBuilder().FileName({5, u"stranger", kNtfsPosixName}).Resident(kNtfsAttributeList, list25).Build());
  v_.SetRecord(26, RecordBuilder().Base(27 | (std::uint64_t{1} << 48)).FileName({5, u"stolen", kNtfsWin32Name}).Build());

  auto d = Open();
  ASSERT_TRUE(d);
  EXPECT_EQ(ChildNames(d->GetRoot()),
            (std::vector<std::string>{"LostFiles", "DeletedFiles", "spilled folder", "stranger"}));
  EXPECT_EQ(ChildNames(FindDir(*d, "/spilled folder")), (std::vector<std::string>{"spilled file.txt"}));
  EXPECT_EQ(Save(Find(*d, "/spilled folder/spilled file.txt")).bytes, (Bytes{'s', 'p'}));
  EXPECT_TRUE(FindDir(*d, "/spilled folder")->HasSubfolders(true) == false);
  EXPECT_TRUE(d->GetRoot()->HasSubfolders(true));
}

TEST_F(NtfsCrafted, DeletedRecordsWhoseFolderIsGoneGatherUnderDeletedFiles) {
  const std::uint16_t deleted = 0;
  v_.SetRecord(20, ResidentFile(5, u"now a file.txt", {'n'}));  // was a folder
  v_.SetRecord(21, ResidentFile(20, u"orphan one.txt", {'1'}, deleted));
  v_.SetRecord(22, ResidentFile(40, u"nowhere.txt", {'2'}, deleted));  // record 40 holds nothing
  v_.SetRecord(23, ResidentFile(20, u"orphan two.txt", {'3'}, deleted));
  v_.SetRecord(24, ResidentFile(20, u"alive but lost.txt", {'4'}));  // in use: never here
  v_.SetRecord(25, Folder(5, u"gone folder", kNtfsRecordDirectory));  // a deleted folder
  v_.SetRecord(26, ResidentFile(25, u"in gone folder.txt", {'5'}, deleted));
  v_.SetRecord(27, Folder(20, u"orphan folder", kNtfsRecordDirectory));
  v_.SetRecord(28, ResidentFile(27, u"deep orphan.txt", {'6'}, deleted));
  v_.SetRecord(29, ResidentFile(5000, u"far away.txt", {'7'}, deleted));  // past the MFT
  auto d = Open();
  ASSERT_TRUE(d);
  CNTFSDirectory* del = d->GetDeletedFiles();
  EXPECT_EQ(ChildNames(del), (std::vector<std::string>{"Cluster_20", "Cluster_40", "Cluster_5000"}));
  auto* p20 = FindDir(*d, "/DeletedFiles/Cluster_20");
  ASSERT_TRUE(p20);
  EXPECT_TRUE(p20->deleted);
  EXPECT_EQ(p20->status, kStatusGood);
  EXPECT_EQ(p20->reference, 20u);
  EXPECT_EQ(ChildNames(p20), (std::vector<std::string>{"orphan one.txt", "orphan two.txt", "alive but lost.txt",
                                                        "orphan folder"}));
  EXPECT_EQ(ChildNames(FindDir(*d, "/DeletedFiles/Cluster_20/orphan folder")),
            (std::vector<std::string>{"deep orphan.txt"}));
  EXPECT_EQ(Save(Find(*d, "/DeletedFiles/Cluster_40/nowhere.txt")).bytes, (Bytes{'2'}));
  EXPECT_TRUE(p20->HasSubfolders(true));
  // A deleted folder stays in its parent, deleted but "Existing".
  auto* gone = FindDir(*d, "/gone folder");
  ASSERT_TRUE(gone);
  EXPECT_TRUE(gone->deleted);
  EXPECT_EQ(gone->status, kStatusExisting);
  EXPECT_EQ(ChildNames(gone), (std::vector<std::string>{"in gone folder.txt"}));
  EXPECT_EQ(FindFile(*d, "/gone folder/in gone folder.txt")->status, kStatusGood);
}

TEST_F(NtfsCrafted, TimesAndFlagsComeFromASoundStandardInformationElseFromTheName) {
  // The name's copy says 2023-11-14 22:13:20 and archive; the standard
  // information, where there is a sound one, says other times and flags.
  const std::int64_t nameTime = 1700000000;
  StandardInformationSpec si;
  si.created = FileTimeOf(1600000000);
  si.modified = FileTimeOf(1600000600);
  si.changed = FileTimeOf(1600000700);
  si.accessed = FileTimeOf(1600001200);
  si.flags = 0x23;  // read-only, hidden, archive
  auto file = [&](std::uint16_t recordFlags, const std::u16string& name, std::optional<Bytes> info,
                  bool nonResident = false, std::u16string infoName = {}) {
    RecordBuilder r(1024, recordFlags);
    if (info && !nonResident) r.Resident(kNtfsStandardInformation, *info, infoName);
    if (info && nonResident) {
      NonResidentSpec n;
      n.type = kNtfsStandardInformation;
      n.runs = EncodeRuns({{1, 300}});
      n.allocatedSize = kBpc;
      n.realSize = n.initializedSize = 72;
      r.NonResident(n);
    }
    return r.FileName({5, name, kNtfsWin32Name, 0x20, 1, 1}).Resident(kNtfsData, {'x'}).Build();
  };
  const Bytes sound = StandardInformationValue(si);
  StandardInformationSpec oldSi = si;
  oldSi.size = 48;
  StandardInformationSpec shortSi = si;
  shortSi.size = 40;  // every field read here fits, but the attribute is cut short
  v_.SetRecord(16, file(kNtfsRecordInUse, u"edited.txt", sound));
  v_.SetRecord(17, file(0, u"deleted edited.txt", sound));
  v_.SetRecord(18, file(kNtfsRecordInUse, u"old layout.txt", StandardInformationValue(oldSi)));
  v_.SetRecord(19, file(kNtfsRecordInUse, u"no information.txt", std::nullopt));
  v_.SetRecord(20, file(kNtfsRecordInUse, u"cut short.txt", StandardInformationValue(shortSi)));
  v_.SetRecord(21, file(kNtfsRecordInUse, u"non-resident.txt", sound, true));
  v_.SetRecord(22, file(kNtfsRecordInUse, u"named.txt", sound, false, u"odd"));
  StandardInformationSpec unset = si;
  unset.accessed = 0;
  v_.SetRecord(23, file(kNtfsRecordInUse, u"never accessed.txt", StandardInformationValue(unset)));
  StandardInformationSpec folderSi = si;
  folderSi.flags = 0x06;  // hidden, system
  v_.SetRecord(24, RecordBuilder(1024, kNtfsRecordInUse | kNtfsRecordDirectory)
                       .Resident(kNtfsStandardInformation, StandardInformationValue(folderSi))
                       .FileName({5, u"folder", kNtfsWin32Name, 0x10000000})
                       .Build());
  auto d = Open();
  ASSERT_TRUE(d);
  for (const char* name : {"/edited.txt", "/deleted edited.txt", "/old layout.txt"}) {
    SCOPED_TRACE(name);
    CDirEntry* e = Find(*d, name);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->created, 1600000000);
    EXPECT_EQ(e->modified, 1600000600);
    EXPECT_EQ(e->accessed, 1600001200);
    EXPECT_EQ(e->attributes, 0x23u);
    EXPECT_EQ(e->size, 1u) << "sizes stay those of the name";
  }
  EXPECT_TRUE(Find(*d, "/deleted edited.txt")->deleted);
  for (const char* name : {"/no information.txt", "/cut short.txt", "/non-resident.txt", "/named.txt"}) {
    SCOPED_TRACE(name);
    CDirEntry* e = Find(*d, name);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->created, nameTime);
    EXPECT_EQ(e->modified, nameTime);
    EXPECT_EQ(e->accessed, nameTime);
    EXPECT_EQ(e->attributes, 0x20u);
  }
  // A sound attribute is taken whole: a time it leaves unset stays unset.
  EXPECT_EQ(Find(*d, "/never accessed.txt")->accessed, kNoTime);
  EXPECT_EQ(Find(*d, "/never accessed.txt")->GetAccessedText(), "");
  // A folder keeps the name's mark of a folder beside the flags it has now.
  CDirEntry* folder = Find(*d, "/folder");
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->attributes, 0x10000006u);
  EXPECT_EQ(folder->modified, 1600000600);
}

TEST_F(NtfsCrafted, ARecordIsNeverItsOwnFolder) {
  v_.SetRecord(20, Folder(20, u"myself"));
  v_.SetRecord(21, Folder(5, u"a"));
  v_.SetRecord(22, Folder(23, u"loop one"));
  v_.SetRecord(23, Folder(22, u"loop two"));
  auto d = Open();
  ASSERT_TRUE(d);
  EXPECT_EQ(ChildNames(d->GetRoot()), (std::vector<std::string>{"LostFiles", "DeletedFiles", "a"}));
  EXPECT_FALSE(FindDir(*d, "/a")->HasSubfolders(true));
}

TEST_F(NtfsCrafted, SubfolderButtons) {
  v_.SetRecord(20, Folder(5, u"plain"));
  v_.SetRecord(21, Folder(20, u"child"));
  v_.SetRecord(22, Folder(5, u"with system child"));
  v_.SetRecord(23, RecordBuilder(1024, kNtfsRecordInUse | kNtfsRecordDirectory)
                       .FileName({22, u"sys", kNtfsWin32Name, 0x16})
                       .Build());
  v_.SetRecord(24, Folder(5, u"with deleted child"));
  v_.SetRecord(25, Folder(24, u"dead", kNtfsRecordDirectory));
  v_.SetRecord(26, Folder(5, u"files only"));
  v_.SetRecord(27, ResidentFile(26, u"f.txt", {'f'}));
  auto d = Open();
  ASSERT_TRUE(d);
  EXPECT_TRUE(d->GetRoot()->HasSubfolders(false));
  EXPECT_TRUE(d->GetLostFiles()->HasSubfolders(false));
  EXPECT_TRUE(d->GetDeletedFiles()->HasSubfolders(false));
  EXPECT_TRUE(FindDir(*d, "/plain")->HasSubfolders(true));
  EXPECT_FALSE(FindDir(*d, "/with system child")->HasSubfolders(true));
  EXPECT_EQ(ChildNames(FindDir(*d, "/with system child")), (std::vector<std::string>{"sys"}));
  EXPECT_TRUE(FindDir(*d, "/with deleted child")->HasSubfolders(true));
  EXPECT_FALSE(FindDir(*d, "/files only")->HasSubfolders(true));
}

TEST_F(NtfsCrafted, TheStatusOfDeletedFilesComesFromTheirDataAndItsRealSize) {
  const Bytes jpeg = MinimalJpeg(10000);
  v_.SetCluster(100, jpeg);
  const std::uint16_t deleted = 0;
  // The name's size is 0, as ntfs-3g leaves it; the data say 10000.
  v_.SetRecord(20, RunFile(5, u"photo.jpg", 100, jpeg.size(), deleted, 0));
  v_.SetRecord(21, RunFile(5, u"photo.jpeg", 100, jpeg.size(), deleted));  // type JPEG is not JPG
  v_.SetRecord(22, RunFile(5, u"shorter.jpg", 100, 9000, deleted));
  v_.SetRecord(23, RunFile(5, u"report.doc", 200, 5000, deleted));  // nothing known at 200
  v_.SetRecord(24, RunFile(5, u"notes.xyz", 200, 5000, deleted));
  v_.SetRecord(25, ResidentFile(5, u"small.jpg", {1, 2}, deleted));
  v_.SetRecord(26, RunFile(5, u"alive.jpg", 100, jpeg.size()));
  // More than 4 GiB of data whose first cluster holds the JPEG: the full
  // size is compared, not its low 32 bits.
  {
    NonResidentSpec s;
    s.runs = EncodeRuns({{3, 100}, {0x100000 - 3, -1}});
    s.lastVcn = 0x100000 - 1;
    s.allocatedSize = std::uint64_t{0x100000} * kBpc;
    s.realSize = s.initializedSize = (std::uint64_t{1} << 32) + jpeg.size();
    s.flags = kNtfsAttrSparse;
    v_.SetRecord(27, RecordBuilder(1024, deleted).FileName({5, u"huge.jpg", kNtfsWin32Name}).NonResident(s).Build());
  }
  // A deleted file whose data lie in an extension record named by its
  // attribute list.
  {
    Bytes list;
    PutBytes(list, 0, ListEntry(kNtfsFileName, 28, 0));
    PutBytes(list, 32, ListEntry(kNtfsData, 29, 0));
    v_.SetRecord(28, RecordBuilder(1024, deleted)
                         .FileName({5, u"moved.jpg", kNtfsWin32Name})
                         .Resident(kNtfsAttributeList, list)
                         .Build());
    NonResidentSpec s;
    s.runs = EncodeRuns({{3, 100}});
    s.lastVcn = 2;
    s.allocatedSize = 3 * kBpc;
    s.realSize = s.initializedSize = jpeg.size();
    v_.SetRecord(29, RecordBuilder(1024, deleted).Base(28 | (std::uint64_t{1} << 48)).NonResident(s).Build());
  }
  auto d = Open();
  ASSERT_TRUE(d);
  auto status = [&](const char* path) {
    CNTFSFile* f = FindFile(*d, path);
    EXPECT_TRUE(f) << path;
    return f ? f->status : 99u;
  };
  EXPECT_EQ(status("/photo.jpg"), kStatusExcellent);
  EXPECT_EQ(FindFile(*d, "/photo.jpg")->GetSize(), jpeg.size());
  EXPECT_EQ(status("/photo.jpeg"), kStatusGood);
  EXPECT_EQ(status("/shorter.jpg"), kStatusGood);
  EXPECT_EQ(status("/report.doc"), kStatusPoor);
  EXPECT_EQ(status("/notes.xyz"), kStatusGood);
  EXPECT_EQ(status("/small.jpg"), kStatusGood);
  EXPECT_EQ(status("/alive.jpg"), kStatusExisting);
  EXPECT_EQ(status("/moved.jpg"), kStatusExcellent);
  EXPECT_EQ(Save(Find(*d, "/moved.jpg")).bytes, jpeg);
  EXPECT_EQ(status("/huge.jpg"), kStatusGood);
  EXPECT_EQ(FindFile(*d, "/huge.jpg")->GetSize(), (std::uint64_t{1} << 32) + jpeg.size());
  EXPECT_EQ(FindFile(*d, "/huge.jpg")->GetSizeText(true), "4194313 KB (4294977296 Bytes)");
}

TEST_F(NtfsCrafted, SavingWritesExactlyTheFileThroughHolesGapsAndBadSectors) {
  const Bytes a = Gen(3 * kBpc, 1), b = Gen(2 * kBpc, 2);
  v_.SetCluster(100, a);
  v_.SetCluster(200, b);
  v_.SetCluster(300, Gen(kBpc, 3));
  // 5000 bytes on 4 KiB clusters: two clusters read, 5000 bytes written.
  v_.SetRecord(20, RunFile(5, u"5000.bin", 100, 5000));
  // A hole between two runs.
  {
    NonResidentSpec s;
    s.runs = EncodeRuns({{3, 100}, {4, -1}, {2, 200}});
    s.lastVcn = 8;
    s.allocatedSize = 9 * kBpc;
    s.realSize = s.initializedSize = 9 * kBpc - 100;
    s.flags = kNtfsAttrSparse;
    v_.SetRecord(21, RecordBuilder().FileName({5, u"holes.bin", kNtfsWin32Name}).NonResident(s).Build());
  }
  // Bytes past the initialized size are zeros, whatever the clusters hold.
  {
    NonResidentSpec s;
    s.runs = EncodeRuns({{3, 100}});
    s.lastVcn = 2;
    s.allocatedSize = 3 * kBpc;
    s.realSize = 3 * kBpc;
    s.initializedSize = 5000;
    v_.SetRecord(22, RecordBuilder().FileName({5, u"uninit.bin", kNtfsWin32Name}).NonResident(s).Build());
  }
  // A run list that ends before the data do.
  {
    NonResidentSpec s;
    s.runs = EncodeRuns({{2, 100}});
    s.lastVcn = 4;
    s.allocatedSize = 5 * kBpc;
    s.realSize = s.initializedSize = 5 * kBpc;
    v_.SetRecord(23, RecordBuilder().FileName({5, u"short runs.bin", kNtfsWin32Name}).NonResident(s).Build());
  }
  // A run that leaves the volume.
  v_.SetRecord(24, RunFile(5, u"outside.bin", kClusters - 1, 3 * kBpc));
  // A cluster that cannot be read.
  v_.SetRecord(25, RunFile(5, u"bad sector.bin", 300, kBpc));
  v_.SetRecord(26, RunFile(5, u"empty.bin", 0, 0));

  auto source = std::make_shared<MemorySource>(v_.ImageBytes());
  source->FailReadsIn(300 * kBpc + 1024, 300 * kBpc + 1536);
  auto d = OpenNtfs(source);
  ASSERT_TRUE(d);

  Saved s = Save(Find(*d, "/5000.bin"));
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.bytes, Bytes(a.begin(), a.begin() + 5000));
  EXPECT_TRUE(s.problems.empty());

  s = Save(Find(*d, "/holes.bin"));
  Bytes holes(a);
  holes.resize(7 * kBpc, 0);
  holes.insert(holes.end(), b.begin(), b.end() - 100);
  EXPECT_EQ(s.bytes, holes);
  EXPECT_TRUE(s.problems.empty());

  s = Save(Find(*d, "/uninit.bin"));
  Bytes uninit(a.begin(), a.begin() + 5000);
  uninit.resize(3 * kBpc, 0);
  EXPECT_EQ(s.bytes, uninit);

  s = Save(Find(*d, "/short runs.bin"));
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.bytes, Bytes(a.begin(), a.begin() + 2 * kBpc));
  ASSERT_EQ(s.problems.size(), 1u);
  EXPECT_NE(s.problems[0].find("8192 of 20480 bytes"), std::string::npos) << s.problems[0];

  s = Save(Find(*d, "/outside.bin"));
  EXPECT_EQ(s.bytes.size(), 3 * kBpc);
  EXPECT_TRUE(std::all_of(s.bytes.begin() + kBpc, s.bytes.end(), [](std::uint8_t x) { return x == 0; }));
  ASSERT_EQ(s.problems.size(), 1u);
  EXPECT_NE(s.problems[0].find("8192 bytes could not be read"), std::string::npos) << s.problems[0];

  s = Save(Find(*d, "/bad sector.bin"));
  Bytes bad = Gen(kBpc, 3);
  std::fill(bad.begin() + 1024, bad.begin() + 1536, 0);
  EXPECT_EQ(s.bytes, bad);
  ASSERT_EQ(s.problems.size(), 1u);
  EXPECT_NE(s.problems[0].find("512 bytes could not be read and were saved as zeros (the first at byte 1024"),
            std::string::npos)
      << s.problems[0];

  s = Save(Find(*d, "/empty.bin"));
  EXPECT_TRUE(s.ok);
  EXPECT_TRUE(s.bytes.empty());
}

// An output that keeps only the size of its largest write and rejects
// SetLength, as a pipe does.
class CountingOutput final : public OutputFile {
 public:
  bool Write(const void*, std::size_t length) override {
    largest = std::max(largest, length);
    total += length;
    return true;
  }
  bool SetLength(std::uint64_t) override { return false; }
  std::size_t largest = 0;
  std::uint64_t total = 0;
};

TEST_F(NtfsCrafted, LargeFilesStreamThroughABoundedBuffer) {
  CraftedVolume big(kBpc, 4096, kMftLcn, kRecords);  // 16 MiB
  const std::uint64_t size = 12 * 1024 * 1024 + 77;
  big.SetRecord(20, RunFile(5, u"twelve.bin", 64, size));
  auto d = OpenNtfsBytes(big.ImageBytes());
  ASSERT_TRUE(d);
  auto* f = FindFile(*d, "/twelve.bin");
  ASSERT_TRUE(f);
  CountingOutput out;
  EXPECT_TRUE(f->SaveData(out, nullptr));
  EXPECT_EQ(out.total, size);
  EXPECT_LE(out.largest, CNTFSDriver::kSaveBufferBytes);
}

TEST_F(NtfsCrafted, ASizeLargerThanTheVolumeIsSavedOnlyAsFarAsTheVolumeReaches) {
  // Records claiming 2^60 bytes: whatever their runs say, no more than the
  // volume's 2 MiB is written, with a note of the claim.
  constexpr std::uint64_t kHuge = std::uint64_t{1} << 60;
  constexpr std::uint64_t kVolumeBytes = kClusters * kBpc;
  const Bytes a = Gen(3 * kBpc, 4);
  v_.SetCluster(100, a);
  struct Case {
    const char16_t* name;
    std::vector<std::pair<std::uint64_t, std::int64_t>> runs;
    std::uint16_t flags;
    std::uint64_t expectedBytes;
    const char* furtherNote;  // besides the claim
  };
  const Case cases[] = {
      {u"sparse.bin", {{std::uint64_t{1} << 40, -1}}, kNtfsAttrSparse, kVolumeBytes, nullptr},
      {u"data then a hole.bin", {{3, 100}, {std::uint64_t{1} << 40, -1}}, kNtfsAttrSparse, kVolumeBytes, nullptr},
      {u"short runs.bin", {{3, 100}}, 0, 3 * kBpc, "the file's data runs end after 12288 of 2097152 bytes"},
      {u"compressed.bin", {{std::uint64_t{1} << 40, -1}}, 1, kVolumeBytes, nullptr},
      {u"encrypted.bin", {{std::uint64_t{1} << 40, -1}}, kNtfsAttrEncrypted, kVolumeBytes, nullptr},
  };
  std::uint64_t record = 20;
  for (const Case& c : cases) {
    NonResidentSpec s;
    s.runs = EncodeRuns(c.runs);
    s.lastVcn = (std::uint64_t{1} << 44) - 1;
    s.allocatedSize = s.realSize = s.initializedSize = kHuge;
    s.flags = c.flags;
    s.compressionUnit = c.flags == 1 ? 4 : 0;
    v_.SetRecord(record++, RecordBuilder().FileName({5, c.name, kNtfsWin32Name}).NonResident(s).Build());
  }
  auto d = Open();
  ASSERT_TRUE(d);
  for (const Case& c : cases) {
    const std::string name(c.name, c.name + std::char_traits<char16_t>::length(c.name));
    SCOPED_TRACE(name);
    auto* f = FindFile(*d, "/" + name);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->GetSize(), kHuge);
    // An output that refuses more than twice the volume ends a saving
    // that would otherwise go on for ever.
    MemoryOutputFile out(2 * kVolumeBytes);
    EXPECT_TRUE(f->SaveData(out, nullptr));
    ASSERT_EQ(out.Bytes().size(), c.expectedBytes);
    if (c.runs.front().second >= 0) {
      EXPECT_TRUE(std::equal(a.begin(), a.end(), out.Bytes().begin()));
    }
    EXPECT_TRUE(std::all_of(out.Bytes().begin() + (c.runs.front().second >= 0 ? a.size() : 0), out.Bytes().end(),
                            [](std::uint8_t x) { return x == 0; }));
    const auto& notes = out.Problems();
    ASSERT_GE(notes.size(), 1u);
    EXPECT_NE(notes[0].find("claims 1152921504606846976 bytes, more than the volume holds"), std::string::npos)
        << notes[0];
    if (c.furtherNote) {
      ASSERT_EQ(notes.size(), 2u);
      EXPECT_NE(notes[1].find(c.furtherNote), std::string::npos) << notes[1];
    }
  }
}

TEST_F(NtfsCrafted, DataSplitOverSeveralExtentsAreReadWhole) {
  const Bytes data = Gen(6 * kBpc, 9);
  v_.SetCluster(100, Bytes(data.begin(), data.begin() + 2 * kBpc));
  v_.SetCluster(150, Bytes(data.begin() + 2 * kBpc, data.begin() + 4 * kBpc));
  v_.SetCluster(250, Bytes(data.begin() + 4 * kBpc, data.end()));
  // Three extents: VCN 0-1 in the base record, 2-3 in record 21, 4-5 in
  // record 22, in the list in a different order than their VCNs.
  Bytes list;
  PutBytes(list, 0, ListEntry(kNtfsFileName, 20, 0));
  PutBytes(list, 32, ListEntry(kNtfsData, 22, 0, 4));
  PutBytes(list, 64, ListEntry(kNtfsData, 20, 2, 0));
  PutBytes(list, 96, ListEntry(kNtfsData, 21, 0, 2));
  NonResidentSpec first;
  first.runs = EncodeRuns({{2, 100}});
  first.lastVcn = 1;
  first.allocatedSize = 6 * kBpc;
  first.realSize = first.initializedSize = 6 * kBpc - 10;
  v_.SetRecord(20, RecordBuilder()
                       .FileName({5, u"three extents.bin", kNtfsWin32Name})
                       .Resident(kNtfsAttributeList, list)
                       .NonResident(first)
                       .Build());
  NonResidentSpec second;
  second.runs = EncodeRuns({{2, 150}});
  second.startVcn = 2;
  second.lastVcn = 3;
  v_.SetRecord(21, RecordBuilder().Base(20 | (std::uint64_t{1} << 48)).NonResident(second).Build());
  NonResidentSpec third;
  third.runs = EncodeRuns({{2, 250}});
  third.startVcn = 4;
  third.lastVcn = 5;
  v_.SetRecord(22, RecordBuilder().Base(20 | (std::uint64_t{1} << 48)).NonResident(third).Build());

  auto d = Open();
  ASSERT_TRUE(d);
  CNTFSFile* f = FindFile(*d, "/three extents.bin");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->GetSize(), 6 * kBpc - 10);
  Saved s = Save(f);
  EXPECT_EQ(s.bytes, Bytes(data.begin(), data.end() - 10));
  EXPECT_TRUE(s.problems.empty());
  NtfsDataStream stream;
  ASSERT_TRUE(d->FindDataAttribute(20, stream));
  EXPECT_EQ(stream.extents, 3);
  EXPECT_EQ(stream.mappedClusters, 6u);
  std::uint64_t first_cluster = 0;
  EXPECT_TRUE(f->GetFirstCluster(first_cluster));
  EXPECT_EQ(first_cluster, 100u);
}

TEST_F(NtfsCrafted, CompressedDataAreDecompressedAndEncryptedDataSavedAsTheyLie) {
  // Two compression units of 16 clusters: the first compressed into two
  // clusters, the second (random) stored as it is, then a unit of zeros.
  std::string text;
  while (text.size() < 16 * kBpc) text += "compressible text, " + std::to_string(text.size() % 1000) + "\n";
  Bytes unit1(text.begin(), text.begin() + 16 * kBpc);
  Bytes packed = Lznt1Compress(unit1);
  ASSERT_LE(packed.size(), 4 * kBpc);
  const std::uint64_t packedClusters = (packed.size() + kBpc - 1) / kBpc;
  Bytes unit2 = Gen(16 * kBpc, 5);
  v_.SetCluster(100, packed);
  v_.SetCluster(120, unit2);
  NonResidentSpec s;
  s.runs = EncodeRuns({{packedClusters, 100},
                       {16 - packedClusters, -1},
                       {16, 120},
                       {16, -1}});
  s.lastVcn = 47;
  s.allocatedSize = 48 * kBpc;
  s.realSize = s.initializedSize = 48 * kBpc - 1000;
  s.flags = 0x0001;
  s.compressionUnit = 4;
  v_.SetRecord(20, RecordBuilder().FileName({5, u"packed.txt", kNtfsWin32Name}).NonResident(s).Build());
  // The same with its compressed unit damaged.
  Bytes broken = packed;
  broken[2] |= 0x01;  // the first item a back reference, with nothing behind it
  v_.SetCluster(140, broken);
  s.runs = EncodeRuns({{packedClusters, 140}, {16 - packedClusters, -1}});
  s.lastVcn = 15;
  s.allocatedSize = 16 * kBpc;
  s.realSize = s.initializedSize = 16 * kBpc;
  v_.SetRecord(21, RecordBuilder().FileName({5, u"broken.txt", kNtfsWin32Name}).NonResident(s).Build());
  // Encrypted: the cipher text is saved in whole 512-byte blocks.
  NonResidentSpec e;
  e.runs = EncodeRuns({{1, 120}});
  e.lastVcn = 0;
  e.allocatedSize = kBpc;
  e.realSize = e.initializedSize = 1000;
  e.flags = kNtfsAttrEncrypted;
  v_.SetRecord(22, RecordBuilder().FileName({5, u"secret.txt", kNtfsWin32Name}).NonResident(e).Build());

  auto d = Open();
  ASSERT_TRUE(d);
  Saved p = Save(Find(*d, "/packed.txt"));
  Bytes expected = unit1;
  expected.insert(expected.end(), unit2.begin(), unit2.end());
  expected.resize(48 * kBpc - 1000, 0);
  EXPECT_TRUE(p.ok);
  EXPECT_EQ(p.bytes.size(), expected.size());
  EXPECT_TRUE(p.bytes == expected);
  EXPECT_TRUE(p.problems.empty());

  Saved b = Save(Find(*d, "/broken.txt"));
  EXPECT_EQ(b.bytes.size(), 16 * kBpc);
  ASSERT_EQ(b.problems.size(), 1u);
  EXPECT_NE(b.problems[0].find("compressed data are damaged"), std::string::npos) << b.problems[0];

  Saved c = Save(Find(*d, "/secret.txt"));
  EXPECT_TRUE(c.ok);
  EXPECT_EQ(c.bytes, Bytes(unit2.begin(), unit2.begin() + 1024));
  ASSERT_EQ(c.problems.size(), 1u);
  EXPECT_NE(c.problems[0].find("encrypted"), std::string::npos);
}

class StopOnFilePosition final : public ProgressSink {
 public:
  explicit StopOnFilePosition(std::shared_ptr<StopEvent> e) : event(std::move(e)) {}
  void SetText(ProgressText, const std::string&) override {}
  void SetRange(ProgressBar, std::uint64_t, std::uint64_t) override {}
  void SetPos(ProgressBar which, std::uint64_t pos) override {
    if (which == ProgressBar::File && pos > 0) event->Signal();
    last = pos;
  }
  std::shared_ptr<StopEvent> event;
  std::uint64_t last = 0;
};

TEST_F(NtfsCrafted, AStopEndsTheSavingAtTheNextTest) {
  CraftedVolume big(kBpc, 4096, kMftLcn, kRecords);
  big.SetRecord(20, RunFile(5, u"twelve.bin", 64, 12 * 1024 * 1024));
  auto d = OpenNtfsBytes(big.ImageBytes());
  ASSERT_TRUE(d);
  auto* f = FindFile(*d, "/twelve.bin");
  ASSERT_TRUE(f);
  auto event = std::make_shared<StopEvent>();
  StopScope scope(event);
  StopOnFilePosition progress(event);
  MemoryOutputFile out;
  EXPECT_FALSE(f->SaveData(out, &progress));
  EXPECT_EQ(out.Bytes().size(), CNTFSDriver::kSaveBufferBytes) << "the saving went on after the stop";
  EXPECT_EQ(progress.FilesDone(), 0u);
}

TEST_F(NtfsCrafted, TheDeepScanFindsFilesAndReadsThemBackAsConsecutiveClusters) {
  const Bytes jpeg = MinimalJpeg(10000);
  v_.SetCluster(kFirstFree + 10, jpeg);
  const Bytes exact = MinimalJpeg(2 * kBpc);
  v_.SetCluster(kFirstFree + 20, exact);
  auto d = Open();
  ASSERT_TRUE(d);
  // A forced read of LostFiles does not scan.
  d->GetLostFiles()->Populate(true, true, true);
  EXPECT_TRUE(d->GetLostFiles()->populated);
  EXPECT_TRUE(d->GetLostFiles()->children.empty());
  d->GetLostFiles()->populated = false;
  d->GetLostFiles()->Populate(true, true, false);
  EXPECT_TRUE(d->GetLostFiles()->populated);
  std::vector<std::string> names = ChildNames(d->GetLostFiles());
  ASSERT_EQ(names, (std::vector<std::string>{"Cluster_74.JPG", "Cluster_84.JPG"}));
  auto* f = dynamic_cast<CNTFSFile*>(Child(d->GetLostFiles(), "Cluster_74.JPG"));
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->IsDeepScanFile());
  EXPECT_EQ(f->GetSize(), 10000u);
  EXPECT_EQ(f->status, kStatusExcellent);
  EXPECT_TRUE(f->deleted);
  std::uint64_t cluster = 0;
  EXPECT_TRUE(f->GetFirstCluster(cluster));
  EXPECT_EQ(cluster, 74u);
  EXPECT_EQ(Save(f).bytes, jpeg);
  auto* g = dynamic_cast<CNTFSFile*>(Child(d->GetLostFiles(), "Cluster_84.JPG"));
  ASSERT_TRUE(g);
  EXPECT_EQ(Save(g).bytes, exact);
}

TEST_F(NtfsCrafted, ADeepScanFindThatRunsPastTheVolumeIsSavedShort) {
  auto d = Open();
  ASSERT_TRUE(d);
  auto file = std::make_unique<CNTFSFile>();
  file->volume = d.get();
  file->parent = d->GetLostFiles();
  file->name = "Cluster_510.BMP";
  file->size = 3 * kBpc;
  file->mftRecord = kClusters - 2;
  CNTFSFile* f = d->GetLostFiles()->Append(std::move(file));
  Saved s = Save(f);
  EXPECT_TRUE(s.ok);
  EXPECT_EQ(s.bytes.size(), 2 * kBpc);
  ASSERT_FALSE(s.problems.empty());
  EXPECT_NE(s.problems[0].find("past the end of the volume"), std::string::npos) << s.problems[0];
}

TEST_F(NtfsCrafted, TheVolumeLabelComesFromTheVolumeFile) {
  v_.SetRecord(3, RecordBuilder().FileName({5, u"$Volume", kNtfsWin32AndDosName, 6})
                      .Resident(kNtfsVolumeName, Utf16(u"Données\x01X"))
                      .Build());
  auto d = Open();
  ASSERT_TRUE(d);
  EXPECT_EQ(d->VolumeLabel(), "Données_X");
  CraftedVolume none(kBpc, kClusters, kMftLcn, kRecords);
  auto e = OpenNtfsBytes(none.ImageBytes());
  ASSERT_TRUE(e);
  EXPECT_EQ(e->VolumeLabel(), "");
}

TEST_F(NtfsCrafted, ARootNamingItsOwnSubfolderAsParentIsNotNestedIntoItself) {
  // The root's name gives a subfolder of the root as its folder; the tree
  // must not take the root in again below that subfolder.
  v_.SetRecord(5, RecordBuilder(1024, kNtfsRecordInUse | kNtfsRecordDirectory)
                      .Number(5)
                      .FileName({20, u"again", kNtfsWin32Name, 0x10})
                      .Build());
  v_.SetRecord(20, Folder(5, u"sub"));
  for (std::uint64_t n = 0; n < 8; ++n) {
    v_.SetRecord(21 + n, ResidentFile(20, u"file" + std::u16string(1, static_cast<char16_t>(u'0' + n)) + u".txt", {'x'}));
  }
  auto d = Open();
  ASSERT_TRUE(d);
  CNTFSDirectory* sub = FindDir(*d, "/sub");
  ASSERT_TRUE(sub);
  EXPECT_EQ(ChildNames(sub).size(), 8u);
  EXPECT_FALSE(Child(sub, "again"));

  struct Count final : SearchResultSink {
    void AddResult(std::uint32_t, CDirEntry*) override { ++hits; }
    int hits = 0;
  } sink;
  SearchCriteria c;
  c.recurse = true;
  std::uint32_t counter = 0;
  ASSERT_TRUE(Search(*d->GetRoot(), c, &sink, counter));
  // "sub" and its eight files; the special folders are searched but empty.
  EXPECT_LE(sink.hits, 11);
  EXPECT_GE(sink.hits, 9);
  EXPECT_EQ(CountFiles(*sub, nullptr), 8);
}

}  // namespace
}  // namespace relictor::test

namespace relictor::test {
namespace {

TEST_F(NtfsCrafted, AHostileMftIsIndexedAndListedInBoundedMemory) {
  const std::uint64_t kFar = (std::uint64_t{1} << 48) - 1;
  const std::uint16_t deleted = 0;
  // Sizes no volume can hold, in the name and in the data's header.
  NonResidentSpec huge;
  huge.runs = EncodeRuns({{std::uint64_t{1} << 40, 100}});
  huge.lastVcn = (std::uint64_t{1} << 40) - 1;
  huge.allocatedSize = huge.realSize = huge.initializedSize = std::uint64_t{1} << 60;
  v_.SetRecord(16, RecordBuilder()
                       .FileName({5, u"absurd.bin", kNtfsWin32Name, 0x20, ~std::uint64_t{0} >> 1, ~std::uint64_t{0}})
                       .NonResident(huge)
                       .Build());
  // Deleted files whose folders lie at the far end of the record numbers,
  // each a different one.
  for (std::uint64_t n = 17; n < 40; ++n) {
    v_.SetRecord(n, ResidentFile(kFar - n, Ascii16("far" + std::to_string(n)), {'x'}, deleted));
  }
  // An attribute list naming records far past the MFT, and an extension
  // whose base lies there.
  Bytes list = ListEntry(kNtfsFileName, kFar, 0);
  const Bytes second = ListEntry(kNtfsData, std::uint64_t{1} << 40, 1);
  list.insert(list.end(), second.begin(), second.end());
  v_.SetRecord(40, RecordBuilder().Resident(kNtfsAttributeList, list).FileName({5, u"listed.txt"}).Build());
  v_.SetRecord(41, RecordBuilder().Base(kFar).FileName({5, u"extension.txt"}).Build());
  // Deleted folders that are each other's parent, and a chain that ends in
  // that loop.
  v_.SetRecord(42, Folder(43, u"loop a", kNtfsRecordDirectory));
  v_.SetRecord(43, Folder(42, u"loop b", kNtfsRecordDirectory));
  v_.SetRecord(44, Folder(42, u"into the loop"));
  v_.SetRecord(45, ResidentFile(44, u"inside.txt", {'i'}));

  auto d = std::make_unique<CNTFSDriver>();
  d->SetRecordCacheShape(4096, 2);
  d->SetDevice(std::make_shared<MemorySource>(v_.ImageBytes()));
  ASSERT_TRUE(d->Open('C', kDriveFixed, "C:\\", false));
  ASSERT_TRUE(d->LoadMft());
  EXPECT_LE(d->IndexBytes(), 32 * kRecords + 1024);
  // Every folder read, each at most once a path: the walk ends.
  std::size_t entries = 0;
  std::function<void(CDirectory*, int)> walk = [&](CDirectory* folder, int depth) {
    ASSERT_LT(depth, 16);
    for (auto& c : Populated(folder)->children) {
      ++entries;
      c->GetSize();
      auto* sub = dynamic_cast<CDirectory*>(c.get());
      if (sub && sub != d->GetLostFiles()) walk(sub, depth + 1);
    }
  };
  walk(d->GetRoot(), 0);
  EXPECT_GT(entries, 40u);
  // One placeholder for each far folder; the loop's folders are folder
  // records, deleted or not, so none stands for them.
  EXPECT_EQ(ChildNames(d->GetDeletedFiles()).size(), 23u);
  EXPECT_EQ(ChildNames(FindDir(*d, "/DeletedFiles/Cluster_" + std::to_string(kFar - 17))),
            (std::vector<std::string>{"far17"}));
  EXPECT_EQ(ChildNames(FindDir(*d, "/listed.txt")), (std::vector<std::string>{}));
  EXPECT_LE(d->RecordCache().HeldBytes(), d->RecordCache().BoundBytes());
  EXPECT_LE(d->RecordCache().BoundBytes(), 2u * 4096);
}

}  // namespace
}  // namespace relictor::test

namespace relictor::test {
namespace {

// The cluster bitmap as the $Bitmap file holds it, resident or in runs,
// shorter or longer than the volume's 512 clusters need (64 bytes).
TEST_F(NtfsCrafted, TheClusterBitmapStreamsOnlyAsFarAsBothTheVolumeAndTheBitmapReach) {
  struct Case {
    const char* name;
    bool resident;
    std::size_t bytes;
    bool whole;
    std::uint64_t clusters;  // handed out in all
  };
  const Case cases[] = {
      {"resident, exact", true, 64, true, 512},
      {"resident, short", true, 40, false, 320},
      {"resident, longer than the volume", true, 600, true, 512},
      {"in runs, exact", false, 64, true, 512},
      {"in runs, short", false, 10, false, 80},
      {"in runs, claiming far more than the volume", false, 1u << 30, true, 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CraftedVolume v(kBpc, kClusters, kMftLcn, kRecords);
    Bytes bits(std::min<std::size_t>(c.bytes, 4096), 0);
    for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<std::uint8_t>(i * 37 + 1);
    if (c.resident) {
      v.SetRecord(6, RecordBuilder().FileName({5, u"$Bitmap"}).Resident(kNtfsData, bits).Build());
    } else {
      // One cluster of bits at cluster 40; the sizes claim c.bytes.
      v.SetCluster(40, bits);
      NonResidentSpec d;
      d.runs = EncodeRuns({{1, 40}});
      d.lastVcn = 0;
      d.allocatedSize = kBpc;
      d.realSize = d.initializedSize = c.bytes;
      v.SetRecord(6, RecordBuilder().FileName({5, u"$Bitmap"}).NonResident(d).Build());
    }
    auto d = OpenNtfsBytes(v.ImageBytes());
    ASSERT_TRUE(d);
    std::uint64_t next = 0;
    bool bitsMatch = true;
    const bool whole = d->StreamClusterBitmap([&](std::uint64_t first, ByteSpan got, std::uint64_t clusters) {
      EXPECT_EQ(first, next);
      EXPECT_LE(clusters, got.size() * 8);
      for (std::size_t i = 0; i < got.size(); ++i) bitsMatch = bitsMatch && got[i] == bits[first / 8 + i];
      next = first + clusters;
      return true;
    });
    EXPECT_EQ(whole, c.whole);
    EXPECT_EQ(next, c.clusters);
    EXPECT_TRUE(bitsMatch);
  }
}

}  // namespace
}  // namespace relictor::test
