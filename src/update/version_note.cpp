// The product version note of the `relictor` program (see product_version.h).
// This file is compiled into the program itself, not into the update
// library, so that only the program that is being versioned carries it.

#include <cstdint>

#ifndef RELICTOR_PRODUCT_VERSION
#error "RELICTOR_PRODUCT_VERSION must be defined by the build"
#endif

namespace {

struct VersionNote {
  std::uint32_t nameSize;
  std::uint32_t descSize;
  std::uint32_t type;
  char name[8];
  char desc[16];
};
static_assert(sizeof(VersionNote) == 12 + 8 + 16, "an ELF note is packed in 4-byte steps");
static_assert(sizeof(RELICTOR_PRODUCT_VERSION) <= 16, "the product version text is at most 15 characters");

// A section whose name begins with ".note" is given the note type by the
// assembler, and the linker keeps it in the program file.
[[gnu::section(".note.kalvor.version"), gnu::used, gnu::aligned(4)]]
const VersionNote kProductVersionNote = {7, 16, 1, "Kalvor", RELICTOR_PRODUCT_VERSION};

}  // namespace
