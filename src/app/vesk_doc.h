#pragma once
// The document: it owns the volume readers the window shows and the
// readers of whole disks that the lost-volume search walks. Readers are
// made from the images and devices named on the command line, or from the
// system's readable block devices when none is named, and from every image
// opened later with File > Open Image.

#include <memory>
#include <string>
#include <vector>

#include <QHash>
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
  // The readers of whole disks, filled on the first request: the system's
  // readable disks and every source named on the command line or opened
  // later (each once).
  std::vector<relictor::CPhysicalDriver*> GetPhysicalDrives();

  // Adds one more image or device, examined already (on another thread,
  // since opening a device may wait for the system to ask the user's
  // password): appends a reader for each of its volumes and returns the
  // new readers. Problems are added to the list that TakeProblems hands out.
  std::vector<relictor::CVolumeDriver*> AddExamined(relictor::SourceReport report);
  // Appends a reader that another part made (a volume found on a disk by
  // the lost-volume search) from the disk or image `source`; the document
  // owns it from now on.
  relictor::CVolumeDriver* AddDrive(std::unique_ptr<relictor::CVolumeDriver> reader, const QString& source = {});
  // The volume held already that starts at `startSector` of the disk or
  // image `source` (the same file, however it was named), or null.
  relictor::CVolumeDriver* HeldVolume(const QString& source, std::uint64_t startSector) const;

  // Problems found while opening sources since the last call, one
  // sentence each, worded for the window's user.
  QStringList TakeProblems();

  // The image or device a reader reads.
  QString SourceOf(const relictor::CVolumeDriver* reader) const;
  // The position of a reader in the drives, or -1.
  int IndexOf(const relictor::CVolumeDriver* reader) const;

  // Whether the document shows the system's devices (none was named).
  bool ShowsSystemVolumes() const { return sources_.isEmpty(); }
  // The drive's maker and model, when the disk service knows them, and the
  // volume's size: what the tree shows beside a drive's name.
  QString DetailsOf(const relictor::CVolumeDriver* reader) const;
  // Names the drive holding `device` ("Kardex Card Reader") for the
  // volumes opened from it from now on.
  void SetDriveName(const QString& device, const QString& name);
  // Whether a volume of `device` is shown and has not gone.
  bool HasLiveDriveOn(const QString& device) const;
  // Marks the volumes read from `device` gone (the card was pulled) and
  // returns them; they stay in the list, but nothing reads them again.
  std::vector<relictor::CVolumeDriver*> MarkGone(const QString& device);
  bool IsGone(const relictor::CVolumeDriver* reader) const;

 private:
  void Fill();
  // Adds the disk or image `path` to the disks once it is not there yet.
  void AddPhysicalSource(const QString& path);
  void Examine(const std::vector<relictor::SourceReport>& reports, std::vector<relictor::CVolumeDriver*>* added);

  QStringList sources_;
  // Sources added with AddExamined before the disks were first listed.
  QStringList opened_;
  bool filled_ = false;
  bool physicalFilled_ = false;
  // Letters go on across every source the window opens, so that two
  // volumes never share a root path.
  relictor::DriveList drives_;
  // What the window shows beside a drive and whether its device has gone,
  // for the readers of drives_.
  struct DriveState {
    QString details;
    bool gone = false;
  };
  QHash<const relictor::CVolumeDriver*, DriveState> states_;
  QHash<QString, QString> driveNames_;
  std::vector<std::unique_ptr<relictor::CPhysicalDriver>> physicalDrives_;
  QStringList problems_;
};

// The block devices of the system that this user may not open.
QStringList RefusedBlockDevices(const QString& sysBlock = QStringLiteral("/sys/class/block"),
                                const QString& devRoot = QStringLiteral("/dev"));

// The message the window shows for a source it cannot open: the engine's
// sentence, and for a device the user may not read, how to go on.
QString ExplainOpenProblem(const QString& problem);
