#pragma once
// Helpers of the exFAT tests: volumes made with mkfs.exfat and filled with
// the fixture tool, opened with the exFAT reader and saved.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "exfat/exfat_driver.h"
#include "model/output_file.h"
#include "support/entry_tree.h"
#include "support/memory_volume.h"
#include "support/test_support.h"
#include "volume/sector_source.h"

namespace relictor::test {

// mkfs.exfat over a fresh image of `size` (a truncate size such as "8M").
inline void MakeExFat(const std::string& image, const std::string& size, const std::string& options) {
  MustRun("rm -f " + Quote(image) + " && truncate -s " + size + " " + Quote(image) + " && mkfs.exfat " + options +
          " " + Quote(image) + " >/dev/null");
}

// Runs fixture commands (one a line, fields separated by tabs) on an image.
inline void WriteExFat(const std::string& image, const std::string& commands) {
  MustRun(Quote(ExFatFixturePath()) + " " + Quote(image), commands);
}

inline std::unique_ptr<CExFATDriver> OpenExFat(SectorSourcePtr source) {
  auto d = std::make_unique<CExFATDriver>();
  d->SetDevice(std::move(source));
  if (!d->Open('C', kDriveFixed, "C:\\", false)) return nullptr;
  return d;
}

inline std::unique_ptr<CExFATDriver> OpenExFatFile(const std::string& path) {
  std::string error;
  auto source = FileSource::Open(path, error);
  EXPECT_TRUE(source) << error;
  return source ? OpenExFat(source) : nullptr;
}

inline std::unique_ptr<CExFATDriver> OpenExFatBytes(std::vector<std::uint8_t> bytes) {
  return OpenExFat(std::make_shared<MemorySource>(std::move(bytes)));
}

inline std::vector<std::uint8_t> ExSave(CDirEntry* e, std::vector<std::string>* problems = nullptr) {
  auto* f = dynamic_cast<CFSFile*>(e);
  EXPECT_NE(f, nullptr);
  if (!f) return {};
  MemoryOutputFile out;
  EXPECT_TRUE(f->SaveData(out, nullptr));
  if (problems) *problems = out.Problems();
  return out.Bytes();
}

}  // namespace relictor::test
