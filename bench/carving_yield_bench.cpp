// Carving yield: how many files of every type the deep scan gives back byte
// for byte after a quick format, on a FAT32 and an NTFS volume filled with
// real files made by real tools, and the scan's speed as a ratio to reading
// the same image sequentially in 1 MiB blocks in the same run. A last table
// formats FAT32 and FAT16 volumes with their folders kept and counts the
// files that come back with their names.
//
//   carving_yield_bench [WORKDIR]
//
// The sample files and the two images are made once in WORKDIR (default:
// ./bench-work) and reused.

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "fat/fat_driver.h"
#include "model/output_file.h"
#include "ntfs/ntfs_driver.h"
#include "scan/deep_scan.h"
#include "volume/sector_source.h"

namespace {

using relictor::bench::Clock;
using relictor::bench::SequentialSeconds;
using relictor::bench::Shell;
namespace fs = std::filesystem;
using namespace relictor;

constexpr int kVariants = 6;  // files of each type
constexpr std::uint64_t kImageMiB = 512;

std::string Q(const std::string& s) { return "'" + s + "'"; }

// mtools keeps an all-lower-case 8.3 name as a short name with a case flag,
// which the reader shows in capitals.
std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// CPU time of the calling thread, user and system: what the work itself
// cost, whatever else the machine runs.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The type the detector must name each sample by, from its extension.
const std::map<std::string, std::string> kTypeOfExtension = {
    {"jpg", "JPG"}, {"png", "PNG"},   {"bmp", "BMP"},   {"gif", "GIF"},   {"tga", "TGA"},   {"pcx", "PCX"},
    {"wav", "WAV"}, {"avi", "AVI"},   {"zip", "ZIP"},   {"htm", "HTM"},   {"mp3", "MP3"},   {"ogg", "OGG"},
    {"m4a", "M4A"}, {"mp4", "MP4"},   {"mov", "MOV"},   {"mpg", "MPG"},   {"pdf", "PDF"},   {"docx", "DOCX"},
    {"xlsx", "XLSX"}, {"pptx", "PPTX"}, {"odt", "ODT"}, {"ods", "ODS"},   {"odp", "ODP"},   {"epub", "EPUB"},
};

std::uint64_t Fnv(const std::vector<std::uint8_t>& b) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (std::uint8_t c : b) h = (h ^ c) * 0x100000001B3ull;
  return h ^ b.size();
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Offset10(std::size_t v) {
  std::string d = std::to_string(v);
  return std::string(10 - std::min<std::size_t>(10, d.size()), '0') + d;
}

// A one-page PDF with a correct cross-reference table, written by hand (no
// tool on the machine writes PDF without a PostScript interpreter); the
// odd variants carry an incremental update.
void WritePdf(const std::string& path, int variant) {
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> at(7, 0);
  auto object = [&](int n, const std::string& body) {
    at[static_cast<std::size_t>(n)] = pdf.size();
    pdf += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
  };
  std::string text = "BT /F1 10 Tf 40 760 Td 12 TL\n";
  for (int i = 0; i < 400 + variant * 900; ++i) text += "(Line " + std::to_string(i) + " of a lost report) '\n";
  text += "ET\n";
  object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>");
  object(4, "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream");
  object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 6\n0000000000 65535 f \n";
  for (int i = 1; i <= 5; ++i) pdf += Offset10(at[static_cast<std::size_t>(i)]) + " 00000 n \n";
  pdf += "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  if (variant % 2 == 1) {
    object(6, "<< /Title (Revised) >>");
    const std::size_t second = pdf.size();
    pdf += "xref\n0 1\n0000000000 65535 f \n6 1\n" + Offset10(at[6]) + " 00000 n \ntrailer\n<< /Size 7 /Root 1 0 R /Info 6 0 R /Prev " +
           std::to_string(xref) + " >>\nstartxref\n" + std::to_string(second) + "\n%%EOF\n";
  }
  std::ofstream(path, std::ios::binary) << pdf;
}

// kVariants files of every type, of growing sizes, made by the real tools
// (ImageMagick, sox, ffmpeg, zip). Together about 60 MB.
bool MakeSamples(const std::string& dir) {
  if (fs::exists(dir + "/done")) return true;
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string im = "/usr/bin/convert";
  const std::string ff = "ffmpeg -nostdin -hide_banner -loglevel error -y -fflags +bitexact -flags +bitexact";
  for (int v = 0; v < kVariants; ++v) {
    const std::string n = std::to_string(v), d = Q(dir) + "/";
    const std::string w = std::to_string(320 + v * 240), h = std::to_string(240 + v * 180);
    const std::string plasma = " -seed " + std::to_string(10 + v) + " -size " + w + "x" + h + " plasma: ";
    const std::string secs = std::to_string(3 + v * 4);
    std::vector<std::string> commands = {
        im + plasma + "-quality 90 " + d + "photo" + n + ".jpg",
        im + plasma + d + "picture" + n + ".png",
        im + plasma + d + "picture" + n + ".bmp",
        im + " -seed " + n + " -size " + std::to_string(160 + v * 60) + "x120 plasma: " + d + "picture" + n + ".gif",
        // ImageMagick writes no TGA 2.0 footer, which the TGA rule needs.
        im + plasma + "-compress RLE " + d + "picture" + n + ".tga && printf '\\0\\0\\0\\0\\0\\0\\0\\0TRUEVISION-XFILE.\\0' >> " +
            d + "picture" + n + ".tga",
        im + plasma + d + "picture" + n + ".pcx",
        "sox -n -r 22050 -c 2 " + d + "sound" + n + ".wav synth " + secs + " sine " + std::to_string(300 + v * 50),
        ff + " -f lavfi -i testsrc=size=320x240:rate=10:duration=" + std::to_string(1 + v) + " -c:v mjpeg " + d + "movie" + n + ".avi",
        "cd " + d + " && rm -rf z" + n + " && mkdir z" + n + " && " + im + plasma + "z" + n + "/a.png && head -c " +
            std::to_string(20000 + v * 50000) + " /dev/zero | tr '\\0' 'x' > z" + n + "/b.txt && zip -q -X -r archive" + n +
            ".zip z" + n,
        ff + " -f lavfi -i sine=frequency=440:duration=" + secs + " -c:a libmp3lame -b:a 128k " + d + "sound" + n + ".mp3",
        ff + " -f lavfi -i sine=frequency=440:duration=" + secs + " -c:a libvorbis " + d + "sound" + n + ".ogg",
        ff + " -f lavfi -i sine=frequency=440:duration=" + secs + " -c:a aac " + d + "sound" + n + ".m4a",
        ff + " -f lavfi -i testsrc=size=320x240:rate=25:duration=" + std::to_string(1 + v) + " -c:v libx264 -pix_fmt yuv420p " + d +
            "movie" + n + ".mp4",
        ff + " -f lavfi -i testsrc=size=320x240:rate=25:duration=" + std::to_string(1 + v) + " -c:v mpeg4 " + d + "movie" + n + ".mov",
        ff + " -f lavfi -i testsrc=size=320x240:rate=25:duration=" + std::to_string(1 + v) +
            " -f lavfi -i sine=duration=" + std::to_string(1 + v) + " -c:v mpeg2video -c:a mp2 -f vob " + d + "movie" + n + ".mpg",
    };
    // Zip-based documents, each with a picture so they span clusters.
    auto ooxml = [&](const std::string& ext, const std::string& folder, const std::string& part) {
      const std::string t = "x" + ext + n;
      return "cd " + d + " && rm -rf " + t + " && mkdir -p " + t + "/_rels " + t + "/" + folder + "/media && cd " + t +
             " && printf '<?xml version=\"1.0\"?><Types/>' > '[Content_Types].xml' && printf '<Relationships/>' > _rels/.rels && "
             "printf '<" + part + "/>' > " + folder + "/" + part + ".xml && " + im + plasma + folder +
             "/media/image1.png && zip -q -X ../doc" + n + "." + ext + " '[Content_Types].xml' _rels/.rels " + folder + "/" +
             part + ".xml " + folder + "/media/image1.png";
    };
    auto odf = [&](const std::string& ext, const std::string& mime) {
      const std::string t = "x" + ext + n;
      return "cd " + d + " && rm -rf " + t + " && mkdir -p " + t + "/META-INF " + t + "/Pictures && cd " + t + " && printf '" +
             mime + "' > mimetype && printf '<manifest/>' > META-INF/manifest.xml && printf '<content/>' > content.xml && " +
             im + plasma + "Pictures/image1.png && zip -q -X -0 ../doc" + n + "." + ext +
             " mimetype && zip -q -X ../doc" + n + "." + ext + " META-INF/manifest.xml content.xml Pictures/image1.png";
    };
    commands.push_back(ooxml("docx", "word", "document"));
    commands.push_back(ooxml("xlsx", "xl", "workbook"));
    commands.push_back(ooxml("pptx", "ppt", "presentation"));
    commands.push_back(odf("odt", "application/vnd.oasis.opendocument.text"));
    commands.push_back(odf("ods", "application/vnd.oasis.opendocument.spreadsheet"));
    commands.push_back(odf("odp", "application/vnd.oasis.opendocument.presentation"));
    commands.push_back(odf("epub", "application/epub+zip"));
    for (const std::string& c : commands) {
      if (Shell(c) != 0) return false;
    }
    std::string html = "<html><head><title>bench</title></head><body>\n";
    for (int i = 0; i < 500 + v * 3000; ++i) html += "<p>line " + std::to_string(i) + " of a page that was lost</p>\n";
    std::ofstream(dir + "/page" + n + ".htm", std::ios::binary) << html << "</body></html>";
    WritePdf(dir + "/report" + n + ".pdf", v);
  }
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.is_directory()) fs::remove_all(e.path());
  }
  std::ofstream(dir + "/done") << "1";
  return true;
}

struct Planted {
  std::string path;  // on the host
  std::string type;
  std::uint64_t size = 0;
  std::uint64_t hash = 0;
  bool contiguous = true;
};

std::vector<Planted> Samples(const std::string& dir) {
  std::vector<Planted> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string ext = e.path().extension().string();
    auto it = kTypeOfExtension.find(ext.empty() ? "" : ext.substr(1));
    if (it == kTypeOfExtension.end()) continue;
    Planted p;
    p.path = e.path().string();
    p.type = it->second;
    auto bytes = ReadAll(p.path);
    p.size = bytes.size();
    p.hash = Fnv(bytes);
    out.push_back(p);
  }
  std::sort(out.begin(), out.end(), [](const Planted& a, const Planted& b) { return a.path < b.path; });
  return out;
}

// Opens a reader of the given kind on an image.
template <typename Driver>
std::unique_ptr<Driver> OpenImage(const std::string& image) {
  std::string error;
  auto source = FileSource::Open(image, error);
  if (!source) return nullptr;
  auto d = std::make_unique<Driver>();
  d->SetDevice(source);
  if (!d->Open('C', kDriveFixed, "C:\\", false)) return nullptr;
  return d;
}

// The FAT32 volume: the samples copied in by type, each file's chain
// checked for contiguity, the folders deleted, then the volume formatted
// again over its data.
bool MakeFatImage(const std::string& image, std::vector<Planted>& planted) {
  const std::string mkfs = "mkfs.fat -F 32 -s 8 -i 12345678 " + Q(image) + " > /dev/null";
  if (Shell("rm -f " + Q(image) + " && truncate -s " + std::to_string(kImageMiB) + "M " + Q(image) + " && " + mkfs) != 0) {
    return false;
  }
  std::set<std::string> folders;
  for (const Planted& p : planted) {
    if (folders.insert(p.type).second && Shell("MTOOLS_SKIP_CHECK=1 mmd -i " + Q(image) + " ::/" + p.type) != 0) return false;
    if (Shell("MTOOLS_SKIP_CHECK=1 mcopy -i " + Q(image) + " " + Q(p.path) + " ::/" + p.type + "/") != 0) return false;
  }
  auto fat = OpenImage<CFATDriver>(image);
  if (!fat) return false;
  std::map<std::string, bool> chains;  // file name -> contiguous
  fat->GetRoot()->Populate(true, false, true);
  for (auto& folder : fat->GetRoot()->children) {
    auto* dir = dynamic_cast<CFATDirectory*>(folder.get());
    if (!dir) continue;
    dir->Populate(true, false, true);
    for (auto& child : dir->children) {
      auto* f = dynamic_cast<CFATFile*>(child.get());
      if (!f) continue;
      bool ok = true;
      std::uint32_t c = f->startCluster;
      for (std::uint64_t left = (f->size + fat->BytesPerCluster() - 1) / fat->BytesPerCluster(); left > 1; --left) {
        const std::uint32_t next = fat->ReadFatEntry(c, 0);
        if (next != c + 1) {
          ok = false;
          break;
        }
        c = next;
      }
      chains[Lower(f->name)] = ok;
    }
  }
  for (Planted& p : planted) p.contiguous = chains[Lower(fs::path(p.path).filename().string())];
  fat.reset();
  // The folders are deleted before the format, as when a card is emptied
  // and then formatted: their clusters keep only deleted entries, so the
  // scan rebuilds no folder and every file must be found by its signature.
  for (const std::string& folder : folders) {
    if (Shell("MTOOLS_SKIP_CHECK=1 mdeltree -i " + Q(image) + " ::/" + folder) != 0) return false;
  }
  return Shell(mkfs) == 0;
}

// A FAT volume whose folders are still there when it is formatted again,
// as when a full card is quick-formatted: the folders' clusters keep their
// entries, which the scan rebuilds, and each file should come back with its
// name. `options` picks the FAT type and the cluster size.
bool MakeFatKeptImage(const std::string& image, const std::string& options, std::vector<Planted>& planted) {
  const std::string mkfs = "mkfs.fat " + options + " -i 12345678 " + Q(image) + " > /dev/null";
  if (Shell("rm -f " + Q(image) + " && truncate -s " + std::to_string(kImageMiB) + "M " + Q(image) + " && " + mkfs) != 0) {
    return false;
  }
  std::set<std::string> folders;
  for (Planted& p : planted) {
    if (folders.insert(p.type).second && Shell("MTOOLS_SKIP_CHECK=1 mmd -i " + Q(image) + " ::/" + p.type) != 0) return false;
    if (Shell("MTOOLS_SKIP_CHECK=1 mcopy -i " + Q(image) + " " + Q(p.path) + " ::/" + p.type + "/") != 0) return false;
    p.contiguous = true;  // counted against every file put in
  }
  return Shell(mkfs) == 0;
}

// The NTFS volume: the samples put in with the fixture tool, each file's
// runs counted, then formatted again over its data.
bool MakeNtfsImage(const std::string& image, std::vector<Planted>& planted) {
  const std::string mkntfs = "mkntfs -F -Q -q -c 4096 -s 512 -p 0 -H 0 -S 0 -L BENCH " + Q(image) + " > /dev/null";
  if (Shell("rm -f " + Q(image) + " && truncate -s " + std::to_string(kImageMiB) + "M " + Q(image) + " && " + mkntfs) != 0) {
    return false;
  }
  std::string script;
  std::set<std::string> folders;
  for (const Planted& p : planted) {
    if (folders.insert(p.type).second) script += "mkdir /" + p.type + "\n";
    script += "put /" + p.type + "/" + fs::path(p.path).filename().string() + " " + p.path + "\n";
  }
  const std::string scriptFile = image + ".script";
  std::ofstream(scriptFile) << script;
  if (Shell(Q(RELICTOR_NTFS_FIXTURE) + " " + Q(image) + " " + Q(scriptFile)) != 0) return false;
  for (Planted& p : planted) {
    const std::string info = image + ".info";
    if (Shell(Q(RELICTOR_NTFS_FIXTURE) + " --info " + Q(image) + " " +
              Q("/" + p.type + "/" + fs::path(p.path).filename().string()) + " > " + Q(info)) != 0) {
      return false;
    }
    std::ifstream in(info);
    std::string line((std::istreambuf_iterator<char>(in)), {});
    // Small files live inside their record and are no carving target;
    // they count as not contiguous on disk.
    p.contiguous = line.find(" runs=1 ") != std::string::npos && line.find("resident=1") == std::string::npos;
  }
  return Shell(mkntfs) == 0;
}

struct TypeYield {
  int planted = 0, contiguous = 0, exact = 0, exactContiguous = 0;
  int carved = 0;  // of the byte-exact ones, found by their signature (not through a lost folder)
};

struct Result {
  std::map<std::string, TypeYield> byType;
  int named = 0;  // byte-exact files listed under their own names (in a rebuilt folder)
  std::uint64_t finds = 0;   // files under "LostFiles", at any depth
  std::uint64_t carved = 0;  // of those, found by their signature
  double scanSeconds = 0;
  double sequentialSeconds = 0;
  double scanCpu = 0;
  double sequentialCpu = 0;
  std::uint64_t imageBytes = 0;
};

template <typename Driver>
bool Measure(const std::string& image, const std::vector<Planted>& planted, Result& r) {
  // Warm the page cache, then the baseline: best of three.
  SequentialSeconds(image, r.imageBytes);
  r.sequentialSeconds = r.sequentialCpu = 1e9;
  for (int i = 0; i < 3; ++i) {
    const double cpu0 = ThreadSeconds();
    r.sequentialSeconds = std::min(r.sequentialSeconds, SequentialSeconds(image, r.imageBytes));
    r.sequentialCpu = std::min(r.sequentialCpu, ThreadSeconds() - cpu0);
  }
  std::unique_ptr<Driver> best;
  r.scanSeconds = 1e9;
  for (int run = 0; run < 2; ++run) {
    auto d = OpenImage<Driver>(image);
    if (!d) {
      std::fprintf(stderr, "cannot open %s\n", image.c_str());
      return false;
    }
    d->SetScanRange(d->FirstDataCluster(), d->LastDataCluster());
    std::uint32_t found = 0;
    const auto t0 = Clock::now();
    const double cpu0 = ThreadSeconds();
    if (!DeepScan(*d, nullptr, &found)) return false;
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    r.scanCpu = run == 0 ? ThreadSeconds() - cpu0 : std::min(r.scanCpu, ThreadSeconds() - cpu0);
    if (s < r.scanSeconds) {
      r.scanSeconds = s;
      best = std::move(d);
    }
  }
  std::multimap<std::pair<std::uint64_t, std::uint64_t>, const Planted*> byContent;
  for (const Planted& p : planted) {
    byContent.insert({{p.hash, p.size}, &p});
    TypeYield& y = r.byType[p.type];
    ++y.planted;
    if (p.contiguous) ++y.contiguous;
  }
  // Everything the scan put in "LostFiles": the files found by their
  // signatures, and on FAT the files listed in the lost folders it rebuilt
  // (a quick format leaves the folders' clusters behind, and their entries
  // still name each file's first cluster and size).
  std::vector<CFSFile*> files;
  std::function<void(CDirectory*, int)> collect = [&](CDirectory* folder, int depth) {
    for (auto& child : folder->children) {
      if (auto* f = dynamic_cast<CFSFile*>(child.get())) {
        files.push_back(f);
        if (depth == 0) ++r.carved;
      } else if (auto* sub = dynamic_cast<CDirectory*>(child.get()); sub && depth < 8) {
        if (!sub->populated) sub->Populate(true, false, true);
        collect(sub, depth + 1);
      }
    }
  };
  collect(best->GetLostFiles(), 0);
  std::set<const Planted*> matched;
  for (CFSFile* f : files) {
    ++r.finds;
    MemoryOutputFile out(64u << 20);
    if (!f->SaveData(out, nullptr)) continue;
    auto range = byContent.equal_range({Fnv(out.Bytes()), out.Bytes().size()});
    for (auto it = range.first; it != range.second; ++it) {
      if (!matched.insert(it->second).second) continue;
      TypeYield& y = r.byType[it->second->type];
      ++y.exact;
      if (f->parent == best->GetLostFiles()) ++y.carved;
      if (Lower(f->name) == Lower(fs::path(it->second->path).filename().string())) ++r.named;
      if (it->second->contiguous) ++y.exactContiguous;
      break;
    }
  }
  return true;
}

void Print(const char* name, const Result& r) {
  std::printf("\n%s: %llu MiB image, %llu files found (%llu by their signature)\n", name,
              static_cast<unsigned long long>(r.imageBytes >> 20), static_cast<unsigned long long>(r.finds),
              static_cast<unsigned long long>(r.carved));
  std::printf("| Type | Put in | Contiguous | Byte-exact | by signature | Byte-exact of contiguous |\n"
              "|---|---|---|---|---|---|\n");
  TypeYield all;
  for (const auto& [type, y] : r.byType) {
    std::printf("| %s | %d | %d | %d | %d | %d/%d (%.0f %%) |\n", type.c_str(), y.planted, y.contiguous, y.exact,
                y.carved, y.exactContiguous, y.contiguous, y.contiguous ? 100.0 * y.exactContiguous / y.contiguous : 0.0);
    all.carved += y.carved;
    all.planted += y.planted;
    all.contiguous += y.contiguous;
    all.exact += y.exact;
    all.exactContiguous += y.exactContiguous;
  }
  std::printf("| all | %d | %d | %d | %d | %d/%d (%.1f %%) |\n", all.planted, all.contiguous, all.exact, all.carved,
              all.exactContiguous,
              all.contiguous, all.contiguous ? 100.0 * all.exactContiguous / all.contiguous : 0.0);
  const double mb = static_cast<double>(r.imageBytes) / 1e6;
  std::printf("wall clock: sequential read %.3f s (%.0f MB/s), deep scan %.3f s (%.0f MB/s): %.2f of the sequential rate\n",
              r.sequentialSeconds, mb / r.sequentialSeconds, r.scanSeconds, mb / r.scanSeconds,
              r.sequentialSeconds / r.scanSeconds);
  std::printf("CPU time:   sequential read %.3f s (%.0f MB/s), deep scan %.3f s (%.0f MB/s): %.2f of the sequential rate\n",
              r.sequentialCpu, mb / r.sequentialCpu, r.scanCpu, mb / r.scanCpu, r.sequentialCpu / r.scanCpu);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string work = fs::absolute(argc > 1 ? argv[1] : "bench-work").string();
  const std::string samples = work + "/carving-samples";
  if (!MakeSamples(samples)) return 1;
  std::vector<Planted> planted = Samples(samples);
  std::printf("%zu sample files of %zu types\n", planted.size(), kTypeOfExtension.size());

  const std::string fatImage = work + "/carving-fat32.img", ntfsImage = work + "/carving-ntfs.img";
  std::vector<Planted> onFat = planted, onNtfs = planted;
  // The contiguity found when the images were made is kept beside them.
  auto stateFile = [](const std::string& image) { return image + ".contiguous"; };
  auto load = [&](const std::string& image, std::vector<Planted>& list) {
    std::ifstream in(stateFile(image));
    std::map<std::string, bool> flags;
    std::string path;
    int flag = 0;
    while (in >> flag && std::getline(in >> std::ws, path)) flags[path] = flag != 0;
    if (flags.size() != list.size()) return false;
    for (Planted& p : list) p.contiguous = flags[p.path];
    return true;
  };
  auto save = [&](const std::string& image, const std::vector<Planted>& list) {
    std::ofstream out(stateFile(image));
    for (const Planted& p : list) out << (p.contiguous ? 1 : 0) << " " << p.path << "\n";
  };
  if (!fs::exists(fatImage) || !load(fatImage, onFat)) {
    if (!MakeFatImage(fatImage, onFat)) return 1;
    save(fatImage, onFat);
  }
  if (!fs::exists(ntfsImage) || !load(ntfsImage, onNtfs)) {
    if (!MakeNtfsImage(ntfsImage, onNtfs)) return 1;
    save(ntfsImage, onNtfs);
  }

  Result fat, ntfs;
  if (!Measure<CFATDriver>(fatImage, onFat, fat) || !Measure<CNTFSDriver>(ntfsImage, onNtfs, ntfs)) return 1;
  Print("FAT32, 4 KiB clusters, quick-formatted", fat);
  Print("NTFS, 4 KiB clusters, quick-formatted", ntfs);

  // Quick format with the folders kept: the files should come back by
  // their names from the rebuilt folders.
  struct Kept {
    const char* label;
    const char* file;
    const char* options;
    Result result;
  };
  std::vector<Kept> kept = {{"FAT32, 4 KiB clusters", "carving-fat32-kept.img", "-F 32 -s 8", {}},
                            {"FAT16, 16 KiB clusters", "carving-fat16-kept.img", "-F 16 -s 32", {}}};
  for (Kept& k : kept) {
    std::vector<Planted> list = planted;
    const std::string image = work + "/" + k.file;
    if (!fs::exists(image) || !load(image, list)) {
      if (!MakeFatKeptImage(image, k.options, list)) return 1;
      save(image, list);
    }
    if (!Measure<CFATDriver>(image, list, k.result)) return 1;
    Print((std::string(k.label) + ", quick-formatted with its folders kept").c_str(), k.result);
  }
  std::printf("\n| Case | Volume | Put in | Back by name, byte-exact | Byte-exact at all | Scan speed / sequential read |\n"
              "|---|---|---|---|---|---|\n");
  for (const Kept& k : kept) {
    int in = 0, exact = 0;
    for (const auto& [type, y] : k.result.byType) in += y.planted, exact += y.exact;
    std::printf("| quick format, folders kept | %s | %d | %d | %d | %.2f |\n", k.label, in, k.result.named, exact,
                k.result.sequentialSeconds / k.result.scanSeconds);
  }
  return 0;
}
