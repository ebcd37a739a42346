#pragma once
// Helpers of the NTFS tests: images made with mkntfs and the fixture tool,
// the fixture tool's generator bytes, opening volumes with the NTFS reader,
// walking and saving entries, and MFT records and whole small volumes made
// byte by byte for what the real tools will not make.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/output_file.h"
#include "ntfs/ntfs_driver.h"
#include "support/entry_tree.h"
#include "support/test_support.h"
#include "volume/sector_source.h"

namespace relictor::test {

using Bytes = std::vector<std::uint8_t>;

// Bytes OFFSET.. of the fixture tool's generator stream of SEED (splitmix64
// words, little-endian), as its README defines them.
inline Bytes Gen(std::uint64_t size, std::uint64_t seed, std::uint64_t offset = 0) {
  Bytes out(static_cast<std::size_t>(size));
  for (std::uint64_t i = 0; i < size; ++i) {
    const std::uint64_t pos = offset + i;
    std::uint64_t z = seed + (pos / 8 + 1) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(z >> (8 * (pos % 8)));
  }
  return out;
}

inline void MakeNtfs(const std::string& image, const std::string& size, int cluster, int sector = 512,
                     const std::string& label = "TESTVOL") {
  MustRun("rm -f " + Quote(image) + " && truncate -s " + size + " " + Quote(image) + " && mkntfs -F -Q -q -T -c " +
          std::to_string(cluster) + " -s " + std::to_string(sector) + " -p 0 -H 0 -S 0 -L " + Quote(label) + " " +
          Quote(image) + " 2>&1");
}

// Runs a fixture script on an image; the script's time stamps are fixed.
inline void RunFixture(const std::string& image, const std::string& script) {
  const std::string file = image + ".script";
  WriteFile(file, script);
  MustRun("SOURCE_DATE_EPOCH=1700000000 " + Quote(NtfsFixturePath()) + " " + Quote(image) + " " + Quote(file));
}

// The fixture tool's info line of a path, as key/value pairs.
inline std::map<std::string, std::string> FixtureInfo(const std::string& image, const std::string& path) {
  std::string line = MustRun(Quote(NtfsFixturePath()) + " --info " + Quote(image) + " " + Quote(path));
  std::map<std::string, std::string> out;
  std::size_t p = 0;
  while (p < line.size()) {
    std::size_t end = line.find_first_of(" \n", p);
    if (end == std::string::npos) end = line.size();
    std::string field = line.substr(p, end - p);
    auto eq = field.find('=');
    if (eq != std::string::npos) out[field.substr(0, eq)] = field.substr(eq + 1);
    p = end + 1;
  }
  return out;
}

// A name from beyond the basic plane, on the volume below.
inline constexpr const char* kScenarioUnicodeName = "Grüße 日本語 😀.txt";

// The volume the image tests share, made as `image` by mkntfs and the
// fixture tool: resident, empty, sparse, fragmented and compressed files, a
// named stream, a short name, edited times, a deep path, hard links, data
// and names moved to extension records, deleted files and folders, and a
// folder whose record a file took. The photo and the text put on it stay
// in `dir` as photo.jpg and text.txt. `more` adds commands before the
// deletions.
inline void MakeScenarioVolume(const TempDir& dir, const std::string& image, const std::string& size, int cluster,
                               int sector, const std::string& label, const std::string& more = {}) {
  const std::string jpeg = dir / "photo.jpg", text = dir / "text.txt";
  MustRun("/usr/bin/convert -seed 3 -size 320x240 plasma:red-blue -quality 95 " + Quote(jpeg));
  std::string t;
  for (int i = 0; t.size() < 150000; ++i) t += "line " + std::to_string(i) + " of a text that compresses well\n";
  WriteFile(text, t);
  MakeNtfs(image, size, cluster, sector, label);
  RunFixture(image,
             "mkdir /docs\n"
             "text /docs/resident.txt \"small and resident\"\n"
             "fill /docs/big.bin 300000 1\n"
             "fill /docs/empty.bin 0 0\n"
             "fill /docs/tiny.bin 20 2\n"
             "nonresident /docs/tiny.bin\n"
             "sparse /docs/sparse.bin 2M 0:5000:3 1M:100:4 0x1FF000:4096:5\n"
             "fragment /docs/frag.bin 400000 6 12\n"
             "text \"/docs/" + std::string(kScenarioUnicodeName) + "\" unicode\n"
             "text /docs/LongFileName.txt \"has a short name\"\n"
             "dosname /docs/LongFileName.txt LONGFI~1.TXT\n"
             "stream /docs/big.bin ads 3000 7\n"
             "touch /docs/resident.txt 1000000000\n"
             // Edited as Windows leaves a file: only $STANDARD_INFORMATION
             // changes, every $FILE_NAME keeps the creation's time and flags.
             "sitimes /docs/LongFileName.txt 1500000000 1600000000 1650000000 0x23\n"
             "putcompressed /docs/packed.txt " + text + "\n"
             "mkdirs /deep/a/b/c/d/e/f/g/h/i/j/k/l\n"
             "text /deep/a/b/c/d/e/f/g/h/i/j/k/l/leaf.txt leaf\n"
             "mkdir /links\n"
             "fill /links/file 5000 8\n"
             "manylinks /links/file 9\n"
             "mkdir /attr\n"
             "fill /attr/moved.bin 20000 9\n"
             "attrlist /attr/moved.bin data\n"
             "text /attr/named.txt named\n"
             "attrlist /attr/named.txt filename\n"
             "sitimes /attr/named.txt 1300000000 1300000001 1300000002\n"
             "mkdir /attr/listed\n"
             "mkfiles /attr/listed 20 f 100\n"
             "attrlist /attr/listed\n"
             "fragment /many.bin 1200000 10 250\n"
             "mkdir /pics\n"
             "put /pics/photo.jpg " + jpeg + "\n"
             "put /pics/deleted.jpg " + jpeg + "\n"
             "mkdir /trash\n"
             "fill /trash/gone.bin 12000 11\n"
             "text /trash/gone.txt bye\n"
             "sitimes /trash/gone.txt 1400000000 1400000600 1400001200 0x21\n"
             "mkdir /trash/sub\n"
             "text /trash/sub/inner.txt inner\n"
             "mkdir /reused\n"
             "fill /reused/orphan.bin 9000 12\n"
             "text /reused/orphan.txt orphan\n" +
                 more +
                 // Deletions last, so that no later file takes their records
                 // or clusters (but the one that is to).
                 "delete /pics/deleted.jpg\n"
                 "deltree /trash\n"
                 "delete /reused/orphan.bin\n"
                 "delete /reused/orphan.txt\n"
                 "reuse /reused\n"
                 "delete /reused\n"
                 "text /newcomer.txt \"took the folder's record\"\n");
}

inline std::unique_ptr<CNTFSDriver> OpenNtfs(SectorSourcePtr source, Host* host = nullptr) {
  auto d = std::make_unique<CNTFSDriver>();
  d->SetHost(host);
  d->SetDevice(std::move(source));
  if (!d->Open('C', kDriveFixed, "C:\\", false)) return nullptr;
  return d;
}

inline std::unique_ptr<CNTFSDriver> OpenNtfsFile(const std::string& path, Host* host = nullptr) {
  std::string error;
  auto source = FileSource::Open(path, error);
  EXPECT_TRUE(source) << error;
  if (!source) return nullptr;
  return OpenNtfs(source, host);
}

inline std::unique_ptr<CNTFSDriver> OpenNtfsBytes(Bytes bytes, Host* host = nullptr) {
  return OpenNtfs(std::make_shared<MemorySource>(std::move(bytes)), host);
}

// The entry at a "/"-separated path below the root, or null.
inline CDirEntry* Find(CVolumeDriver& v, const std::string& path) {
  CDirEntry* e = v.GetRoot();
  std::size_t p = 0;
  while (e && p < path.size()) {
    if (path[p] == '/') {
      ++p;
      continue;
    }
    std::size_t end = path.find('/', p);
    if (end == std::string::npos) end = path.size();
    e = Child(dynamic_cast<CDirectory*>(e), path.substr(p, end - p));
    p = end;
  }
  return e;
}

inline CNTFSFile* FindFile(CVolumeDriver& v, const std::string& path) {
  return dynamic_cast<CNTFSFile*>(Find(v, path));
}

inline CNTFSDirectory* FindDir(CVolumeDriver& v, const std::string& path) {
  return dynamic_cast<CNTFSDirectory*>(Find(v, path));
}

struct Saved {
  bool ok = false;
  Bytes bytes;
  std::vector<std::string> problems;
};

inline Saved Save(CDirEntry* e, ProgressSink* progress = nullptr) {
  Saved s;
  auto* f = dynamic_cast<CFSFile*>(e);
  if (!f) return s;
  MemoryOutputFile out;
  s.ok = f->SaveData(out, progress);
  s.bytes = out.Bytes();
  s.problems = out.Problems();
  return s;
}

// ---------------------------------------------------------------------------
// Records made byte by byte.

inline void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, static_cast<std::uint16_t>(v));
  Put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void Put64(Bytes& b, std::size_t at, std::uint64_t v) {
  Put32(b, at, static_cast<std::uint32_t>(v));
  Put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void PutBytes(Bytes& b, std::size_t at, const Bytes& v) {
  if (b.size() < at + v.size()) b.resize(at + v.size());
  std::copy(v.begin(), v.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}
inline Bytes Utf16(const std::u16string& s) {
  Bytes b;
  for (char16_t c : s) {
    b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return b;
}

// A run list from (length, LCN) pairs; an LCN of -1 is a hole.
inline Bytes EncodeRuns(const std::vector<std::pair<std::uint64_t, std::int64_t>>& runs) {
  auto widthUnsigned = [](std::uint64_t v) {
    std::size_t n = 1;
    while (n < 8 && (v >> (8 * n)) != 0) ++n;
    return n;
  };
  auto widthSigned = [](std::int64_t v) {
    std::size_t n = 1;
    while (n < 8) {
      std::int64_t lo = -(std::int64_t{1} << (8 * n - 1)), hi = (std::int64_t{1} << (8 * n - 1)) - 1;
      if (v >= lo && v <= hi) break;
      ++n;
    }
    return n;
  };
  Bytes out;
  std::int64_t previous = 0;
  for (auto [length, lcn] : runs) {
    std::size_t l = widthUnsigned(length);
    std::size_t f = lcn < 0 ? 0 : widthSigned(lcn - previous);
    out.push_back(static_cast<std::uint8_t>(l | (f << 4)));
    for (std::size_t i = 0; i < l; ++i) out.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    if (lcn >= 0) {
      std::uint64_t delta = static_cast<std::uint64_t>(lcn - previous);
      for (std::size_t i = 0; i < f; ++i) out.push_back(static_cast<std::uint8_t>(delta >> (8 * i)));
      previous = lcn;
    }
  }
  out.push_back(0);
  return out;
}

struct FileNameSpec {
  std::uint64_t parent = 5;
  std::u16string name = u"file.txt";
  std::uint8_t nameSpace = kNtfsWin32Name;
  std::uint32_t flags = 0x20;
  std::uint64_t realSize = 0;
  std::uint64_t allocatedSize = 0;
  std::uint64_t time = 133444736000000000ull;  // 2023-11-14 22:13:20 UTC
};

inline Bytes FileNameValue(const FileNameSpec& s) {
  Bytes v(kNtfsFileNameHeader, 0);
  Put64(v, 0, s.parent | (std::uint64_t{1} << 48));
  Put64(v, 8, s.time);
  Put64(v, 16, s.time);
  Put64(v, 24, s.time);
  Put64(v, 32, s.time);
  Put64(v, 40, s.allocatedSize);
  Put64(v, 48, s.realSize);
  Put32(v, 56, s.flags);
  v[64] = static_cast<std::uint8_t>(s.name.size());
  v[65] = s.nameSpace;
  PutBytes(v, kNtfsFileNameHeader, Utf16(s.name));
  return v;
}

// A $STANDARD_INFORMATION value of `size` bytes (72 as the file system
// writes it today; 48 in its first version; less is damaged).
struct StandardInformationSpec {
  std::uint64_t created = 0;
  std::uint64_t modified = 0;
  std::uint64_t changed = 0;
  std::uint64_t accessed = 0;
  std::uint32_t flags = 0x20;
  std::size_t size = 72;
};

inline Bytes StandardInformationValue(const StandardInformationSpec& s) {
  Bytes v(72, 0);
  Put64(v, 0, s.created);
  Put64(v, 8, s.modified);
  Put64(v, 16, s.changed);
  Put64(v, 24, s.accessed);
  Put32(v, 32, s.flags);
  v.resize(s.size);
  return v;
}

// The NTFS time of a point in seconds since 1970.
inline std::uint64_t FileTimeOf(std::int64_t unixSeconds) {
  return static_cast<std::uint64_t>(unixSeconds + 11644473600) * 10000000;
}

struct NonResidentSpec {
  std::uint32_t type = kNtfsData;
  Bytes runs;
  std::uint64_t startVcn = 0;
  std::uint64_t lastVcn = 0;
  std::uint64_t allocatedSize = 0;
  std::uint64_t realSize = 0;
  std::uint64_t initializedSize = 0;
  std::uint16_t flags = 0;
  std::uint16_t compressionUnit = 0;
  std::u16string name;
};

// An MFT record: the header, an update sequence array protecting every
// 512-byte stride, the attributes added, and the end marker.
class RecordBuilder {
 public:
  explicit RecordBuilder(std::uint32_t size = 1024, std::uint16_t flags = kNtfsRecordInUse)
      : size_(size), flags_(flags) {}

  RecordBuilder& Flags(std::uint16_t f) { return flags_ = f, *this; }
  RecordBuilder& Base(std::uint64_t reference) { return base_ = reference, *this; }
  RecordBuilder& Number(std::uint32_t n) { return number_ = n, *this; }
  // Records of older versions: the update sequence array at 0x2A, no
  // record number field.
  RecordBuilder& OldHeader() { return old_ = true, *this; }

  RecordBuilder& Resident(std::uint32_t type, const Bytes& value, std::u16string name = {}) {
    const std::size_t nameBytes = name.size() * 2;
    const std::size_t valueOffset = Align8(24 + nameBytes);
    Bytes a(Align8(valueOffset + value.size()), 0);
    Put32(a, 0, type);
    Put32(a, 4, static_cast<std::uint32_t>(a.size()));
    a[8] = 0;
    a[9] = static_cast<std::uint8_t>(name.size());
    Put16(a, 10, 24);
    Put16(a, 14, nextId_++);
    Put32(a, 16, static_cast<std::uint32_t>(value.size()));
    Put16(a, 20, static_cast<std::uint16_t>(valueOffset));
    PutBytes(a, 24, Utf16(name));
    PutBytes(a, valueOffset, value);
    attributes_.push_back(a);
    return *this;
  }
  RecordBuilder& FileName(const FileNameSpec& s) { return Resident(kNtfsFileName, FileNameValue(s)); }
  RecordBuilder& NonResident(const NonResidentSpec& s) {
    const std::size_t nameBytes = s.name.size() * 2;
    const std::size_t runsOffset = Align8(64 + nameBytes);
    Bytes a(Align8(runsOffset + s.runs.size()), 0);
    Put32(a, 0, s.type);
    Put32(a, 4, static_cast<std::uint32_t>(a.size()));
    a[8] = 1;
    a[9] = static_cast<std::uint8_t>(s.name.size());
    Put16(a, 10, 64);
    Put16(a, 12, s.flags);
    Put16(a, 14, nextId_++);
    Put64(a, 16, s.startVcn);
    Put64(a, 24, s.lastVcn);
    Put16(a, 32, static_cast<std::uint16_t>(runsOffset));
    Put16(a, 34, s.compressionUnit);
    Put64(a, 40, s.allocatedSize);
    Put64(a, 48, s.realSize);
    Put64(a, 56, s.initializedSize);
    PutBytes(a, 64, Utf16(s.name));
    PutBytes(a, runsOffset, s.runs);
    attributes_.push_back(a);
    return *this;
  }
  // Raw attribute bytes, for damaged ones.
  RecordBuilder& Raw(const Bytes& attribute) {
    attributes_.push_back(attribute);
    return *this;
  }
  std::uint16_t NextId() const { return nextId_; }

  // The record as it lies on disk (protected by the update sequence) or,
  // with `protect` false, as it is after its fixups.
  Bytes Build(bool protect = true) const {
    Bytes r(size_, 0);
    std::memcpy(r.data(), "FILE", 4);
    const std::uint16_t usaOffset = old_ ? 0x2A : 0x30;
    const std::uint16_t usaCount = static_cast<std::uint16_t>(size_ / 512 + 1);
    Put16(r, 4, usaOffset);
    Put16(r, 6, usaCount);
    Put16(r, 16, 1);
    Put16(r, 18, 1);
    const std::size_t first = Align8(usaOffset + 2u * usaCount);
    Put16(r, 20, static_cast<std::uint16_t>(first));
    Put16(r, 22, flags_);
    Put64(r, 32, base_);
    Put16(r, 40, nextId_);
    if (!old_) Put32(r, 44, number_);
    std::size_t at = first;
    for (const Bytes& a : attributes_) {
      PutBytes(r, at, a);
      at += a.size();
    }
    Put32(r, at, kNtfsEndMarker);
    at += 8;
    Put32(r, 24, static_cast<std::uint32_t>(at));
    Put32(r, 28, size_);
    r.resize(size_);
    const std::uint16_t usn = 0x0007;
    Put16(r, usaOffset, usn);
    for (std::size_t i = 1; i < usaCount; ++i) {
      const std::size_t end = i * 512 - 2;
      Put16(r, usaOffset + 2 * i, static_cast<std::uint16_t>(r[end] | (r[end + 1] << 8)));
      if (protect) Put16(r, end, usn);
    }
    return r;
  }

  static std::size_t Align8(std::size_t v) { return (v + 7) & ~std::size_t{7}; }

 private:
  std::uint32_t size_;
  std::uint16_t flags_;
  std::uint64_t base_ = 0;
  std::uint32_t number_ = 0;
  bool old_ = false;
  std::uint16_t nextId_ = 0;
  std::vector<Bytes> attributes_;
};

// An attribute list entry.
inline Bytes ListEntry(std::uint32_t type, std::uint64_t record, std::uint16_t id, std::uint64_t startVcn = 0) {
  Bytes e(32, 0);
  Put32(e, 0, type);
  Put16(e, 4, 32);
  e[7] = 26;
  Put64(e, 8, startVcn);
  Put64(e, 16, record | (std::uint64_t{1} << 48));
  Put16(e, 24, id);
  return e;
}

// A small NTFS volume made byte by byte: 512-byte sectors, a boot sector,
// and an MFT of `records` records of 1024 bytes at `mftLcn`, contiguous,
// with record 0 describing it and record 5 the root folder. Tests put
// further records and cluster contents in before building it.
class CraftedVolume {
 public:
  CraftedVolume(std::uint32_t bytesPerCluster, std::uint64_t clusters, std::uint64_t mftLcn, std::uint64_t records)
      : bpc_(bytesPerCluster), clusters_(clusters), mftLcn_(mftLcn), records_(records) {
    bytes_.assign(static_cast<std::size_t>(clusters * bpc_), 0);
    Bytes& b = bytes_;
    std::memcpy(b.data() + 3, "NTFS    ", 8);
    Put16(b, 11, 512);
    b[13] = static_cast<std::uint8_t>(bpc_ / 512);
    Put64(b, 40, clusters * (bpc_ / 512));
    Put64(b, 48, mftLcn);
    Put32(b, 64, 0xF6);
    Put16(b, 510, 0xAA55);
    const std::uint64_t mftClusters = (records * 1024 + bpc_ - 1) / bpc_;
    SetRecord(0, Record0(EncodeRuns({{mftClusters, static_cast<std::int64_t>(mftLcn)}}), mftClusters));
    SetRecord(5, RecordBuilder(1024, kNtfsRecordInUse | kNtfsRecordDirectory)
                     .Number(5)
                     .FileName({5, u".", kNtfsWin32AndDosName, 0x06})
                     .Build());
  }

  // Record 0 with a given run list (and, optionally, an attribute list).
  Bytes Record0(const Bytes& runs, std::uint64_t mappedClusters, const Bytes& attributeList = {},
                std::uint64_t lastVcn = ~std::uint64_t{0}) const {
    RecordBuilder r;
    r.Number(0).FileName({5, u"$MFT", kNtfsWin32AndDosName, 0x06});
    if (!attributeList.empty()) r.Resident(kNtfsAttributeList, attributeList);
    NonResidentSpec d;
    d.runs = runs;
    d.lastVcn = lastVcn == ~std::uint64_t{0} ? mappedClusters - 1 : lastVcn;
    d.allocatedSize = d.realSize = d.initializedSize = records_ * 1024;
    r.NonResident(d);
    return r.Build();
  }

  std::size_t RecordOffset(std::uint64_t n) const { return static_cast<std::size_t>(mftLcn_ * bpc_ + n * 1024); }
  void SetRecord(std::uint64_t n, const Bytes& record) { PutBytes(bytes_, RecordOffset(n), record); }
  void SetRecordAt(std::size_t offset, const Bytes& record) { PutBytes(bytes_, offset, record); }
  void SetCluster(std::uint64_t lcn, const Bytes& data) { PutBytes(bytes_, static_cast<std::size_t>(lcn * bpc_), data); }
  Bytes& ImageBytes() { return bytes_; }
  std::uint32_t BytesPerCluster() const { return bpc_; }

 private:
  std::uint32_t bpc_;
  std::uint64_t clusters_;
  std::uint64_t mftLcn_;
  std::uint64_t records_;
  Bytes bytes_;
};

// A file record in a folder, with resident data.
inline Bytes ResidentFile(std::uint64_t parent, const std::u16string& name, const Bytes& data,
                          std::uint16_t flags = kNtfsRecordInUse) {
  return RecordBuilder(1024, flags)
      .FileName({parent, name, kNtfsWin32Name, 0x20, data.size(), data.size()})
      .Resident(kNtfsData, data)
      .Build();
}

inline Bytes Folder(std::uint64_t parent, const std::u16string& name,
                    std::uint16_t flags = kNtfsRecordInUse | kNtfsRecordDirectory) {
  return RecordBuilder(1024, flags).FileName({parent, name, kNtfsWin32Name, 0x10}).Build();
}

}  // namespace relictor::test
