#include "app/panes.h"

#include "app/hex_view_dlg.h"
#include "app/relictor_app.h"
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
  hooks.properties = [](QWidget* parent, relictor::CDirEntry* entry) { relictor::ShowProperties(entry, parent); };
  hooks.options = [](QWidget* parent) {
    CRelictorApp* app = CRelictorApp::Instance();
    if (app == nullptr) return;
    AppOptionsSettings settings(*app);
    relictor::ShowOptions(settings, parent);
  };
  hooks.viewHex = [](QWidget* parent, relictor::CFSFile* file) {
    CRelictorApp* app = CRelictorApp::Instance();
    relictor::JobRunner* runner = app ? app->GetHost().jobs : nullptr;
    relictor::ViewWithHex(file, parent, runner);
  };
}
