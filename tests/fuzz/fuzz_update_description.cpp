// libFuzzer target: the update description file, as the update client
// reads it after its signature was checked, and the version comparison.
// Whatever the bytes, every listed file must have a name that can only be
// written inside the program's folder, and the version must fit the
// 64-character buffer it was always read into.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "update/update_description.h"

using namespace relictor::update;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  UpdateDescription description;
  std::string error;
  const bool ok = ParseUpdateDescription({data, size}, description, error);
  if (ok) {
    if (description.version.size() >= kVersionBufferSize || description.files.size() > kMaxReleaseFiles) std::abort();
    for (const ReleaseFile& file : description.files) {
      if (!IsSafeReleaseFileName(file.name) || file.path.empty() || file.path.front() != '/' ||
          file.path.size() >= kFileBufferSize)
        std::abort();
    }
    (void)IsNewerVersion(description.version, "1.100");
  } else if (error.empty() || !description.files.empty()) {
    // A refused description says why and lists nothing.
    std::abort();
  }
  (void)VersionNumber(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
