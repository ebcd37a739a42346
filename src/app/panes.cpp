#include "app/panes.h"

#include <QDockWidget>

#include "app/folders_tree_dlg.h"
#include "app/hex_view_dlg.h"
#include "app/lost_drivers_dlg.h"
#include "app/relictor_app.h"
#include "app/search_panes.h"
#include "app/vesk_doc.h"
#include "ui/job_runner.h"

char AppOptionsSettings::ReplaceChar() const { return app_.replaceChar; }
bool AppOptionsSettings::AutoUpdate() const { return app_.autoUpdate != 0; }
int AppOptionsSettings::Language() const { return app_.language; }
void AppOptionsSettings::SetReplaceChar(char c) { app_.replaceChar = c; }
void AppOptionsSettings::SetAutoUpdate(bool on) { app_.autoUpdate = on ? 1 : 0; }
void AppOptionsSettings::SetLanguage(int index) { app_.language = static_cast<quint16>(index & 0xFFFF); }
// Saving also hands the new replacement character to the readers, which
// use it from their next folder read on.
void AppOptionsSettings::SaveSettings() { app_.SaveSettings(); }

void InstallPaneHooks(FrameHooks& hooks) {
  hooks.searchPage = [](CMainFrame& frame, QWidget* parent) -> QWidget* {
    auto* pane = new relictor::CSearchDlg(parent);
    pane->FillVolumes(frame.Document()->GetDrives());
    CFoldersTreeDlg* navigation = frame.NavigationPane();
    navigation->SetLookInBox(pane);
    QObject::connect(pane, &QObject::destroyed, navigation, [navigation] { navigation->SetLookInBox(nullptr); });
    QObject::connect(pane, &relictor::CSearchDlg::StatusTextChanged, &frame, &CMainFrame::SetStatusText);
    QObject::connect(pane, &relictor::CSearchDlg::ResultsWanted, &frame, [&frame] { frame.BottomBar()->show(); });
    return pane;
  };
  hooks.searchResultPage = [](CMainFrame& frame, QWidget* parent) -> QWidget* {
    auto* results = new relictor::CSearchResultDlg(parent);
    if (auto* search = qobject_cast<relictor::CSearchDlg*>(frame.SearchPane())) search->SetResultPane(results);
    frame.SetSearchResultList(results->List());
    return results;
  };
  hooks.properties = [](QWidget* parent, relictor::CDirEntry* entry) { relictor::ShowProperties(entry, parent); };
  hooks.options = [](QWidget* parent) {
    CRelictorApp* app = CRelictorApp::Instance();
    if (app == nullptr) return;
    AppOptionsSettings settings(*app);
    relictor::ShowOptions(settings, parent);
  };
  hooks.findLostDrivers = [](CMainFrame& frame) {
    if (frame.Host() == nullptr) return;
    relictor::RunFindLostDrivers(&frame, *frame.Document(), frame.NavigationPane(),
                                 qobject_cast<relictor::CSearchDlg*>(frame.SearchPane()), *frame.Host());
  };
  hooks.viewHex = [](QWidget* parent, relictor::CFSFile* file) {
    auto* frame = qobject_cast<CMainFrame*>(parent ? parent->window() : nullptr);
    relictor::ViewWithHex(file, parent, frame ? frame->JobRunner() : nullptr);
  };
}
