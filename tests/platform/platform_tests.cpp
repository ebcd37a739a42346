// The disk service client: text and sizes from the bus shown safely, and,
// against a test double of the service on a private bus (desktop_bus.sh),
// listing, read-only opens, refusals, a service that never answers, and
// cards that come and go.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "platform/udisks.h"
#include "support/test_support.h"
#include "volume/sector_source.h"

namespace relictor::platform {
namespace {

using namespace std::chrono_literals;
using test::Quote;

TEST(SafeText, ShowsOnlyValidPrintableText) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"CARD", "CARD"},
      {"Urlaub \xC3\xA9t\xC3\xA9", "Urlaub \xC3\xA9t\xC3\xA9"},
      {"A\x01" "B\x1B[31mC\x7F", "A" + r + "B" + r + "[31mC" + r},
      {"new\nline\ttab", "new" + r + "line" + r + "tab"},
      {"\xFF\xFEX", r + r + "X"},                        // bytes that never start a character
      {"\xC0\xAF", r + r},                               // overlong "/"
      {"\xED\xA0\x80", r + r + r},                       // a surrogate half
      {"\xE2\x82", r + r},                               // cut short
      {"\xC2\x85 next line", r + " next line"},          // C1 control
      {"abc\xE2\x80\xAEgpj.exe", "abc" + r + "gpj.exe"},  // right-to-left override
  };
  for (const auto& c : cases) EXPECT_EQ(SafeText(c.in), c.out) << c.in;
}

TEST(SafeText, KeepsToTheLimitAtACharacterBoundary) {
  std::string many(1000, 'x');
  EXPECT_EQ(SafeText(many).size(), 200u);
  // Three two-byte characters in five bytes leave two of them.
  EXPECT_EQ(SafeText("\xC3\xA9\xC3\xA9\xC3\xA9", 5), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(SafeText(std::string(10, '\x01'), 7), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(SizeText, ReadableFromBytesToTheLargestSize) {
  EXPECT_EQ(SizeText(0), "0 bytes");
  EXPECT_EQ(SizeText(999), "999 bytes");
  EXPECT_EQ(SizeText(31914983424ull), "31.9 GB");
  EXPECT_EQ(SizeText(999999), "1.0 MB");
  EXPECT_EQ(SizeText(~std::uint64_t{0}), "18.4 EB");
}

// Descriptors handed over by anyone: only read-only ones are taken, and the
// size is the file's, whatever was claimed.
TEST(FileSourceFromDescriptor, TakesOnlyReadOnlyDescriptors) {
  test::TempDir dir;
  std::string path = dir / "card.img";
  test::WriteFile(path, test::RandomBytes(8192, 7));
  std::string error;
  EXPECT_EQ(FileSource::FromDescriptor(::open(path.c_str(), O_RDWR | O_CLOEXEC), path, error), nullptr);
  EXPECT_NE(error.find("allows writing"), std::string::npos) << error;

  auto source = FileSource::FromDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC), path, error);
  ASSERT_NE(source, nullptr) << error;
  EXPECT_TRUE(source->HandleIsReadOnly());
  EXPECT_EQ(source->Size(), 8192u);
  // The card shrinks under the reader, as a pulled card does: reads past
  // the new end fail instead of giving stale or zero bytes.
  ASSERT_EQ(::truncate(path.c_str(), 1024), 0);
  std::vector<std::uint8_t> buffer(4096);
  EXPECT_FALSE(source->ReadAt(4096, buffer.data(), buffer.size()));
}

// A test double of the disk service, started for one test and killed after.
class FakeService {
 public:
  explicit FakeService(const std::string& parameters) {
    const char* templ = std::getenv("RELICTOR_UDISKS_TEMPLATE");
    pid_ = ::fork();
    if (pid_ == 0) {
      int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::execl("/usr/bin/python3", "python3", "-m", "dbusmock", "--system", "--template", templ, "-p",
              parameters.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~FakeService() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // Waits until the service has its name on the bus.
  bool Up() {
    std::string error;
    auto client = UDisksClient::Connect(error);
    for (int i = 0; client && i < 200; ++i) {
      if (client->ServiceAvailable()) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;

 private:
  pid_t pid_ = -1;
};

class OnTheBus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DESKTOP_BUS_DIR") || !std::getenv("RELICTOR_UDISKS_TEMPLATE")) {
      GTEST_SKIP() << "needs the private bus of tests/platform/desktop_bus.sh";
    }
    image_ = dir_ / "card.img";
    bytes_ = test::RandomBytes(64 << 10, 11);
    test::WriteFile(image_, bytes_);
  }
  std::string Parameters(const std::string& more) const {
    return "{\"image\": \"" + image_ + "\"" + (more.empty() ? "" : ", " + more) + "}";
  }
  std::unique_ptr<UDisksClient> Client(std::chrono::milliseconds timeout = UDisksClient::kDefaultTimeout) {
    std::string error;
    auto client = UDisksClient::Connect(error, timeout);
    EXPECT_NE(client, nullptr) << error;
    return client;
  }
  // The devices the service lists; a failure fails the test.
  static std::vector<BlockDevice> Devices(UDisksClient& client) {
    std::vector<BlockDevice> devices;
    std::string error;
    EXPECT_TRUE(client.List(devices, error)) << error;
    return devices;
  }
  // The card opened through the service, read-only; null on failure.
  static std::shared_ptr<FileSource> OpenCard(UDisksClient& client, const std::string& device) {
    int fd = -1;
    std::string error;
    EXPECT_EQ(client.OpenReadOnly(device, false, fd, error), UDisksClient::OpenResult::kOpened) << error;
    if (fd < 0) return nullptr;
    auto source = FileSource::FromDescriptor(fd, device, error);
    EXPECT_NE(source, nullptr) << error;
    return source;
  }

  test::TempDir dir_;
  std::string image_;
  std::vector<std::uint8_t> bytes_;
};

TEST_F(OnTheBus, ListsTheCardWithItsDriveAndOpensItReadOnly) {
  FakeService service(Parameters("\"label\": \"HOLIDAY\", \"model\": \"SD Reader\", \"size\": 65536"));
  ASSERT_TRUE(service.Up());
  auto client = Client();
  const auto devices = Devices(*client);
  ASSERT_EQ(devices.size(), 1u);
  const BlockDevice& card = devices[0];
  EXPECT_EQ(card.device, "/dev/relictor-card");
  EXPECT_EQ(card.idType, "vfat");
  EXPECT_EQ(card.idLabel, "HOLIDAY");
  EXPECT_EQ(card.model, "SD Reader");
  EXPECT_EQ(card.vendor, "Kardex");
  EXPECT_TRUE(card.removable);
  EXPECT_EQ(card.size, 65536u);

  auto source = OpenCard(*client, card.device);
  ASSERT_NE(source, nullptr);
  std::vector<std::uint8_t> back(bytes_.size());
  ASSERT_TRUE(source->ReadAt(0, back.data(), back.size()));
  EXPECT_EQ(back, bytes_);

  int fd = -1;
  std::string error;
  EXPECT_EQ(client->OpenReadOnly("/dev/relictor-none", false, fd, error),
            UDisksClient::OpenResult::kUnknownDevice);
}

TEST_F(OnTheBus, RefusalsAndWriteAccessAreNeverTaken) {
  const struct {
    const char* service;
    bool interactive;
    UDisksClient::OpenResult result;
    const char* error;
  } cases[] = {
      {"\"refuse\": true", true, UDisksClient::OpenResult::kRefused,
       "not allowed to read /dev/relictor-card (the system's policy refused it)"},
      {"\"writable\": true", false, UDisksClient::OpenResult::kFailed, "write access"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.service);
    FakeService service(Parameters(c.service));
    ASSERT_TRUE(service.Up());
    int fd = -1;
    std::string error;
    EXPECT_EQ(Client()->OpenReadOnly("/dev/relictor-card", c.interactive, fd, error), c.result);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(fd, -1);
  }
}

TEST_F(OnTheBus, HostileValuesAreShownSafelyAndNeverReadBy) {
  FakeService service(Parameters("\"label\": \"EVIL\\u0007\\u001b]0;owned\\u0007\", \"size\": 18446744073709551615, "
                                 "\"model\": \"" + std::string(5000, 'M') + "\""));
  ASSERT_TRUE(service.Up());
  auto client = Client();
  const auto devices = Devices(*client);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].idLabel, "EVIL\xEF\xBF\xBD\xEF\xBF\xBD]0;owned\xEF\xBF\xBD");
  EXPECT_LE(devices[0].model.size(), 200u);
  EXPECT_EQ(devices[0].size, ~std::uint64_t{0});
  auto source = OpenCard(*client, "/dev/relictor-card");
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->Size(), bytes_.size());
  std::uint8_t byte = 0;
  EXPECT_FALSE(source->ReadAt(bytes_.size(), &byte, 1));
}

TEST_F(OnTheBus, AServiceThatNeverAnswersCostsOneTimeout) {
  FakeService service("{\"hang\": true}");
  ASSERT_TRUE(service.Up());
  auto client = Client(300ms);
  std::vector<BlockDevice> devices;
  std::string error;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client->List(devices, error));
  EXPECT_NE(error.find("did not answer within 0.3 s"), std::string::npos) << error;
  int fd = -1;
  EXPECT_EQ(client->OpenReadOnly("/dev/relictor-card", false, fd, error), UDisksClient::OpenResult::kFailed);
  EXPECT_NE(error.find("did not answer"), std::string::npos) << error;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

  DeviceWatcher watcher;
  EXPECT_FALSE(watcher.Start([](const DeviceWatcher::Change&) {}, error, 300ms));
}

TEST_F(OnTheBus, WatcherSeesCardsComeAndGo) {
  FakeService service(Parameters(""));
  ASSERT_TRUE(service.Up());
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<DeviceWatcher::Change> changes;
  DeviceWatcher watcher;
  std::string error;
  ASSERT_TRUE(watcher.Start(
      [&](const DeviceWatcher::Change& c) {
        std::lock_guard lock(mutex);
        changes.push_back(c);
        changed.notify_all();
      },
      error))
      << error;
  auto waitFor = [&](std::size_t n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return changes.size() >= n; });
  };
  std::string call = "gdbus call --system --dest org.freedesktop.UDisks2 --object-path /org/freedesktop/UDisks2 "
                     "--method org.freedesktop.UDisks2.Manager.";
  test::MustRun(call + "TestPlug /dev/relictor-new " + Quote("'NEW\\u0001CARD'"));
  ASSERT_TRUE(waitFor(1));
  test::MustRun(call + "TestPull /dev/relictor-new");
  ASSERT_TRUE(waitFor(2));
  // The card that was there from the start is not reported again.
  std::lock_guard lock(mutex);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_TRUE(changes[0].added);
  EXPECT_EQ(changes[0].device.device, "/dev/relictor-new");
  EXPECT_EQ(changes[0].device.idLabel, "NEW\xEF\xBF\xBD" "CARD");
  EXPECT_EQ(changes[0].device.model, "Card Reader");
  EXPECT_FALSE(changes[1].added);
  EXPECT_EQ(changes[1].device.device, "/dev/relictor-new");
}

}  // namespace
}  // namespace relictor::platform
