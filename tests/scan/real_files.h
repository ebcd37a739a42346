#pragma once
// Files of each recognised type made by real tools (ImageMagick, sox,
// ffmpeg, zip).
// Each is made once and kept in a cache folder of the build tree, because
// every test runs in its own process.

#include <cstdint>
#include <string>
#include <vector>

namespace relictor::test {

// The bytes of a named fixture file: "photo.jpg", "standard.jpg" (the
// encoder's standard Huffman tables), "progressive.jpg",
// "picture.bmp", "picture.png", "picture.tga", "truecolor.pcx",
// "palette.pcx", "picture.tif", "anim.gif", "still.gif", "sound.wav",
// "archive.zip"; from ffmpeg "sound.mp3", "sound.ogg", "sound.m4a",
// "movie.mp4", "movie.mov", "movie.mpg" (MPEG-2 program stream),
// "movie1.mpg" (MPEG-1); written with zip "letter.docx", "sheet.xlsx",
// "slides.pptx", "letter.odt", "sheet.ods", "slides.odp", "book.epub".
// Fails the current test when the tool fails.
const std::vector<std::uint8_t>& RealFile(const std::string& name);

}  // namespace relictor::test
