#include "panes_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "volume/sector_source.h"

namespace relictor::test::panes {

bool Sh(const std::string& commandLine) {
  CommandResult r = Run(commandLine);
  if (r.exitCode != 0) {
    std::fprintf(stderr, "command failed (%d): %s\n%s%s\n", r.exitCode, commandLine.c_str(), r.out.c_str(),
                 r.err.c_str());
    return false;
  }
  return true;
}

bool MakeFatImage(const std::string& image, int bits, const std::string& size, const std::string& options) {
  return Sh("rm -f " + Quote(image) + " && truncate -s " + size + " " + Quote(image) + " && mkfs.fat -F " +
            std::to_string(bits) + " -i 1234ABCD " + options + " " + Quote(image) + " >/dev/null");
}

bool PutFile(const std::string& image, const std::string& hostFile, const std::string& path) {
  return Sh("mcopy -i " + Quote(image) + " " + Quote(hostFile) + " " + Quote("::" + path));
}

bool PutBytes(const std::string& image, const std::string& path, const std::vector<std::uint8_t>& bytes,
              const std::string& workDir) {
  const std::string host = workDir + "/put.bin";
  WriteFile(host, bytes);
  return PutFile(image, host, path);
}

bool MakeDir(const std::string& image, const std::string& path) {
  return Sh("mmd -i " + Quote(image) + " " + Quote("::" + path));
}

bool DeleteFile(const std::string& image, const std::string& path) {
  return Sh("mdel -i " + Quote(image) + " " + Quote("::" + path));
}

namespace {
template <typename Reader>
std::unique_ptr<Reader> OpenImage(const std::string& path, Host* host) {
  std::string error;
  auto source = FileSource::Open(path, error);
  if (!source) {
    std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), error.c_str());
    return nullptr;
  }
  auto d = std::make_unique<Reader>();
  d->SetHost(host);
  d->SetDevice(std::move(source));
  if (!d->Open('C', kDriveFixed, "C:\\", false)) {
    std::fprintf(stderr, "cannot open volume %s: %s\n", path.c_str(), d->OpenError().c_str());
    return nullptr;
  }
  return d;
}
}  // namespace

std::unique_ptr<CFATDriver> OpenFatImage(const std::string& path, Host* host) {
  return OpenImage<CFATDriver>(path, host);
}

std::unique_ptr<CNTFSDriver> OpenNtfsImage(const std::string& path, Host* host) {
  return OpenImage<CNTFSDriver>(path, host);
}

CDirEntry* FindPath(CDirectory& root, const std::string& path) {
  CDirectory* folder = &root;
  CDirEntry* found = &root;
  std::size_t p = 0;
  while (p < path.size()) {
    if (path[p] == '/') {
      ++p;
      continue;
    }
    std::size_t end = path.find('/', p);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(p, end - p);
    p = end;
    if (!folder) return nullptr;
    if (!folder->populated) folder->Populate(true, true, true);
    found = nullptr;
    for (auto& c : folder->children) {
      if (c && c->name == name) {
        found = c.get();
        break;
      }
    }
    if (!found) return nullptr;
    folder = dynamic_cast<CDirectory*>(found);
  }
  return found;
}

void WhenModal(std::function<void(QWidget*)> answer, int timeoutMs) {
  auto* timer = new QTimer;
  auto elapsed = std::make_shared<QElapsedTimer>();
  elapsed->start();
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, elapsed, answer, timeoutMs]() {
    QWidget* w = QApplication::activeModalWidget();
    if (w && w->isVisible()) {
      timer->stop();
      timer->deleteLater();
      answer(w);
    } else if (elapsed->elapsed() > timeoutMs) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start();
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    // An event loop that sleeps between events, so that waiting does not
    // take the processor from the worker being waited for.
    QTest::qWait(5);
  }
  return true;
}

void PrepareGuiTestEnvironment() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    auto dir = std::filesystem::temp_directory_path() / ("relictor-xdg-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    qputenv("XDG_RUNTIME_DIR", dir.string().c_str());
  }
}

}  // namespace relictor::test::panes
