#pragma once
// Helpers of the window's pane tests: images made with the real tools,
// volumes opened with the product's readers, entries looked up by path,
// and answering a modal dialog the way a user would.

#include <QApplication>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "fat/fat_driver.h"
#include "model/entry.h"
#include "ntfs/ntfs_driver.h"
#include "support/test_support.h"
#include "volume/host.h"

namespace relictor::test::panes {

// Runs a shell command; prints its output and returns false when it fails.
bool Sh(const std::string& commandLine);

// An empty FAT image of `size` (a truncate size such as "4M") with
// mkfs.fat options `options`.
bool MakeFatImage(const std::string& image, int bits, const std::string& size, const std::string& options = "");
// Copies a host file into the image (mcopy), making no folders.
bool PutFile(const std::string& image, const std::string& hostFile, const std::string& path);
bool PutBytes(const std::string& image, const std::string& path, const std::vector<std::uint8_t>& bytes,
              const std::string& workDir);
bool MakeDir(const std::string& image, const std::string& path);
bool DeleteFile(const std::string& image, const std::string& path);

// Opens a volume image with the product's readers, lettered C.
std::unique_ptr<CFATDriver> OpenFatImage(const std::string& path, Host* host = nullptr);
std::unique_ptr<CNTFSDriver> OpenNtfsImage(const std::string& path, Host* host = nullptr);

// The entry at a "/"-separated path below `root` (folders read as needed),
// or null.
CDirEntry* FindPath(CDirectory& root, const std::string& path);

// Calls `answer` with the first modal dialog that opens within `timeoutMs`
// (checked from the event loop, so that it works while a modal dialog's
// exec() runs). `answer` must close the dialog.
void WhenModal(std::function<void(QWidget*)> answer, int timeoutMs = 20000);

// Keeps dispatching events until `done` holds or `timeoutMs` passes;
// returns `done()`.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 60000);

// The offscreen platform and a private runtime folder, before the
// application object exists.
void PrepareGuiTestEnvironment();

}  // namespace relictor::test::panes

// main() of a pane test: the environment first, then the Qt Test run.
#define RELICTOR_PANES_TEST_MAIN(TestClass)                 \
  int main(int argc, char** argv) {                         \
    relictor::test::panes::PrepareGuiTestEnvironment();            \
    QApplication app(argc, argv);                           \
    TestClass tc;                                           \
    return QTest::qExec(&tc, argc, argv);                   \
  }
