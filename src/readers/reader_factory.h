#pragma once
// The readers the program can make, one per file system it reads. The
// command-line front end, the window, the tests and the fuzz targets all
// make their readers here, so that a new reader is added in one place.

#include "volume/drive_list.h"

namespace relictor {

// Makes the reader for a file system, or null for one no reader handles.
ReaderFactory MakeReaderFactory();

}  // namespace relictor
