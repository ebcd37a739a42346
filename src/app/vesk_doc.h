#pragma once
// The document: it owns the volume readers the window shows and the
// readers of whole disks that the lost-volume search walks. Readers are
// made from the images and devices named on the command line, or from the
// system's readable block devices when none is named, and from every image
// opened later with File > Open Image.

#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "scan/physical_driver.h"
#include "volume/drive_list.h"

class CVeskDoc {
 public:
  // `sources`: images and devices to open; empty for the system's volumes.
  explicit CVeskDoc(QStringList sources);
  ~CVeskDoc();
  CVeskDoc(const CVeskDoc&) = delete;
  CVeskDoc& operator=(const CVeskDoc&) = delete;

  // The volume readers, filled on the first request.
  std::vector<relictor::CVolumeDriver*> GetDrives();
  // The readers of whole disks, filled on the first request (the system's
  // readable disks and every source named on the command line).
  std::vector<relictor::CPhysicalDriver*> GetPhysicalDrives();

  // Opens one more image or device and appends a reader for each of its
  // FAT and NTFS volumes; returns the new readers. Problems are added to
  // the list that TakeProblems hands out.
  std::vector<relictor::CVolumeDriver*> OpenSource(const QString& path);
  // Appends a reader that another part made (a volume found on a disk by
  // the lost-volume search); the document owns it from now on.
  relictor::CVolumeDriver* AddDrive(std::unique_ptr<relictor::CVolumeDriver> reader);

  // Problems found while opening sources since the last call, one
  // sentence each, worded for the window's user.
  QStringList TakeProblems();

  // The image or device a reader reads.
  QString SourceOf(const relictor::CVolumeDriver* reader) const;
  // The position of a reader in the drives, or -1.
  int IndexOf(const relictor::CVolumeDriver* reader) const;

 private:
  void Fill();
  void Examine(const std::vector<relictor::SourceReport>& reports, std::vector<relictor::CVolumeDriver*>* added);

  QStringList sources_;
  bool filled_ = false;
  bool physicalFilled_ = false;
  // Letters go on across every source the window opens, so that two
  // volumes never share a root path.
  relictor::DriveList drives_;
  std::vector<std::unique_ptr<relictor::CPhysicalDriver>> physicalDrives_;
  QStringList problems_;
};

// The block devices of the system that this user may not open.
QStringList RefusedBlockDevices(const QString& sysBlock = QStringLiteral("/sys/class/block"),
                                const QString& devRoot = QStringLiteral("/dev"));

// The message the window shows for a source it cannot open: the engine's
// sentence, and for a device the user may not read, how to go on.
QString ExplainOpenProblem(const QString& problem);
