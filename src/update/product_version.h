#pragma once
// The product version stored inside the `relictor` program file.
//
// Linux programs have no version resources, so the build puts the version
// into an ELF note of the program (owner "Kalvor", type 1, the version text
// zero-terminated). The update client reads it from the file without
// running the program, as it reads the installed version of any copy.

#include <cstdint>
#include <span>
#include <string>

namespace relictor::update {

inline constexpr char kVersionNoteOwner[] = "Kalvor";
inline constexpr std::uint32_t kVersionNoteType = 1;

// The version text of the note in the bytes of an ELF file, or an empty
// text when the bytes are not a little-endian ELF file or hold no such note.
// Every offset and size of the file is checked against the buffer.
std::string ProductVersionFromElf(std::span<const std::uint8_t> file);

// The same for a file on disk. Reads only the headers and the note
// sections, so a large program costs a few small reads.
std::string ProductVersionOfFile(const std::string& path);

}  // namespace relictor::update
