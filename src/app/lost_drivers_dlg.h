#pragma once
// "Find Lost Drivers": the choice of a whole disk (a block device or a
// disk image the user opened), then the sector range, then the walk over
// the disk behind the "Find Lost Drivers..." progress dialog. Every volume
// found becomes a drive "LostDriver_%d" of the window, browsed and
// recovered like any other.

#include <QDialog>

#include <vector>

#include "scan/physical_driver.h"
#include "volume/host.h"

class QComboBox;
class CVeskDoc;
class CFoldersTreeDlg;

namespace relictor {

class CSearchDlg;

class CFindLostDriversDlg final : public QDialog, public DriveListSink {
  Q_OBJECT

 public:
  // Fills the disk box through every disk's AddToDriveCombo and selects the
  // first.
  CFindLostDriversDlg(const std::vector<CPhysicalDriver*>& disks, QWidget* parent = nullptr);
  CPhysicalDriver* Selected() const;
  QComboBox* DiskBox() const { return disks_; }

  void AddDrive(const std::string& text, CDriver* driver, CDirectory* root) override;

 public slots:
  // OK without a selection does nothing.
  void accept() override;

 private:
  QComboBox* disks_;
};

// The whole command: disk, range, walk; the volumes found join `document`,
// the navigation tree and the search pane's "Look in:" box (each may be
// null). Returns the number of volumes found (0 when cancelled early).
int RunFindLostDrivers(QWidget* parent, CVeskDoc& document, CFoldersTreeDlg* tree, CSearchDlg* search, Host& host);

}  // namespace relictor
