// Fuzz-style runs over damaged NTFS input, with fixed seeds: mutated boot
// sectors, records, attribute headers, run lists, attribute lists and
// compressed data through their parsers, and whole volumes (made byte by
// byte, and made by mkntfs and the fixture tool) with damaged MFTs through
// the reader: opening, the tree, sizes and saving. Nothing may crash, hang
// or read outside its buffers (the sanitizer build checks the last).

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "lznt1_writer.h"
#include "ntfs/ntfs_attribute_list.h"
#include "ntfs/ntfs_lznt1.h"
#include "ntfs/ntfs_standard_information.h"
#include "ntfs_helpers.h"

namespace relictor::test {
namespace {

// A read-only view of a shared image with a few bytes changed, so that
// thousands of damaged volumes need no copy of the image each.
class OverlaySource final : public SectorSource {
 public:
  OverlaySource(std::shared_ptr<const Bytes> base, std::map<std::uint64_t, std::uint8_t> patches)
      : base_(std::move(base)), patches_(std::move(patches)) {}
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset > base_->size() || length > base_->size() - offset) return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memcpy(out, base_->data() + offset, length);
    for (auto it = patches_.lower_bound(offset); it != patches_.end() && it->first < offset + length; ++it) {
      out[it->first - offset] = it->second;
    }
    return true;
  }
  std::uint64_t Size() const override { return base_->size(); }
  std::uint32_t SectorSize() const override { return 512; }
  std::string Describe() const override { return "overlay"; }

 private:
  std::shared_ptr<const Bytes> base_;
  std::map<std::uint64_t, std::uint8_t> patches_;
};

// Values that make parsers take their edge paths more often than random
// bytes do.
std::uint8_t InterestingByte(std::mt19937_64& rng) {
  static const std::uint8_t kValues[] = {0x00, 0x01, 0x02, 0x08, 0x10, 0x11, 0x20, 0x30, 0x7F,
                                         0x80, 0x81, 0xF0, 0xF6, 0xFE, 0xFF};
  if (rng() % 2) return static_cast<std::uint8_t>(rng());
  return kValues[rng() % sizeof kValues];
}

Bytes Mutate(Bytes b, std::mt19937_64& rng, int maxEdits) {
  if (b.empty()) return b;
  const int edits = 1 + static_cast<int>(rng() % static_cast<std::uint64_t>(maxEdits));
  for (int i = 0; i < edits; ++i) b[rng() % b.size()] = InterestingByte(rng);
  if (rng() % 8 == 0) b.resize(rng() % b.size());
  return b;
}

// Walks everything a record offers the reader.
void ExerciseRecord(Bytes r) {
  ApplyFixups(std::span<std::uint8_t>(r));
  NtfsRecordHeader h;
  ParseRecordHeader(ByteSpan(r), h);
  NtfsAttributeWalk walk{ByteSpan(r)};
  NtfsAttribute a;
  int n = 0;
  while (walk.Next(a)) {
    ASSERT_LT(++n, 1000) << "the walk does not end";
    ASSERT_LE(a.bytes.data() + a.bytes.size(), r.data() + r.size());
    if (!a.nonResident) {
      ByteSpan v = a.Value();
      if (a.type == kNtfsFileName) {
        NtfsFileName f;
        if (ParseFileName(v, f)) NtfsNameToUtf8(f.name);
      }
      if (a.type == kNtfsStandardInformation) {
        NtfsStandardInformation si;
        if (ParseStandardInformation(v, si)) FileTimeToEntryTime(si.modified);
      }
      if (a.type == kNtfsAttributeList) {
        NtfsAttributeListWalk lw{v};
        NtfsAttributeListEntry e;
        int m = 0;
        while (lw.Next(e)) ASSERT_LT(++m, 1000);
      }
    } else {
      std::vector<NtfsRun> runs;
      DecodeRuns(a.Runs(), a.startVcn, runs);
      ASSERT_LE(runs.size(), a.Runs().size());
      for (std::uint64_t v : {a.startVcn, a.lastVcn, a.startVcn + 1, std::uint64_t{0}}) MapVcn(a, v);
    }
  }
  FindAttribute(ByteSpan(r), kNtfsData);
  FindStandardInformation(ByteSpan(r));
  FindAttributeById(ByteSpan(r), kNtfsFileName, 0);
}

Bytes RichRecord(std::uint64_t parent = 5) {
  Bytes list;
  PutBytes(list, 0, ListEntry(kNtfsFileName, 30, 0));
  PutBytes(list, 32, ListEntry(kNtfsData, 31, 1, 4));
  NonResidentSpec d;
  d.runs = EncodeRuns({{4, 100}, {3, -1}, {9, 2000}, {1, 5}});
  d.lastVcn = 16;
  d.allocatedSize = 17 * 4096;
  d.realSize = d.initializedSize = 17 * 4096 - 5;
  StandardInformationSpec si;
  si.created = si.modified = si.changed = si.accessed = 133444736000000000ull;
  return RecordBuilder()
      .Resident(kNtfsStandardInformation, StandardInformationValue(si))
      .FileName({parent, u"SHORT~1.TXT", kNtfsDosName})
      .FileName({parent, u"a long name.txt", kNtfsWin32Name})
      .Resident(kNtfsAttributeList, list)
      .NonResident(d)
      .Resident(kNtfsData, Bytes(40, 3), u"stream")
      .Build();
}

TEST(NtfsFuzz, MutatedRecordsAndAttributeHeaders) {
  std::mt19937_64 rng(20240601);
  const Bytes base = RichRecord();
  for (int i = 0; i < 20000; ++i) {
    ExerciseRecord(Mutate(base, rng, 12));
    if (::testing::Test::HasFailure()) return;
  }
  // Attribute headers alone, damaged in the fields that locate things.
  NtfsRecordHeader h;
  Bytes fixed = base;
  ApplyFixups(std::span<std::uint8_t>(fixed));
  ASSERT_EQ(ParseRecordHeader(ByteSpan(fixed), h), NtfsParse::Ok);
  const std::size_t first = h.firstAttribute;
  for (int i = 0; i < 20000; ++i) {
    Bytes r = fixed;
    const std::size_t at = first + rng() % 72;
    r[at] = InterestingByte(rng);
    r[first + 4 + rng() % 4] = InterestingByte(rng);
    ExerciseRecord(r);
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(NtfsFuzz, RandomRunListsAttributeListsAndCompressedData) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    Bytes runs(rng() % 48);
    for (auto& b : runs) b = InterestingByte(rng);
    std::vector<NtfsRun> out;
    DecodeRuns(ByteSpan(runs), rng() % 1000, out);
    ASSERT_LE(out.size(), runs.size());
    for (std::size_t k = 1; k < out.size(); ++k) ASSERT_EQ(out[k].vcn, out[k - 1].vcn + out[k - 1].length);
    MapVcn(out, rng() % 5000);

    Bytes list(rng() % 160);
    for (auto& b : list) b = InterestingByte(rng);
    NtfsAttributeListWalk walk{ByteSpan(list)};
    NtfsAttributeListEntry e;
    int n = 0;
    while (walk.Next(e)) ASSERT_LT(++n, 100);
  }
  std::string text;
  while (text.size() < 16384) text += "some words that repeat, " + std::to_string(text.size() % 77);
  const Bytes packed = Lznt1Compress(Bytes(text.begin(), text.begin() + 16384));
  Bytes out(16384);
  for (int i = 0; i < 5000; ++i) {
    Bytes in = Mutate(packed, rng, 6);
    DecompressLznt1(ByteSpan(in), std::span<std::uint8_t>(out));
    Bytes noise(rng() % 600);
    for (auto& b : noise) b = InterestingByte(rng);
    DecompressLznt1(ByteSpan(noise), std::span<std::uint8_t>(out));
  }
}

// Reads everything the reader offers of a volume, within bounds of depth
// and count, saving each file into memory of at most 1 MiB.
// Reads the tree and saves the files; returns the entries listed.
int WalkVolume(CNTFSDriver& d) {
  d.VolumeLabel();
  int entries = 0;
  std::vector<std::pair<CDirectory*, int>> stack{{d.GetRoot(), 0}};
  while (!stack.empty()) {
    auto [folder, depth] = stack.back();
    stack.pop_back();
    folder->HasSubfolders(true);
    if (folder != d.GetLostFiles()) Populated(folder);
    for (auto& child : folder->children) {
      if (++entries > 20000) return entries;
      child->GetSizeText(true);
      child->GetSizeOnDisk();
      std::uint64_t cluster;
      child->GetFirstCluster(cluster);
      if (auto* sub = dynamic_cast<CDirectory*>(child.get())) {
        if (depth < 24) stack.push_back({sub, depth + 1});
      } else if (auto* file = dynamic_cast<CFSFile*>(child.get())) {
        MemoryOutputFile out(1 << 20);
        file->SaveData(out, nullptr);
      }
    }
  }
  return entries;
}

// A volume with something of every kind the reader handles.
Bytes RichVolume() {
  constexpr std::uint32_t bpc = 4096;
  CraftedVolume v(bpc, 512, 16, 64);
  v.SetRecord(3, RecordBuilder().FileName({5, u"$Volume", kNtfsWin32AndDosName, 6})
                     .Resident(kNtfsVolumeName, Utf16(u"RICH"))
                     .Build());
  v.SetRecord(16, Folder(5, u"docs"));
  StandardInformationSpec si;
  si.modified = 133444736000000000ull;
  v.SetRecord(17, RecordBuilder()
                      .Resident(kNtfsStandardInformation, StandardInformationValue(si))
                      .FileName({16, u"note.txt", kNtfsWin32Name, 0x20, 2, 2})
                      .Resident(kNtfsData, {'n', 'o'})
                      .Build());
  v.SetRecord(18, RichRecord(16));
  v.SetRecord(19, Folder(16, u"gone", kNtfsRecordDirectory));
  v.SetRecord(20, ResidentFile(19, u"lost.txt", {'l'}, 0));
  v.SetRecord(21, ResidentFile(17, u"orphan.txt", {'o'}, 0));
  NonResidentSpec c;
  c.runs = EncodeRuns({{2, 100}, {14, -1}});
  c.lastVcn = 15;
  c.allocatedSize = c.realSize = c.initializedSize = 16 * bpc;
  c.flags = 1;
  c.compressionUnit = 4;
  v.SetRecord(22, RecordBuilder().FileName({16, u"packed.bin", kNtfsWin32Name}).NonResident(c).Build());
  std::string text;
  while (text.size() < 16 * bpc) text += "compress me " + std::to_string(text.size() % 50);
  v.SetCluster(100, Lznt1Compress(Bytes(text.begin(), text.begin() + 16 * bpc)));
  NonResidentSpec e;
  e.runs = EncodeRuns({{3, 200}});
  e.lastVcn = 2;
  e.allocatedSize = 3 * bpc;
  e.realSize = e.initializedSize = 10000;
  v.SetRecord(23, RecordBuilder().FileName({5, u"photo.jpg", kNtfsWin32Name}).NonResident(e).Build());
  v.SetCluster(200, Gen(3 * bpc, 4));
  Bytes list;
  PutBytes(list, 0, ListEntry(kNtfsFileName, 25, 0));
  PutBytes(list, 32, ListEntry(kNtfsData, 25, 1));
  v.SetRecord(24, RecordBuilder().Resident(kNtfsAttributeList, list).Build());
  v.SetRecord(25, RecordBuilder().Base(24 | (std::uint64_t{1} << 48))
                      .FileName({16, u"spilled.txt", kNtfsWin32Name})
                      .Resident(kNtfsData, {'s'})
                      .Build());
  return v.ImageBytes();
}

void FuzzVolume(const Bytes& image, std::uint64_t regionStart, std::uint64_t regionEnd, int cases,
                std::uint64_t seed) {
  auto base = std::make_shared<const Bytes>(image);
  std::mt19937_64 rng(seed);
  int opened = 0;
  std::int64_t listed = 0;
  for (int i = 0; i < cases; ++i) {
    std::map<std::uint64_t, std::uint8_t> patches;
    const int edits = 1 + static_cast<int>(rng() % 24);
    for (int k = 0; k < edits; ++k) {
      // Mostly the MFT, now and then the boot sector's geometry.
      std::uint64_t at = rng() % 16 == 0 ? 11 + rng() % 62 : regionStart + rng() % (regionEnd - regionStart);
      patches[at] = InterestingByte(rng);
    }
    auto d = OpenNtfs(std::make_shared<OverlaySource>(base, std::move(patches)));
    if (!d) continue;
    ++opened;
    ASSERT_LE(d->RecordCount() * d->RecordSize(), image.size());
    listed += WalkVolume(*d);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(opened, cases / 4) << "the mutations hardly ever left a volume to read";
  // Most mutations hit one record or another; the rest of the tree must
  // still be listed, or the loop would only test the refusal of an MFT.
  EXPECT_GT(listed, std::int64_t{cases} * 3) << "the damaged volumes hardly ever listed an entry";
}

TEST(NtfsFuzz, CraftedVolumesWithDamagedMfts) {
  const Bytes image = RichVolume();
  // The unmutated volume has what the mutations work on.
  auto d = OpenNtfsBytes(image);
  ASSERT_TRUE(d);
  EXPECT_EQ(ChildNames(FindDir(*d, "/docs")),
            (std::vector<std::string>{"note.txt", "a long name.txt", "gone", "packed.bin", "spilled.txt"}));
  FuzzVolume(image, 16 * 4096, 16 * 4096 + 26 * 1024, 3000, 99);
}

TEST(NtfsFuzz, RealVolumesWithDamagedMfts) {
  TempDir dir;
  const std::string image = dir / "real.img";
  MakeNtfs(image, "4M", 1024);
  RunFixture(image,
             "mkdir /d\n"
             "text /d/a.txt aaa\n"
             "fill /d/b.bin 70000 1\n"
             "fragment /d/c.bin 60000 2 6\n"
             "sparse /d/s.bin 300000 1000:3000:3\n"
             "text /d/l.txt link\n"
             "manylinks /d/l.txt 8\n"
             "mkdir /d/sub\n"
             "mkfiles /d/sub 12 f 100\n"
             "attrlist /d/sub\n"
             "text /d/x.txt gone\n"
             "delete /d/x.txt\n");
  Bytes bytes = ReadFile(image);
  auto d = OpenNtfsBytes(bytes);
  ASSERT_TRUE(d);
  ASSERT_EQ(ChildNames(FindDir(*d, "/d/sub")).size(), 12u);
  // The MFT of a fresh volume lies where the boot sector says, records 0
  // to about 100 of it in use.
  const std::uint64_t mft = le64(ByteSpan(bytes), 48) * 1024;
  FuzzVolume(bytes, mft, mft + 100 * 1024, 1500, 1234);
}

TEST(NtfsFuzz, MutatedBootSectors) {
  const Bytes image = RichVolume();
  auto base = std::make_shared<const Bytes>(image);
  std::mt19937_64 rng(5);
  Bytes boot(image.begin(), image.begin() + 512);
  int opened = 0;
  std::int64_t listed = 0;
  for (int i = 0; i < 20000; ++i) {
    Bytes b = boot;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < edits; ++k) b[rng() % 4 == 0 ? rng() % 512 : 11 + rng() % 62] = InterestingByte(rng);
    NtfsGeometry g;
    std::string reason;
    if (ParseNtfsBootSector(ByteSpan(b), g, reason)) {
      ASSERT_TRUE(IsPowerOfTwo(g.recordSize));
      ASSERT_NE(g.bytesPerCluster, 0u);
    }
    if (i % 10 == 0) {
      std::map<std::uint64_t, std::uint8_t> patches;
      for (std::size_t k = 0; k < 512; ++k) {
        if (b[k] != boot[k]) patches[k] = b[k];
      }
      auto d = OpenNtfs(std::make_shared<OverlaySource>(base, std::move(patches)));
      if (d) {
        ++opened;
        listed += WalkVolume(*d);
      }
    }
    if (::testing::Test::HasFailure()) return;
  }
  // A good share of the 2000 opened volumes survive the damage.
  EXPECT_GT(opened, 200);
  EXPECT_GT(listed, std::int64_t{opened} * 2);
}

}  // namespace
}  // namespace relictor::test
