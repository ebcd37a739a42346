#include "app/vesk_view.h"

#include <QDesktopServices>
#include <QMenu>
#include <QTextBrowser>
#include <QUrl>

#include "app/app_paths.h"
#include "app/entry_list_ctrl.h"
#include "model/entry.h"

using relictor::CDirectory;
using relictor::CDirEntry;
using relictor::CEntryListCtrl;

CVeskView::CVeskView(QWidget* parent)
    : QStackedWidget(parent), startPage_(new QTextBrowser(this)), list_(new CEntryListCtrl(false, this)) {
  setObjectName(QStringLiteral("MainView"));
  startPage_->setObjectName(QStringLiteral("StartPage"));
  list_->setObjectName(QStringLiteral("FileList"));
  addWidget(startPage_);
  addWidget(list_);
  // Every link of the start page opens in the desktop's browser; the
  // start page itself stays as it is.
  startPage_->setOpenLinks(false);
  connect(startPage_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
    QDesktopServices::openUrl(url.isRelative() ? startPage_->source().resolved(url) : url);
  });
  connect(list_, &CEntryListCtrl::FolderActivated, this, [this](CDirectory* folder) {
    if (folder != nullptr) emit FolderOpened(folder);
  });
  connect(list_, &CEntryListCtrl::SelectionCountChanged, this,
          [this](int, const QString& text) { emit StatusTextChanged(text); });
  LoadStartPage();
  ShowList(false);
}

CVeskView::~CVeskView() = default;

void CVeskView::LoadStartPage() {
  QString page = FindDataFile(QStringLiteral("Media/index.htm"));
  if (page.isEmpty()) {
    startPage_->setHtml(tr(
        "<h2>Kalvor Relictor</h2><p>Choose a drive in the navigation pane to see its folders and deleted "
        "files, or open a disk image with File &gt; Open Image...</p>"));
    return;
  }
  startPage_->setSource(QUrl::fromLocalFile(page));
}

void CVeskView::ShowList(bool show) { setCurrentWidget(show ? static_cast<QWidget*>(list_) : startPage_); }

bool CVeskView::IsListShown() const { return currentWidget() == list_; }

void CVeskView::SetEntries(CDirectory* folder) {
  folder_ = folder;
  list_->SetEntries(folder ? &folder->children : nullptr);
}
