#pragma once
// The search runs on the worker while the window stays live, and reads and
// extends the entry tree of one volume as it goes. While it runs, that
// volume's tree and reader belong to the worker: the interface thread
// touches them only inside a SearchPause, which parks the worker at its
// next safe point (between two children of a folder, or while it waits for
// the window to take a result row) and lets it go on afterwards.
//
// Entries show lazily filled fields (an NTFS file's sizes, a deleted
// file's rating). The interface reads them only once they are filled, so
// that reading them while the worker runs is a plain read: the search
// fills the entries of every folder read so far before it starts
// (PrepareLoadedTree), the worker fills each result row before it hands
// it over, and the window fills the children of every folder it shows.
//
// Nothing here blocks the interface thread on the worker without
// dispatching its events, since the worker may be waiting for one of them.
//
// Other threads read the volumes in the background too (the thumbnails,
// app/thumbnails.h), one file at a time inside a BackgroundRead. Such a
// read takes the volumes only while the window holds no SearchPause, no
// other background read and no other worker (a scan, a save) holds them,
// and the search sits at a safe point (where it stays until the read is
// done). It parks at safe points of its own, between two pieces of the
// file, whenever the window takes a SearchPause, whatever volume that
// names. So the window waits for at most one piece of a file, and every
// pause, even with no search running, keeps a background read from
// starting meanwhile. The window holds a pause for as long as a scan or a
// save runs (the job runner's guard).

#include <cstdint>
#include <memory>

#include "volume/driver.h"

namespace relictor {

class CDirEntry;
class CDirectory;
class CDriver;
class StopEvent;

namespace search_gate {

// The interface thread, before it starts a search on `volume`.
void BeginSearch(const CDriver* volume);
// The worker, when the search has ended (finished or stopped).
void EndSearch();
// Whether a search is running on `volume` (on any volume when null).
bool IsSearching(const CDriver* volume = nullptr);

// The worker, at each safe point: parks while a pause is asked for, until
// it is released or the worker's stop event is signalled.
void Checkpoint(const StopEvent* stop);

// The worker, around a call that waits for the interface thread: while it
// waits it is as good as parked, and when a pause was taken meanwhile it
// parks before it goes back to the tree.
class WaitingForWindow {
 public:
  explicit WaitingForWindow(const StopEvent* stop);
  ~WaitingForWindow();
  WaitingForWindow(const WaitingForWindow&) = delete;
  WaitingForWindow& operator=(const WaitingForWindow&) = delete;

 private:
  const StopEvent* stop_;
};

// A thread's read of the volumes in the background: waits until it may
// take them (see the file comment), or until `stop` is signalled, and
// holds them for the lifetime of the object.
class BackgroundRead {
 public:
  explicit BackgroundRead(const StopEvent& stop);
  ~BackgroundRead();
  BackgroundRead(const BackgroundRead&) = delete;
  BackgroundRead& operator=(const BackgroundRead&) = delete;
  // Whether the volumes are held (false: stopped before).
  bool Holding() const { return holding_; }
  // Between two pieces of the read: parks while the window holds a pause.
  // False when `stop` was signalled, and the read must end; the window may
  // hold the volumes then, so nothing but unwinding may follow.
  bool SafePoint();

 private:
  const StopEvent& stop_;
  bool holding_ = false;
};

}  // namespace search_gate

// The interface thread: holds a running search on `volume` (any volume
// when null), and every background read, at a safe point for the lifetime
// of the object. Pauses nest.
class SearchPause {
 public:
  explicit SearchPause(const CDriver* volume);
  ~SearchPause();
  SearchPause(const SearchPause&) = delete;
  SearchPause& operator=(const SearchPause&) = delete;
  // Whether a search was running and is held (background reads are held
  // either way).
  bool Holding() const { return holding_; }

 private:
  bool holding_ = false;
};

// Fills the lazily read fields that lists and sheets show (sizes, rating).
void PrepareForDisplay(CDirEntry& entry);
// Fills them for every entry of the folders of `root` that are read
// already (not reading any more folders).
void PrepareLoadedTree(CDirectory& root);

}  // namespace relictor
