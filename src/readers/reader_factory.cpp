#include "readers/reader_factory.h"

#include "exfat/exfat_driver.h"
#include "fat/fat_driver.h"
#include "ntfs/ntfs_driver.h"

namespace relictor {

ReaderFactory MakeReaderFactory() {
  return [](FsKind kind) -> std::unique_ptr<CVolumeDriver> {
    if (kind == FsKind::Fat) return std::make_unique<CFATDriver>();
    if (kind == FsKind::Ntfs) return std::make_unique<CNTFSDriver>();
    if (kind == FsKind::ExFat) return std::make_unique<CExFATDriver>();
    return nullptr;
  };
}

}  // namespace relictor
