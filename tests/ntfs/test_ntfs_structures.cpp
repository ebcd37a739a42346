// The on-disk structures of NTFS one by one, over records and byte arrays
// made in the test, with fields edited in place to reach each error path.

#include <gtest/gtest.h>

#include "ntfs/ntfs_attribute.h"
#include "ntfs/ntfs_attribute_list.h"
#include "ntfs/ntfs_data_runs.h"
#include "ntfs/ntfs_file_name.h"
#include "ntfs/ntfs_lznt1.h"
#include "ntfs/ntfs_record.h"
#include "ntfs_helpers.h"
#include "lznt1_writer.h"

namespace relictor::test {
namespace {

std::span<std::uint8_t> Span(Bytes& b) { return std::span<std::uint8_t>(b); }

// A record whose $DATA value crosses the end of the first stride, so that
// its bytes 510 and 511 are among those the update sequence protects.
RecordBuilder StraddlingRecord(std::uint32_t size) {
  RecordBuilder r(size);
  r.Number(42).FileName({5, u"straddle.bin", kNtfsWin32Name});
  Bytes value(700);
  for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(i * 7 + 1);
  r.Resident(kNtfsData, value);
  return r;
}

TEST(NtfsRecord, FixupsRestoreTheProtectedBytesOfEveryStride) {
  for (std::uint32_t size : {1024u, 4096u}) {
    RecordBuilder r = StraddlingRecord(size);
    Bytes disk = r.Build(true), expected = r.Build(false);
    ASSERT_NE(disk, expected) << "the protection changed nothing";
    NtfsFixupResult fix = ApplyFixups(Span(disk));
    EXPECT_EQ(fix.status, NtfsParse::Ok);
    EXPECT_FALSE(fix.torn);
    EXPECT_EQ(fix.intactBytes, size);
    EXPECT_EQ(disk, expected) << size;
    auto data = FindAttribute(ByteSpan(disk), kNtfsData);
    ASSERT_TRUE(data);
    ByteSpan v = data->Value();
    ASSERT_EQ(v.size(), 700u);
    for (std::size_t i = 0; i < v.size(); ++i) ASSERT_EQ(v[i], static_cast<std::uint8_t>(i * 7 + 1)) << i;
  }
}

TEST(NtfsRecord, ATornRecordIsReadUpToItsFirstTornStride) {
  // 1 KiB: the file name lies in the first stride, the data behind 512.
  RecordBuilder r(1024);
  r.FileName({5, u"torn.txt", kNtfsWin32Name});
  r.Resident(kNtfsStandardInformation, Bytes(300, 0x11));
  r.Resident(kNtfsData, Bytes(200, 0x22));
  Bytes disk = r.Build(true);
  disk[1022] ^= 0xFF;  // the second stride's check value, as an older write left it
  NtfsFixupResult fix = ApplyFixups(Span(disk));
  EXPECT_EQ(fix.status, NtfsParse::Ok);
  EXPECT_TRUE(fix.torn);
  EXPECT_EQ(fix.intactBytes, 512u);
  NtfsRecordHeader h;
  ASSERT_EQ(ParseRecordHeader(ByteSpan(disk), h), NtfsParse::Ok);
  EXPECT_EQ(h.attributeLimit, 512u);
  EXPECT_TRUE(FindAttribute(ByteSpan(disk), kNtfsFileName));
  EXPECT_FALSE(FindAttribute(ByteSpan(disk), kNtfsData)) << "an attribute in the torn part was used";

  // 4 KiB: torn at the fourth stride keeps three.
  RecordBuilder big(4096);
  big.FileName({5, u"big.txt", kNtfsWin32Name});
  Bytes disk4 = big.Build(true);
  disk4[4 * 512 - 2] ^= 0x01;
  fix = ApplyFixups(Span(disk4));
  EXPECT_TRUE(fix.torn);
  EXPECT_EQ(fix.intactBytes, 3u * 512);
  EXPECT_TRUE(FindAttribute(ByteSpan(disk4), kNtfsFileName));
}

TEST(NtfsRecord, RecordsThatCannotBeFixedUpAreNoRecords) {
  Bytes good = StraddlingRecord(1024).Build(true);
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint16_t value;
    bool byte;
  };
  const Case cases[] = {
      {"first stride's check value", 510, 0x1234, false},
      {"no array entries", 6, 0, false},
      {"more strides than the record has", 6, 4, false},
      {"array behind the header area", 4, 600, false},
      {"array inside the signature", 4, 2, false},
  };
  for (const Case& c : cases) {
    Bytes r = good;
    Put16(r, c.offset, c.value);
    NtfsFixupResult fix = ApplyFixups(Span(r));
    EXPECT_EQ(fix.status, NtfsParse::Damaged) << c.what;
    EXPECT_FALSE(HasFileSignature(ByteSpan(r))) << c.what << ": still taken for a record";
  }
  Bytes notRecord(1024, 0);
  EXPECT_EQ(ApplyFixups(Span(notRecord)).status, NtfsParse::NotThisStructure);
  Bytes shortRecord(good.begin(), good.begin() + 20);
  EXPECT_EQ(ApplyFixups(Span(shortRecord)).status, NtfsParse::Damaged);
}

TEST(NtfsRecord, HeaderFieldsAndTheirLimits) {
  Bytes base = RecordBuilder(1024, kNtfsRecordDirectory).Number(77).FileName({}).Build(false);
  NtfsRecordHeader h;
  ASSERT_EQ(ParseRecordHeader(ByteSpan(base), h), NtfsParse::Ok);
  EXPECT_FALSE(h.InUse());
  EXPECT_TRUE(h.IsDirectory());
  EXPECT_FALSE(h.IsExtension());
  EXPECT_TRUE(h.hasRecordNumber);
  EXPECT_EQ(h.recordNumber, 77u);

  // An extension of the $MFT file names record 0 with a sequence number.
  Bytes ext = RecordBuilder().Base(std::uint64_t{1} << 48).Build(false);
  ASSERT_EQ(ParseRecordHeader(ByteSpan(ext), h), NtfsParse::Ok);
  EXPECT_TRUE(h.IsExtension());
  EXPECT_EQ(h.baseRecord, 0u);

  // Older records: the array at 0x2A and no record number.
  Bytes old = RecordBuilder().OldHeader().FileName({}).Build(true);
  ASSERT_EQ(ApplyFixups(Span(old)).status, NtfsParse::Ok);
  ASSERT_EQ(ParseRecordHeader(ByteSpan(old), h), NtfsParse::Ok);
  EXPECT_FALSE(h.hasRecordNumber);
  EXPECT_TRUE(FindAttribute(ByteSpan(old), kNtfsFileName));

  Bytes r = base;
  Put16(r, 20, 1024);  // first attribute at the end
  EXPECT_EQ(ParseRecordHeader(ByteSpan(r), h), NtfsParse::Damaged);
  r = base;
  Put16(r, 20, 0x10);  // first attribute inside the header
  EXPECT_EQ(ParseRecordHeader(ByteSpan(r), h), NtfsParse::Damaged);
  r = base;
  Put32(r, 24, 0x3A);  // no room for even the end marker behind the first attribute offset
  EXPECT_EQ(ParseRecordHeader(ByteSpan(r), h), NtfsParse::Damaged);
  r = base;
  Put32(r, 24, 0x10000);  // used size past the record is cut to it
  ASSERT_EQ(ParseRecordHeader(ByteSpan(r), h), NtfsParse::Ok);
  EXPECT_EQ(h.attributeLimit, 1024u);
}

TEST(NtfsAttribute, TheWalkEndsAtTheMarkerTheUsedSizeOrDamage) {
  RecordBuilder b;
  b.FileName({5, u"one", kNtfsDosName}).FileName({5, u"two", kNtfsWin32Name}).Resident(kNtfsData, Bytes(10, 1));
  Bytes r = b.Build(false);
  NtfsAttributeWalk walk{ByteSpan(r)};
  NtfsAttribute a;
  int n = 0;
  while (walk.Next(a)) ++n;
  EXPECT_EQ(n, 3);
  EXPECT_FALSE(walk.Damaged());

  // The first of two file names; the used size lowered to cut the last
  // attribute off ends the walk before it.
  auto fn = FindAttribute(ByteSpan(r), kNtfsFileName);
  ASSERT_TRUE(fn);
  NtfsFileName f;
  ASSERT_TRUE(ParseFileName(fn->Value(), f));
  EXPECT_EQ(NtfsNameToUtf8(f.name), "one");
  NtfsRecordHeader h;
  ASSERT_EQ(ParseRecordHeader(ByteSpan(r), h), NtfsParse::Ok);
  Bytes cut = r;
  Put32(cut, 24, h.usedSize - 16 - 8);
  EXPECT_FALSE(FindAttribute(ByteSpan(cut), kNtfsData));

  // A length of 0, and one that runs past the used size, end the walk as
  // damaged, without looping and without reading past the record.
  for (std::uint32_t length : {0u, 8u, 2000u}) {
    Bytes bad = r;
    const std::size_t second = h.firstAttribute + le32(ByteSpan(r), h.firstAttribute + 4);
    Put32(bad, second + 4, length);
    NtfsAttributeWalk w{ByteSpan(bad)};
    int seen = 0;
    while (w.Next(a)) ++seen;
    EXPECT_EQ(seen, 1) << length;
    EXPECT_TRUE(w.Damaged()) << length;
  }
}

TEST(NtfsAttribute, FindAttributeTakesTheUnnamedDataAndAnIdOnlyOfItsType) {
  RecordBuilder b;
  b.Resident(kNtfsData, Bytes(5, 9), u"ads");
  b.Resident(kNtfsData, Bytes(3, 7));
  Bytes r = b.Build(false);
  auto data = FindAttribute(ByteSpan(r), kNtfsData);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->Value().size(), 3u);
  EXPECT_EQ(data->id, 1);
  EXPECT_TRUE(FindAttributeById(ByteSpan(r), kNtfsData, 0));
  EXPECT_FALSE(FindAttributeById(ByteSpan(r), kNtfsFileName, 0));
  EXPECT_FALSE(FindAttribute(ByteSpan(r), kNtfsBitmap));
}

TEST(NtfsAttribute, SizesAreResidentValueLengthsOrTheFull64BitFields) {
  Bytes r = RecordBuilder().Resident(kNtfsData, Bytes(123, 0)).Build(false);
  auto a = FindAttribute(ByteSpan(r), kNtfsData);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->AllocatedSize(), 123u);
  EXPECT_EQ(a->RealSize(), 123u);

  NonResidentSpec s;
  s.runs = EncodeRuns({{0x180000, 100}});
  s.lastVcn = 0x17FFFF;
  s.allocatedSize = 0x180000000ull;  // 6 GiB
  s.realSize = 0x17FFFF123ull;
  s.initializedSize = 0x100000000ull;
  r = RecordBuilder().NonResident(s).Build(false);
  a = FindAttribute(ByteSpan(r), kNtfsData);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->AllocatedSize(), 0x180000000ull);
  EXPECT_EQ(a->RealSize(), 0x17FFFF123ull);
  EXPECT_EQ(a->initializedSize, 0x100000000ull);
}

TEST(NtfsAttribute, FieldsThatPointOutsideTheAttributeAreDamage) {
  Bytes r = RecordBuilder().Resident(kNtfsData, Bytes(16, 0)).Build(false);
  NtfsRecordHeader h;
  ASSERT_EQ(ParseRecordHeader(ByteSpan(r), h), NtfsParse::Ok);
  const std::size_t at = h.firstAttribute;
  struct Edit {
    const char* what;
    std::size_t offset;
    std::uint32_t value;
    int width;
  };
  const Edit edits[] = {
      {"value length past the attribute", 16, 1000, 4},
      {"value offset past the attribute", 20, 0x300, 2},
      {"name past the attribute", 9, 200, 1},
      {"non-resident without room for its header", 8, 1, 1},
  };
  for (const Edit& e : edits) {
    Bytes bad = r;
    if (e.width == 1) bad[at + e.offset] = static_cast<std::uint8_t>(e.value);
    if (e.width == 2) Put16(bad, at + e.offset, static_cast<std::uint16_t>(e.value));
    if (e.width == 4) Put32(bad, at + e.offset, e.value);
    NtfsAttribute a;
    EXPECT_EQ(ParseAttribute(ByteSpan(bad).subspan(at, h.attributeLimit - at), a), NtfsParse::Damaged) << e.what;
  }
  NonResidentSpec s;
  s.runs = EncodeRuns({{4, 10}});
  s.startVcn = 10;
  s.lastVcn = 5;  // ends before it starts
  Bytes nr = RecordBuilder().NonResident(s).Build(false);
  EXPECT_FALSE(FindAttribute(ByteSpan(nr), kNtfsData));
}

TEST(NtfsFileName, FieldsNamesAndTimes) {
  FileNameSpec wanted{0x0000123456789ABCull, u"Grüße 日本 😀.txt", kNtfsPosixName, 0x24, 5000, 8192,
                    133444736000000000ull};
  Bytes v = FileNameValue(wanted);
  NtfsFileName f;
  ASSERT_TRUE(ParseFileName(ByteSpan(v), f));
  EXPECT_EQ(f.parent, 0x0000123456789ABCull);
  EXPECT_EQ(f.realSize, 5000u);
  EXPECT_EQ(f.allocatedSize, 8192u);
  EXPECT_EQ(f.flags, 0x24u);
  EXPECT_FALSE(f.IsWin32());
  EXPECT_EQ(NtfsNameToUtf8(f.name), "Grüße 日本 😀.txt");
  EXPECT_EQ(FileTimeToEntryTime(f.modified), 1700000000);
  EXPECT_EQ(FileTimeToEntryTime(116444736000000000ull), 0);
  EXPECT_EQ(FileTimeToEntryTime(0), kNoTime);
  // Before 1970 the seconds are negative, not wrapped around.
  EXPECT_EQ(FileTimeToEntryTime(116444736000000000ull - 10000000ull * 86400), -86400);

  v.resize(v.size() - 2);  // the name is one unit short
  EXPECT_FALSE(ParseFileName(ByteSpan(v), f));
  EXPECT_FALSE(ParseFileName(ByteSpan(v).first(65), f));

  // Surrogate halves without their partner.
  Bytes lone = Utf16(u"a");
  lone.push_back(0x00);
  lone.push_back(0xD8);  // a high half at the end
  EXPECT_EQ(NtfsNameToUtf8(ByteSpan(lone)), "a\xEF\xBF\xBD");
  Bytes low = {0x00, 0xDC, 0x41, 0x00};
  EXPECT_EQ(NtfsNameToUtf8(ByteSpan(low)), "\xEF\xBF\xBD" "A");
}

TEST(NtfsAttributeList, EntriesAndTheWaysAWalkEnds) {
  Bytes list;
  PutBytes(list, 0, ListEntry(kNtfsStandardInformation, 40, 0));
  PutBytes(list, 32, ListEntry(kNtfsFileName, 41, 3));
  PutBytes(list, 64, ListEntry(kNtfsData, 0x0000AABBCCDDEEFFull, 5, 0x1234));
  auto walkAll = [](const Bytes& b, std::vector<NtfsAttributeListEntry>& out) {
    NtfsAttributeListWalk w{ByteSpan(b)};
    NtfsAttributeListEntry e;
    while (w.Next(e)) out.push_back(e);
    return w.Damaged();
  };
  std::vector<NtfsAttributeListEntry> got;
  EXPECT_FALSE(walkAll(list, got));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].type, kNtfsFileName);
  EXPECT_EQ(got[1].record, 41u);
  EXPECT_EQ(got[1].id, 3);
  EXPECT_EQ(got[2].record, 0x0000AABBCCDDEEFFull);
  EXPECT_EQ(got[2].sequence, 1);
  EXPECT_EQ(got[2].startVcn, 0x1234u);

  Bytes padded = list;
  padded.resize(list.size() + 16, 0);
  got.clear();
  EXPECT_FALSE(walkAll(padded, got)) << "zero padding is not damage";
  EXPECT_EQ(got.size(), 3u);

  for (std::uint16_t length : {std::uint16_t{0}, std::uint16_t{10}, std::uint16_t{200}}) {
    Bytes bad = list;
    Put32(bad, 32, kNtfsFileName);
    Put16(bad, 36, length);
    got.clear();
    EXPECT_TRUE(walkAll(bad, got)) << length;
    EXPECT_EQ(got.size(), 1u) << length;
  }
  Bytes badName = list;
  badName[32 + 6] = 10;  // a name of 10 units does not fit 32 bytes from offset 26
  got.clear();
  EXPECT_TRUE(walkAll(badName, got));
}

TEST(NtfsDataRuns, TheExamplesOfTheRunListFormat) {
  NonResidentSpec s;
  s.runs = {0x21, 0x18, 0x34, 0x56, 0x00};
  s.lastVcn = 0x17;
  Bytes r = RecordBuilder().NonResident(s).Build(false);
  auto a = FindAttribute(ByteSpan(r), kNtfsData);
  ASSERT_TRUE(a);
  NtfsVcnMapping m = MapVcn(*a, 0);
  ASSERT_TRUE(m.found);
  EXPECT_EQ(m.lcn, 0x5634u);
  EXPECT_EQ(m.left, 0x18u);
  m = MapVcn(*a, 0x17);
  ASSERT_TRUE(m.found);
  EXPECT_EQ(m.lcn, 0x564Bu);
  EXPECT_EQ(m.left, 1u);
  EXPECT_FALSE(MapVcn(*a, 0x18).found);

  // A second run of offset -16 starts 16 clusters below the first.
  std::vector<NtfsRun> runs;
  const Bytes two = {0x21, 0x18, 0x34, 0x56, 0x11, 0x10, 0xF0, 0x00};
  EXPECT_EQ(DecodeRuns(ByteSpan(two), 0, runs), NtfsRunsEnd::EndMarker);
  ASSERT_EQ(runs.size(), 2u);
  m = MapVcn(runs, 0x18);
  ASSERT_TRUE(m.found);
  EXPECT_EQ(m.lcn, 0x5624u);
  EXPECT_EQ(m.left, 0x10u);

  // A header of 0x01 has no offset: a hole, and the LCN of the next run
  // still counts from the run before the hole.
  runs.clear();
  const Bytes holes = {0x11, 0x04, 0x20, 0x01, 0x08, 0x11, 0x02, 0x10, 0x00};
  EXPECT_EQ(DecodeRuns(ByteSpan(holes), 0, runs), NtfsRunsEnd::EndMarker);
  ASSERT_EQ(runs.size(), 3u);
  m = MapVcn(runs, 5);
  EXPECT_TRUE(m.found && m.sparse && m.lcn == 0 && m.left == 7);
  m = MapVcn(runs, 12);
  EXPECT_TRUE(m.found && !m.sparse);
  EXPECT_EQ(m.lcn, 0x30u);
}

TEST(NtfsDataRuns, DamagedListsEndWithFailureAndKeepTheRunsBefore) {
  struct Case {
    const char* what;
    Bytes runs;
    std::size_t kept;
  };
  const Case cases[] = {
      {"no end byte", {0x11, 0x04, 0x20}, 1},
      {"entry past the list", {0x11, 0x04, 0x20, 0x31, 0x05}, 1},
      {"no length field", {0x11, 0x04, 0x20, 0x10, 0x05, 0x00}, 1},
      {"length of 0", {0x11, 0x04, 0x20, 0x11, 0x00, 0x05, 0x00}, 1},
      {"LCN below 0", {0x11, 0x04, 0x20, 0x11, 0x04, 0xC0, 0x00}, 1},
      {"field wider than 8 bytes", {0x19, 0x01, 0x00}, 0},
  };
  for (const Case& c : cases) {
    std::vector<NtfsRun> runs;
    EXPECT_EQ(DecodeRuns(ByteSpan(c.runs), 0, runs), NtfsRunsEnd::Damaged) << c.what;
    EXPECT_EQ(runs.size(), c.kept) << c.what;
  }
  // A VCN that would wrap around is damage, not a run.
  std::vector<NtfsRun> runs;
  const Bytes huge = {0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  EXPECT_EQ(DecodeRuns(ByteSpan(huge), 5, runs), NtfsRunsEnd::Damaged);
}

TEST(NtfsDataRuns, AnExtentMapsOnlyItsOwnVcnRange) {
  NonResidentSpec s;
  s.runs = EncodeRuns({{10, 500}});
  s.startVcn = 100;
  s.lastVcn = 109;
  Bytes r = RecordBuilder().NonResident(s).Build(false);
  auto a = FindAttribute(ByteSpan(r), kNtfsData);
  ASSERT_TRUE(a);
  EXPECT_FALSE(MapVcn(*a, 99).found);
  EXPECT_FALSE(MapVcn(*a, 110).found);
  NtfsVcnMapping m = MapVcn(*a, 104);
  ASSERT_TRUE(m.found);
  EXPECT_EQ(m.lcn, 504u);
  EXPECT_EQ(m.left, 6u);
}

TEST(NtfsLznt1, AHandMadeChunkWithABackReference) {
  // "abc" as literals, then a reference 3 back for 6 bytes: at position 3
  // the offset takes 4 bits and the length 12.
  const Bytes in = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x03, 0x20};
  Bytes out(4096, 0xEE);
  ASSERT_TRUE(DecompressLznt1(ByteSpan(in), std::span<std::uint8_t>(out)));
  EXPECT_EQ(std::string(out.begin(), out.begin() + 9), "abcabcabc");
  EXPECT_TRUE(std::all_of(out.begin() + 9, out.end(), [](std::uint8_t b) { return b == 0; }));

  // A reference further back than the chunk's start is damage.
  Bytes bad = in;
  bad[7] = 0x50;  // offset 6 at position 3
  EXPECT_FALSE(DecompressLznt1(ByteSpan(bad), std::span<std::uint8_t>(out)));
  // A chunk longer than the input is damage.
  Bytes cut(in.begin(), in.end() - 1);
  EXPECT_FALSE(DecompressLznt1(ByteSpan(cut), std::span<std::uint8_t>(out)));
}

TEST(NtfsLznt1, RoundTripsThroughAWriterOfTheSameFormat) {
  struct Case {
    const char* what;
    Bytes data;
  };
  std::vector<Case> cases;
  std::string text;
  for (int i = 0; text.size() < 65536; ++i) text += "line " + std::to_string(i % 97) + " of some repetitive text\n";
  cases.push_back({"text", Bytes(text.begin(), text.begin() + 65536)});
  cases.push_back({"random", RandomBytes(65536, 3)});
  cases.push_back({"zeros", Bytes(65536, 0)});
  Bytes mixed = RandomBytes(65536, 4);
  std::fill(mixed.begin() + 5000, mixed.begin() + 30000, 'x');
  cases.push_back({"mixed", mixed});
  for (const Case& c : cases) {
    Bytes packed = Lznt1Compress(c.data);
    Bytes out(c.data.size());
    ASSERT_TRUE(DecompressLznt1(ByteSpan(packed), std::span<std::uint8_t>(out))) << c.what;
    EXPECT_EQ(out, c.data) << c.what;
  }
  // Output shorter than the data ends the decompression there.
  Bytes packed = Lznt1Compress(cases[0].data);
  Bytes small(5000);
  EXPECT_TRUE(DecompressLznt1(ByteSpan(packed), std::span<std::uint8_t>(small)));
  EXPECT_TRUE(std::equal(small.begin(), small.end(), cases[0].data.begin()));
}

}  // namespace
}  // namespace relictor::test
