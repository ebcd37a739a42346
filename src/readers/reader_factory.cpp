#include "readers/reader_factory.h"

#include "fat/fat_driver.h"
#include "ntfs/ntfs_driver.h"

namespace relictor {

ReaderFactory MakeReaderFactory() {
  return [](FsKind kind) -> std::unique_ptr<CVolumeDriver> {
    if (kind == FsKind::Fat) return std::make_unique<CFATDriver>();
    if (kind == FsKind::Ntfs) return std::make_unique<CNTFSDriver>();
    return nullptr;
  };
}

}  // namespace relictor
