#pragma once
// The navigation pane: "My Computer", one node per volume, and below each
// the volume's folders (deleted folders included), read the first time a
// node is expanded or selected. Selecting a node shows its folder in the
// main file list. The frame gives the pane the document and the view when
// it makes it; the pane tells it the rest through its signals.

#include <QSet>
#include <QTreeWidget>
#include <QWidget>

#include "platform/udisks.h"
#include "volume/host.h"

namespace relictor {
class CDirEntry;
class CDirectory;
class CVolumeDriver;
}  // namespace relictor

class CVeskDoc;
class CVeskView;

// The "Look in" box of the search pane as the navigation pane keeps it in
// step with the selection: one line per drive of the document (in the
// document's order), and at most one extra line for the folder selected
// last. The search pane implements it (CFoldersTreeDlg::SetLookInBox).
class LookInBox {
 public:
  virtual ~LookInBox() = default;
  virtual int Count() const = 0;
  virtual void RemoveLast() = 0;
  // Appends a line for `folder` and selects it.
  virtual void AppendFolder(const QString& text, relictor::CDirectory* folder) = 0;
  virtual void Select(int index) = 0;
};

// The tree control: its images are the pane's node kinds.
class CFolderTreeCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  enum Image { kMyComputer = 0, kProgram = 1, kFixedDrive = 2, kRemovableDrive = 3, kFolder = 4, kOpenFolder = 5 };
  explicit CFolderTreeCtrl(QWidget* parent = nullptr);
  QIcon ImageIcon(int image, bool deleted) const;
};

class CFoldersTreeDlg : public QWidget, public relictor::FolderTreeSink {
  Q_OBJECT
 public:
  // `document` holds the drives the tree shows; `view` shows the folder
  // of the selected node. Both outlive the pane.
  CFoldersTreeDlg(CVeskDoc& document, CVeskView& view, QWidget* parent = nullptr);
  ~CFoldersTreeDlg() override;

  // Fills the tree from the document's drives and selects "My Computer".
  void BuildTree();
  // Adds the node of one more reader under "My Computer".
  QTreeWidgetItem* AddReader(relictor::CVolumeDriver* reader);

  // The child of "My Computer" that shows `reader`, expanded; null when
  // there is none.
  QTreeWidgetItem* FindDriveNode(const relictor::CVolumeDriver* reader);
  // The child of `parentNode` that shows `entry`; null when there is none.
  QTreeWidgetItem* FindChildNode(QTreeWidgetItem* parentNode, const relictor::CDirEntry* entry) const;
  // Expands the selected node and returns its child that shows `entry`.
  QTreeWidgetItem* FindChildOfSelection(const relictor::CDirEntry* entry);

  // Selects the node of the lost-files folder of the selected node's
  // volume; reading that folder the first time runs the deep scan.
  void FindLostFiles();
  // Selects the parent of the selected node.
  void GoToParent();
  bool CanGoToParent() const;

  QTreeWidgetItem* RootItem() const { return rootItem_; }
  QTreeWidgetItem* SelectedNode() const { return tree_->currentItem(); }
  void SelectNode(QTreeWidgetItem* node);
  CFolderTreeCtrl* Tree() const { return tree_; }

  static relictor::CDirEntry* EntryOf(const QTreeWidgetItem* node);

  void SetLookInBox(LookInBox* box) { lookIn_ = box; }

  // FolderTreeSink: inserts a node in alphabetical order among its siblings.
  Item InsertFolder(Item parent, relictor::CDirectory* folder, const std::string& text, int image, int selectedImage,
                    bool hasChildren) override;

 signals:
  // The status-bar text for the selected node.
  void StatusTextChanged(const QString& text);
  // `folder` is read anew, which frees the entries below it: every list
  // that shows some lets go of them now.
  void FolderAboutToBeRead(relictor::CDirectory* folder);
  // A device that came in could not be opened (see CVeskDoc's problems).
  void OpenProblemsMet();

 private:
  // Cards and disks that come and go while the window shows the system's
  // devices: a new one is added to the tree, one pulled out is marked gone.
  void WatchDevices();
  void OnDeviceChange(const relictor::platform::DeviceWatcher::Change& change);
  // Examines a new device on a thread of its own (the system may ask the
  // user's password first, for as long as two minutes) and adds its
  // volumes to the tree when that is done.
  void OpenNewDevice(const QString& device);
  void OnItemExpanded(QTreeWidgetItem* item);
  void OnSelectionChanged(QTreeWidgetItem* current);
  // Makes the child nodes of `item` from its folder, reading it first when
  // needed; once per node.
  void MakeChildNodes(QTreeWidgetItem* item);
  // Reads `folder` when it has not been read; false when it stays unread.
  bool ReadFolder(relictor::CDirectory* folder);
  void UpdateLookIn(QTreeWidgetItem* item);

  CVeskDoc& document_;
  CVeskView& view_;
  CFolderTreeCtrl* tree_;
  QTreeWidgetItem* rootItem_ = nullptr;
  LookInBox* lookIn_ = nullptr;
  int reading_ = 0;
  relictor::platform::DeviceWatcher watcher_;
  // Devices being examined by OpenNewDevice.
  QSet<QString> opening_;
};

// A name from a volume as the window shows it: invalid UTF-8 becomes the
// replacement character and so do control characters, which would
// otherwise vanish or break the line.
QString DisplayText(const std::string& name);
