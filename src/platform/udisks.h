#pragma once
// The desktop's disk service (UDisks2) on the system bus: the block devices
// it knows with their properties, notices as devices come and go, and
// read-only descriptors of devices this user may not open directly. Both
// front ends use it; it needs sd-bus and nothing of Qt.
//
// Every call on the bus has a time-out, so a service that never answers
// costs at most that long. Nothing here ever asks for write access.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct sd_bus;
struct sd_bus_message;
struct sd_bus_slot;

namespace relictor::platform {

struct BlockDevice {
  std::string objectPath;
  std::string device;           // "/dev/sdb1"
  std::uint64_t deviceNumber = 0;
  std::uint64_t size = 0;       // as the service says: shown, never used to read
  std::string idUsage;          // "filesystem", "partitiontable", ...
  std::string idType;           // "vfat", "ntfs", "exfat", ...
  std::string idLabel;          // made safe to show (SafeText)
  bool partition = false;
  bool hintSystem = false;
  std::string drivePath;        // the Drive object, or "/" for none (loop devices)
  std::string vendor, model, serial;  // of the drive, made safe to show
  bool removable = false;             // the drive or its media is removable
};

// Text from the bus made safe to show: control characters and bytes that
// are not UTF-8 become U+FFFD, and at most `limit` bytes are kept (cut at a
// character boundary).
std::string SafeText(std::string_view text, std::size_t limit = 200);

// "12.5 MB", "2.0 GB", "512 bytes": a size for people.
std::string SizeText(std::uint64_t bytes);

// Whether the program reads volumes of this IdType.
bool IsReadableFileSystem(const std::string& idType);

class UDisksClient {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{5000};
  // An open that may show the password dialog waits for the user this long.
  static constexpr std::chrono::milliseconds kAuthorizationTimeout{120000};

  // Connects to the system bus; null (with `error`) when there is none.
  // `timeout` bounds every call that does not wait for the user.
  static std::unique_ptr<UDisksClient> Connect(std::string& error,
                                               std::chrono::milliseconds timeout = kDefaultTimeout);
  ~UDisksClient();
  UDisksClient(const UDisksClient&) = delete;
  UDisksClient& operator=(const UDisksClient&) = delete;

  // Whether the service is on the bus now, or can be started by it.
  bool ServiceAvailable();
  // The block devices and partitions the service knows, in its order
  // sorted by device path. False with `error` when it did not answer.
  bool List(std::vector<BlockDevice>& out, std::string& error);

  enum class OpenResult { kOpened, kRefused, kUnknownDevice, kFailed };
  // Opens `path` (a device node or a link to one) read-only through the
  // service. `interactive` lets the system ask the user for a password.
  // On kOpened `fd` is a read-only descriptor the caller owns; otherwise
  // `error` is one sentence.
  OpenResult OpenReadOnly(const std::string& path, bool interactive, int& fd, std::string& error);

 private:
  UDisksClient(sd_bus* bus, std::chrono::milliseconds timeout) : bus_(bus), timeout_(timeout) {}
  sd_bus* bus_;
  std::chrono::milliseconds timeout_;
};

// Makes FileSource::Open ask the service for devices this user may not
// open. While listing the system's devices only volumes the program can
// read are asked for, so that nobody is asked for a password for a disk
// the program would not show.
void InstallDeviceOpener();
// What the service said while the system's devices were listed (a refusal,
// no answer), one sentence each, since the last call; the list leaves such
// devices out without a word.
std::vector<std::string> TakeListingProblems();

// Watches the service for devices that come and go, on a thread of its
// own, and calls `onChange` there (never on the caller's thread).
class DeviceWatcher {
 public:
  struct Change {
    bool added = false;  // a device appeared or gained a file system; else it went
    BlockDevice device;  // for a device gone: objectPath and device only
  };
  using Callback = std::function<void(const Change&)>;

  DeviceWatcher() = default;
  ~DeviceWatcher();
  DeviceWatcher(const DeviceWatcher&) = delete;
  DeviceWatcher& operator=(const DeviceWatcher&) = delete;

  // Starts watching; false with `error` when there is no bus or service.
  bool Start(Callback onChange, std::string& error,
             std::chrono::milliseconds timeout = UDisksClient::kDefaultTimeout);
  void Stop();

 private:
  void Run();
  void HandleAdded(const std::string& objectPath);
  void HandleRemoved(const std::string& objectPath);
  static int OnSignal(sd_bus_message* m, void* self);

  sd_bus* bus_ = nullptr;
  sd_bus_slot* slots_[2] = {nullptr, nullptr};
  std::chrono::milliseconds timeout_{UDisksClient::kDefaultTimeout};
  Callback onChange_;
  int stopFd_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<BlockDevice> known_;  // the devices seen, to name those that go
};

}  // namespace relictor::platform
