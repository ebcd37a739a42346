#include "cli/sources.h"
#include "fat/fat_driver.h"

namespace relictor::cli {

ReaderFactory MakeReaderFactory() {
  return [](FsKind kind) -> std::unique_ptr<CVolumeDriver> {
    if (kind == FsKind::Fat) return std::make_unique<CFATDriver>();
    return nullptr;
  };
}

}  // namespace relictor::cli
