#include "scan/real_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <stdexcept>

#include "support/test_support.h"

namespace relictor::test {
namespace fs = std::filesystem;

namespace {

// The real ImageMagick; /usr/local/bin/convert is a stand-in that makes no
// images.
const char* const kConvert = "/usr/bin/convert";

const std::string kFfmpeg = "ffmpeg -nostdin -hide_banner -loglevel error -y -fflags +bitexact -flags +bitexact";

// An Office Open XML package whose main part lies under `folder`.
std::string OfficeOpenXml(const std::string& folder, const std::string& part) {
  const std::string im = kConvert;
  return "cd \"$(dirname OUT)\" && mkdir -p d/_rels d/" + folder + "/media && cd d && "
         "printf '<?xml version=\"1.0\"?><Types><Override PartName=\"/" + folder + "/" + part +
         ".xml\"/></Types>' > '[Content_Types].xml' && "
         "printf '<?xml version=\"1.0\"?><Relationships/>' > _rels/.rels && "
         "printf '<?xml version=\"1.0\"?><" + part + ">A recovered " + part + "</" + part + ">' > " + folder + "/" +
         part + ".xml && " + im + " -seed 9 -size 64x48 plasma: " + folder + "/media/image1.png && " +
         "zip -q -X OUT '[Content_Types].xml' _rels/.rels " + folder + "/" + part + ".xml " + folder +
         "/media/image1.png";
}

// An Open Document or e-book package of the given media type.
std::string OpenDocument(const std::string& mime) {
  const std::string im = kConvert;
  return "cd \"$(dirname OUT)\" && mkdir -p d/META-INF d/Pictures && cd d && printf '" + mime +
         "' > mimetype && printf '<?xml version=\"1.0\"?><manifest/>' > META-INF/manifest.xml && "
         "printf '<?xml version=\"1.0\"?><content>A recovered document</content>' > content.xml && " +
         im + " -seed 10 -size 64x48 plasma: Pictures/image1.png && zip -q -X -0 OUT mimetype && "
         "zip -q -X OUT META-INF/manifest.xml content.xml Pictures/image1.png";
}

// The command that makes each file; OUT is replaced by the output path.
std::string CommandFor(const std::string& name) {
  const std::string im = kConvert;
  static const std::map<std::string, std::string> commands = {
      {"photo.jpg", im + " -seed 3 -size 160x120 plasma: -quality 85 OUT"},
      {"standard.jpg", im + " -seed 3 -size 160x120 plasma: -define jpeg:optimize-coding=false OUT"},
      {"progressive.jpg", im + " -seed 3 -size 160x120 plasma: -interlace JPEG OUT"},
      {"picture.bmp", im + " -seed 4 -size 64x48 plasma: OUT"},
      {"picture.png", im + " -seed 5 -size 80x60 plasma: OUT"},
      {"picture.tga", im + " -seed 6 -size 48x40 plasma: -compress RLE OUT"},
      {"truecolor.pcx", im + " -seed 7 -size 64x48 plasma: OUT"},
      {"palette.pcx", im + " -seed 7 -size 64x48 plasma: -colors 200 -type Palette OUT"},
      {"picture.tif", im + " -seed 6 -size 48x40 plasma: OUT"},
      {"anim.gif", im + " -delay 10 -loop 0 -size 40x30 xc:red -seed 2 -size 40x30 plasma: "
                        "-set comment 'made for a test' OUT"},
      {"still.gif", im + " -size 40x30 xc:blue OUT"},
      {"sound.wav", "sox -n -r 8000 -c 1 OUT synth 0.6 sine 440"},
      {"archive.zip", "cd \"$(dirname OUT)\" && " + im + " -seed 8 -size 64x64 plasma: member.png && "
                      "printf 'some text for the archive\\n' > member.txt && zip -q -X OUT member.png member.txt"},
      // Audio and video from ffmpeg's test sources, written bit-exact so
      // that every run makes the same bytes.
      {"sound.mp3", kFfmpeg + " -f lavfi -i sine=frequency=440:duration=2 -c:a libmp3lame -b:a 64k OUT"},
      {"sound.ogg", kFfmpeg + " -f lavfi -i sine=frequency=440:duration=2 -c:a libvorbis OUT"},
      {"sound.m4a", kFfmpeg + " -f lavfi -i sine=frequency=440:duration=2 -c:a aac OUT"},
      {"movie.mp4", kFfmpeg + " -f lavfi -i testsrc=size=96x64:rate=10:duration=1 -c:v mpeg4 OUT"},
      {"movie.mov", kFfmpeg + " -f lavfi -i testsrc=size=96x64:rate=10:duration=1 -c:v mpeg4 OUT"},
      {"movie.mpg", kFfmpeg + " -f lavfi -i testsrc=size=96x64:rate=25:duration=1 -f lavfi -i sine=duration=1 "
                              "-c:v mpeg2video -c:a mp2 -f vob OUT"},
      {"movie1.mpg", kFfmpeg + " -f lavfi -i testsrc=size=96x64:rate=25:duration=1 -c:v mpeg1video -f mpeg OUT"},
      // Zip-based documents as office programs write them: the Open
      // Document and e-book formats store an uncompressed "mimetype" first,
      // Office Open XML starts with "[Content_Types].xml". A picture makes
      // each span several clusters.
      {"letter.docx", OfficeOpenXml("word", "document")},
      {"sheet.xlsx", OfficeOpenXml("xl", "workbook")},
      {"slides.pptx", OfficeOpenXml("ppt", "presentation")},
      {"letter.odt", OpenDocument("application/vnd.oasis.opendocument.text")},
      {"sheet.ods", OpenDocument("application/vnd.oasis.opendocument.spreadsheet")},
      {"slides.odp", OpenDocument("application/vnd.oasis.opendocument.presentation")},
      {"book.epub", OpenDocument("application/epub+zip")},
  };
  auto it = commands.find(name);
  if (it == commands.end()) throw std::invalid_argument("no such fixture file: " + name);
  return it->second;
}

fs::path CacheFolder() {
  // Versioned, so that a change of the commands above makes new files.
  fs::path folder = fs::temp_directory_path() / "relictor-signature-files-v2";
  fs::create_directories(folder);
  return folder;
}

}  // namespace

const std::vector<std::uint8_t>& RealFile(const std::string& name) {
  static std::map<std::string, std::vector<std::uint8_t>> loaded;
  auto it = loaded.find(name);
  if (it != loaded.end()) return it->second;
  fs::path target = CacheFolder() / name;
  if (!fs::exists(target)) {
    // Made in a folder of its own and renamed into place, so that test
    // processes running side by side never see half a file.
    TempDir work;
    std::string out = work / name;
    std::string command = CommandFor(name);
    for (std::size_t at; (at = command.find("OUT")) != std::string::npos;) command.replace(at, 3, Quote(out));
    MustRun(command);
    std::string staged = target.string() + ".part" + std::to_string(::getpid());
    fs::copy_file(out, staged, fs::copy_options::overwrite_existing);
    fs::rename(staged, target);
  }
  auto bytes = ReadFile(target.string());
  EXPECT_FALSE(bytes.empty()) << name;
  return loaded[name] = std::move(bytes);
}

}  // namespace relictor::test
