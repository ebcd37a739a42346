// Fuzz-style tests with fixed seeds: the cluster stream against a model
// over the flat image, and the detector over random and mutated headers
// followed by random clusters. Nothing may crash, hang, read outside the
// scan range or claim a file longer than the range holds.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

#include "scan/file_builders.h"
#include "scan/real_files.h"
#include "scan/cluster_stream.h"
#include "scan/signatures.h"
#include "support/memory_volume.h"
#include "support/test_support.h"

namespace relictor {
namespace {

using test::Bytes;
using test::MemoryVolume;

// What the stream must do, worked out on the flat image: a cluster can be
// loaded when it lies in the range and is not one of the bad ones.
class StreamModel {
 public:
  StreamModel(const Bytes& image, std::uint64_t bpc, std::uint64_t first, std::uint64_t last,
              const std::set<std::uint64_t>& bad)
      : image_(image), bpc_(bpc), first_(first), last_(last), bad_(bad) {}

  bool Loadable(std::uint64_t c) const { return c >= first_ && c <= last_ && !bad_.count(c); }

  bool Begin(std::uint64_t k) {
    valid_ = Loadable(k);
    pos_ = k * bpc_;
    return valid_;
  }

  std::uint64_t Read(std::uint8_t* out, std::uint64_t n) {
    if (!valid_ || n == 0) return 0;
    for (std::uint64_t c = pos_ / bpc_; c <= (pos_ + n - 1) / bpc_; ++c) {
      if (!Loadable(c)) {
        Fail();
        return 0;
      }
    }
    std::memcpy(out, image_.data() + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
  }

  std::int64_t Skip(std::uint64_t n) {
    if (!valid_) return -1;
    std::uint64_t target = pos_ + n;
    std::uint64_t c = target / bpc_;
    if (target % bpc_ != 0 ? !Loadable(c) : c > last_ + 1) return Fail();
    pos_ = target;
    return static_cast<std::int64_t>(n);
  }

  std::int64_t Find(const Bytes& pattern) {
    if (!valid_) return -1;
    const std::uint64_t start = pos_;
    std::uint64_t c = pos_ / bpc_;
    if (!Loadable(c)) return Fail();
    for (;;) {
      const std::uint64_t end = (c + 1) * bpc_;
      for (std::uint64_t p = pos_; p + pattern.size() <= end; ++p) {
        if (std::memcmp(image_.data() + p, pattern.data(), pattern.size()) == 0) {
          pos_ = p + pattern.size();
          return static_cast<std::int64_t>(pos_ - start);
        }
      }
      ++c;
      pos_ = c * bpc_;
      if (!Loadable(c)) return Fail();
      if (IdentifySignature(ByteSpan(image_.data() + pos_, static_cast<std::size_t>(bpc_))) != kNoType) return Fail();
    }
  }

  std::uint64_t Position() const { return pos_; }
  bool Valid() const { return valid_; }

 private:
  int Fail() {
    valid_ = false;
    return -1;
  }

  const Bytes& image_;
  std::uint64_t bpc_, first_, last_;
  const std::set<std::uint64_t>& bad_;
  std::uint64_t pos_ = 0;
  bool valid_ = false;
};

TEST(SignatureFuzz, ClusterStreamAgreesWithAFlatModel) {
  std::mt19937_64 rng(20240601);
  // A small alphabet makes patterns recur and clusters start with
  // signatures (a 0 in the second byte reads as a TGA).
  const std::uint8_t alphabet[] = {0x00, 0x01, 0xFF, 0xD9, 'a', 'b', 'P', 'K', 0x05, 0x06};
  for (int round = 0; round < 2000; ++round) {
    const std::uint32_t spc = 1u << (rng() % 3);
    const std::uint64_t bpc = 512 * spc;
    const std::uint64_t clusters = 4 + rng() % 10;
    Bytes image(static_cast<std::size_t>(clusters * bpc));
    for (auto& b : image) b = alphabet[rng() % sizeof alphabet];
    MemoryVolume volume(image, spc);
    const std::uint64_t first = rng() % 3, last = clusters - 1 - rng() % 3;
    volume.SetScanRange(first, last);
    std::set<std::uint64_t> bad;
    if (rng() % 3 == 0) {
      std::uint64_t c = rng() % clusters;
      bad.insert(c);
      volume.Source().FailReadsIn(c * bpc + rng() % bpc, c * bpc + bpc);
    }
    ClusterStream stream(volume);
    StreamModel model(image, bpc, first, last, bad);
    for (int op = 0; op < 40; ++op) {
      const int kind = static_cast<int>(rng() % 10);
      if (kind == 0 || !model.Valid()) {
        std::uint64_t k = rng() % clusters;
        ASSERT_EQ(stream.Begin(k), model.Begin(k)) << round << ":" << op;
      } else if (kind <= 3) {
        std::uint64_t n = rng() % 4 == 0 ? bpc * (rng() % 3) : rng() % (2 * bpc + 2);
        Bytes got(static_cast<std::size_t>(n) + 1), want(static_cast<std::size_t>(n) + 1);
        std::uint64_t a = stream.Read(got.data(), n), b = model.Read(want.data(), n);
        ASSERT_EQ(a, b) << round << ":" << op << " read " << n;
        if (a) {
          ASSERT_EQ(0, std::memcmp(got.data(), want.data(), static_cast<std::size_t>(n)));
        }
      } else if (kind <= 6) {
        std::uint64_t n = rng() % 4 == 0 ? bpc * (rng() % 4) : rng() % (3 * bpc);
        ASSERT_EQ(stream.Skip(n), model.Skip(n)) << round << ":" << op << " skip " << n;
      } else {
        Bytes pattern(1 + rng() % 4);
        for (auto& b : pattern) b = alphabet[rng() % sizeof alphabet];
        ASSERT_EQ(stream.FindPattern(pattern.data(), pattern.size(), false), model.Find(pattern))
            << round << ":" << op;
      }
      if (model.Valid()) {
        ASSERT_EQ(stream.Cluster() * bpc + stream.Offset(), model.Position()) << round << ":" << op;
      }
    }
  }
}

// The first clusters of real and written files, to mutate.
std::vector<Bytes> Templates() {
  std::vector<Bytes> out;
  for (const char* name : {"photo.jpg", "standard.jpg", "progressive.jpg", "picture.bmp", "picture.png",
                           "picture.tga", "truecolor.pcx", "palette.pcx", "anim.gif", "sound.wav", "archive.zip"}) {
    out.push_back(test::RealFile(name));
  }
  out.push_back(test::MergeJpegHuffmanSegments(test::RealFile("standard.jpg")));
  test::CompoundOptions doc;
  doc.streamSize = 6000;
  doc.fillerStreams = 5;
  doc.splitDirectory = true;
  out.push_back(test::BuildCompoundDocument(doc));
  doc.shift = 12;
  out.push_back(test::BuildCompoundDocument(doc));
  out.push_back(test::BuildRarArchive({{"a", Bytes(900, 'a')}}));
  out.push_back(test::BuildAvi(2, 600, 3));
  std::string html = "<html><body>page</body></html>";
  out.push_back(Bytes(html.begin(), html.end()));
  return out;
}

void Mutate(Bytes& b, std::mt19937_64& rng) {
  const int edits = 1 + static_cast<int>(rng() % 8);
  for (int i = 0; i < edits && !b.empty(); ++i) {
    // Header fields sit near the start; bias the edits there.
    std::size_t limit = std::min<std::size_t>(b.size(), rng() % 2 ? 128 : 2048);
    std::size_t at = rng() % limit;
    switch (rng() % 5) {
      case 0: b[at] = static_cast<std::uint8_t>(rng()); break;
      case 1: b[at] = 0xFF; break;
      case 2: b[at] = 0; break;
      case 3:
        for (std::size_t k = at; k < std::min(b.size(), at + 4); ++k) b[k] = 0xFF;
        break;
      default: b[at] = static_cast<std::uint8_t>(b[at] ^ (1u << (rng() % 8))); break;
    }
  }
}

std::uint64_t BytesToRangeEnd(const MemoryVolume& v, std::uint64_t k) {
  return (v.LastCluster() - k + 1) * v.BytesPerCluster();
}

// Types found over a whole test, to show the inputs reach the rules.
using FoundTypes = std::map<std::string, int>;

void CheckEveryCluster(MemoryVolume& volume, const std::string& label, FoundTypes& found) {
  const std::uint64_t rangeClusters = volume.LastCluster() - volume.FirstCluster() + 1;
  for (std::uint64_t c = 0; c < volume.ClusterCount(); ++c) {
    const std::uint64_t before = volume.Source().ReadCalls();
    LostFileGuess g = ScanForLostFile(volume, c);
    const std::uint64_t reads = volume.Source().ReadCalls() - before;
    const bool inRange = c >= volume.FirstCluster() && c <= volume.LastCluster();
    if (!inRange) {
      ASSERT_FALSE(g.found) << label;
      ASSERT_EQ(reads, 0u) << label;
      continue;
    }
    if (!g.typeName.empty()) ++found["named " + g.typeName];
    if (g.found) {
      ++found[g.typeName];
      ASSERT_FALSE(g.typeName.empty()) << label;
      ASSERT_LE(g.length, BytesToRangeEnd(volume, c)) << label << " cluster " << c;
    }
    // No rule rereads without end: a few reads per cluster of the range,
    // plus two per compound-document sector it visits.
    ASSERT_LE(reads, 100 * rangeClusters + 100) << label << " cluster " << c;
  }
}

TEST(SignatureFuzz, MutatedHeadersFollowedByRandomClusters) {
  const std::vector<Bytes> templates = Templates();
  std::mt19937_64 rng(77);
  FoundTypes found;
  for (int round = 0; round < 8000; ++round) {
    const std::uint32_t spc = 1u << (rng() % 3);
    const std::uint32_t bpc = 512 * spc;
    const std::uint64_t clusters = 6 + rng() % 16;
    test::ClusterImage image(bpc);
    image.Put(0, test::RandomBytes(static_cast<std::size_t>(clusters * bpc), rng()));
    // One or two mutated files, whole or cut, at random clusters.
    for (int files = 1 + static_cast<int>(rng() % 2); files > 0; --files) {
      Bytes file = templates[rng() % templates.size()];
      if (rng() % 2) file.resize(std::min<std::size_t>(file.size(), bpc * (1 + rng() % 4)));
      Mutate(file, rng);
      image.Put(rng() % clusters, file);
    }
    // Clusters of zeros stop searches; sprinkle some.
    if (rng() % 2) image.Put(rng() % clusters, Bytes(bpc, 0));
    MemoryVolume volume(image);
    const std::uint64_t n = volume.ClusterCount();
    if (rng() % 3 == 0) volume.SetScanRange(rng() % 3, n - 1 - rng() % 3);
    if (rng() % 4 == 0) volume.Source().FailReadsIn(rng() % (n * bpc), n * bpc);
    CheckEveryCluster(volume, "round " + std::to_string(round), found);
    if (HasFatalFailure()) return;
  }
  // Mutated files are still found often enough for every rule to run to
  // its end many times.
  for (const char* type : {"JPG", "BMP", "PNG", "GIF", "PCX", "WAV", "AVI", "ZIP", "RAR", "HTM", "DOC", "MSCOMP"}) {
    EXPECT_GT(found[type], 5) << type;
  }
}

TEST(SignatureFuzz, RandomClustersBehindEverySignaturePrefix) {
  // Each signature's first bytes, then nothing but noise.
  const std::vector<std::string> prefixes = {
      "\xFF\xD8",        std::string("RIFF", 4), "BM",        "GIF89a",
      // A whole true-colour TGA header: the TGA test wants all of it.
      std::string("\0\0\x02\0\0\0\0\0\0\0\0\0\x40\0\x30\0\x18\x20", 18),
      "\x0A\x05\x01\x08", "\x89PNG\r\n\x1A\n",  "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1",
      "<html>",          "PK\x03\x04",          std::string("Rar!\x1A\x07\0", 7)};
  std::mt19937_64 rng(5150);
  FoundTypes found;
  for (int round = 0; round < 10000; ++round) {
    const std::uint32_t spc = 1u << (rng() % 2);
    const std::uint32_t bpc = 512 * spc;
    const std::uint64_t clusters = 3 + rng() % 6;
    Bytes bytes = test::RandomBytes(static_cast<std::size_t>(clusters * bpc), rng());
    const std::string& p = prefixes[rng() % prefixes.size()];
    std::memcpy(bytes.data(), p.data(), p.size());
    // Make the weaker header checks pass now and then.
    if (p == "BM" || p[0] == '\x0A') {
      bytes[6] = bytes[7] = bytes[8] = bytes[9] = 0;
      bytes[26] = 1;
      bytes[27] = 0;
      bytes[28] = 8;
      bytes[29] = 0;
      bytes[30] = bytes[31] = bytes[32] = bytes[33] = 0;
      bytes[64] = 0;
      bytes[68] = 1;
      bytes[69] = 0;
    }
    if (p[0] == '\xD0') {
      bytes[30] = static_cast<std::uint8_t>(7 + rng() % 10);  // a sane shift, hostile rest
      bytes[31] = 0;
    }
    MemoryVolume volume(bytes, spc);
    CheckEveryCluster(volume, "round " + std::to_string(round), found);
    if (HasFatalFailure()) return;
  }
  // Noise behind a prefix still reaches the rules: each type is named
  // (the detector got past the identification) in many rounds.
  for (const char* type : {"JPG", "BMP", "GIF", "TGA", "PCX", "PNG", "HTM", "ZIP", "RAR", "OFFICE"}) {
    EXPECT_GT(found[std::string("named ") + type], 50) << type;
  }
}

}  // namespace
}  // namespace relictor
