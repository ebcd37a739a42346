// libFuzzer target: a whole disk. Read its partition table (MBR with
// extended partitions, or GPT), examine it as the drive list does, open
// every volume it names and read their root folders.

#include <cstddef>
#include <cstdint>

#include "readers/reader_factory.h"
#include "fuzz_support.h"
#include "volume/drive_list.h"

using namespace relictor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzz::SizeTaken(size)) return 0;
  // A disk of at least 1 MiB, so that partitions a few sectors in lie on
  // it; the input is its first sectors.
  auto source = fuzz::PaddedSource(data, size, fuzz::kMaxPadded);
  SourceReport report = ExamineSource(source, "fuzz.img", kDriveFixed);
  DriveList list;
  list.Build({report}, MakeReaderFactory());
  for (auto& drive : list.Drives()) {
    if (!drive.reader) continue;
    (void)drive.reader->VolumeLabel();
    fuzz::ReadRootFolder(*drive.reader);
  }
  return 0;
}
