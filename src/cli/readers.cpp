#include "cli/sources.h"

namespace relictor::cli {

ReaderFactory MakeReaderFactory() {
  return [](FsKind) -> std::unique_ptr<CVolumeDriver> { return nullptr; };
}

}  // namespace relictor::cli
