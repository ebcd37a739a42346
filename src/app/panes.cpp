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
  hooks.searchPage = [](QWidget* parent) -> QWidget* {
    auto* pane = new relictor::CSearchDlg(parent);
    CRelictorApp* app = CRelictorApp::Instance();
    if (app == nullptr) return pane;
    if (app->document) pane->FillVolumes(app->document->GetDrives());
    if (app->navigationPane) app->navigationPane->SetLookInBox(pane);
    pane->setStatusText = [](const QString& text) {
      if (CRelictorApp* a = CRelictorApp::Instance(); a && a->mainFrame) a->mainFrame->SetStatusText(text);
    };
    pane->showResults = [] {
      if (CRelictorApp* a = CRelictorApp::Instance(); a && a->mainFrame && a->mainFrame->BottomBar()) {
        a->mainFrame->BottomBar()->show();
      }
    };
    return pane;
  };
  hooks.searchResultPage = [](QWidget* parent) -> QWidget* {
    auto* results = new relictor::CSearchResultDlg(parent);
    CRelictorApp* app = CRelictorApp::Instance();
    if (app == nullptr) return results;
    app->searchResultList = results->List();
    if (auto* search = qobject_cast<relictor::CSearchDlg*>(app->searchPane)) search->SetResultPane(results);
    if (app->mainFrame) app->mainFrame->ConnectListCommands(results->List());
    return results;
  };
  hooks.properties = [](QWidget* parent, relictor::CDirEntry* entry) { relictor::ShowProperties(entry, parent); };
  hooks.options = [](QWidget* parent) {
    CRelictorApp* app = CRelictorApp::Instance();
    if (app == nullptr) return;
    AppOptionsSettings settings(*app);
    relictor::ShowOptions(settings, parent);
  };
  hooks.findLostDrivers = [](QWidget* parent) {
    CRelictorApp* app = CRelictorApp::Instance();
    if (app == nullptr || app->document == nullptr) return;
    relictor::RunFindLostDrivers(parent, *app->document, app->navigationPane,
                                 qobject_cast<relictor::CSearchDlg*>(app->searchPane), app->GetHost());
  };
  hooks.viewHex = [](QWidget* parent, relictor::CFSFile* file) {
    CRelictorApp* app = CRelictorApp::Instance();
    relictor::JobRunner* runner = app ? app->GetHost().jobs : nullptr;
    relictor::ViewWithHex(file, parent, runner);
  };
}
