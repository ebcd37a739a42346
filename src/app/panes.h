#pragma once
// Plugs the search panes and the dialogs of this part of the window into
// the main frame (through its hooks), and adapts the application object to
// the interfaces those dialogs take.

#include "app/main_frame.h"
#include "app/property_sheet.h"

class CRelictorApp;

// The application's settings as the Options sheet changes them.
class AppOptionsSettings final : public relictor::OptionsSettings {
 public:
  explicit AppOptionsSettings(CRelictorApp& app) : app_(app) {}
  char ReplaceChar() const override;
  bool AutoUpdate() const override;
  int Language() const override;
  void SetReplaceChar(char c) override;
  void SetAutoUpdate(bool on) override;
  void SetLanguage(int index) override;
  void SaveSettings() override;

 private:
  CRelictorApp& app_;
};

// Fills the frame's hooks with the search panes, the Properties and
// Options sheets, the hex viewer and the lost-volume search. Call before
// the frame is made.
void InstallPaneHooks(FrameHooks& hooks);
