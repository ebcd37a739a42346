#include "platform/udisks.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "volume/sector_source.h"

namespace relictor::platform {
namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kRootPath = "/org/freedesktop/UDisks2";
constexpr const char* kBlockPrefix = "/org/freedesktop/UDisks2/block_devices/";
constexpr const char* kBlockIface = "org.freedesktop.UDisks2.Block";
constexpr const char* kDriveIface = "org.freedesktop.UDisks2.Drive";
constexpr const char* kPartitionIface = "org.freedesktop.UDisks2.Partition";
constexpr const char* kFilesystemIface = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

// One property value of the kinds the service uses.
struct Value {
  std::string text;  // s, o, ay (a trailing NUL dropped)
  std::uint64_t number = 0;
  bool flag = false;
};
using Props = std::map<std::string, Value>;
using Interfaces = std::map<std::string, Props>;

// Owns a message or an error and lets it go on every path.
struct Message {
  sd_bus_message* m = nullptr;
  ~Message() { sd_bus_message_unref(m); }
};
struct BusError {
  sd_bus_error e{};  // all null, as SD_BUS_ERROR_NULL
  ~BusError() { sd_bus_error_free(&e); }
};

// Reads an a{sv} at the message's position.
int ReadProps(sd_bus_message* m, Props& out) {
  int r = sd_bus_message_enter_container(m, 'a', "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* name = nullptr;
    if ((r = sd_bus_message_read_basic(m, 's', &name)) < 0) return r;
    const char* contents = nullptr;
    if ((r = sd_bus_message_peek_type(m, nullptr, &contents)) < 0) return r;
    std::string signature = contents ? contents : "";
    if ((r = sd_bus_message_enter_container(m, 'v', signature.c_str())) < 0) return r;
    Value v;
    bool keep = true;
    if (signature == "s" || signature == "o") {
      const char* s = nullptr;
      r = sd_bus_message_read_basic(m, signature[0], &s);
      if (r >= 0 && s) v.text = s;
    } else if (signature == "t") {
      std::uint64_t t = 0;
      r = sd_bus_message_read_basic(m, 't', &t);
      v.number = t;
    } else if (signature == "b") {
      int b = 0;
      r = sd_bus_message_read_basic(m, 'b', &b);
      v.flag = b != 0;
    } else if (signature == "ay") {
      const void* p = nullptr;
      std::size_t n = 0;
      r = sd_bus_message_read_array(m, 'y', &p, &n);
      if (r >= 0 && p) v.text.assign(static_cast<const char*>(p), n);
      while (!v.text.empty() && v.text.back() == '\0') v.text.pop_back();
    } else {
      keep = false;
      r = sd_bus_message_skip(m, signature.c_str());
    }
    if (r < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;  // v
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;  // e
    if (keep && name) out[name] = std::move(v);
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

// Reads an a{sa{sv}} at the message's position.
int ReadInterfaces(sd_bus_message* m, Interfaces& out) {
  int r = sd_bus_message_enter_container(m, 'a', "{sa{sv}}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
    const char* name = nullptr;
    if ((r = sd_bus_message_read_basic(m, 's', &name)) < 0) return r;
    Props props;
    if ((r = ReadProps(m, props)) < 0) return r;
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;
    if (name) out[name] = std::move(props);
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

std::string TextOf(const Props& p, const char* name) {
  auto it = p.find(name);
  return it == p.end() ? std::string() : it->second.text;
}
std::uint64_t NumberOf(const Props& p, const char* name) {
  auto it = p.find(name);
  return it == p.end() ? 0 : it->second.number;
}
bool FlagOf(const Props& p, const char* name) {
  auto it = p.find(name);
  return it != p.end() && it->second.flag;
}

void FillBlock(BlockDevice& d, const Props& block) {
  // The device path names a node to open: control characters or a path
  // outside /dev make it no path at all.
  std::string device = TextOf(block, "Device");
  bool clean = device.rfind("/dev/", 0) == 0 && device.size() < PATH_MAX;
  for (unsigned char c : device) clean = clean && c >= 0x20 && c != 0x7F;
  d.device = clean ? device : std::string();
  d.deviceNumber = NumberOf(block, "DeviceNumber");
  d.size = NumberOf(block, "Size");
  d.idUsage = SafeText(TextOf(block, "IdUsage"), 64);
  d.idType = SafeText(TextOf(block, "IdType"), 64);
  d.idLabel = SafeText(TextOf(block, "IdLabel"));
  d.hintSystem = FlagOf(block, "HintSystem");
  d.drivePath = TextOf(block, "Drive");
}

void FillDrive(BlockDevice& d, const Props& drive) {
  d.vendor = SafeText(TextOf(drive, "Vendor"));
  d.model = SafeText(TextOf(drive, "Model"));
  d.serial = SafeText(TextOf(drive, "Serial"));
  d.removable = FlagOf(drive, "Removable") || FlagOf(drive, "MediaRemovable");
}

std::uint64_t ToMicroseconds(std::chrono::milliseconds t) {
  return static_cast<std::uint64_t>(std::max<std::int64_t>(t.count(), 1)) * 1000;
}

std::string Seconds(std::chrono::milliseconds t) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(t.count()) / 1000.0);
  return text;
}

// Calls `member` and waits at most `timeout`; the arguments are appended by
// `append`. On failure returns the error's name (or "timeout") and message.
int Call(sd_bus* bus, const char* path, const char* iface, const char* member, std::chrono::milliseconds timeout,
         bool interactive, const std::function<int(sd_bus_message*)>& append, Message& reply, BusError& error) {
  Message call;
  int r = sd_bus_message_new_method_call(bus, &call.m, kService, path, iface, member);
  if (r < 0) return r;
  if (append && (r = append(call.m)) < 0) return r;
  if ((r = sd_bus_message_set_allow_interactive_authorization(call.m, interactive ? 1 : 0)) < 0) return r;
  return sd_bus_call(bus, call.m, ToMicroseconds(timeout), &error.e, &reply.m);
}

// Properties.GetAll of one interface.
int GetAll(sd_bus* bus, const std::string& path, const char* iface, std::chrono::milliseconds timeout, Props& out) {
  Message reply;
  BusError error;
  int r = Call(
      bus, path.c_str(), kProperties, "GetAll", timeout, false,
      [iface](sd_bus_message* m) { return sd_bus_message_append(m, "s", iface); }, reply, error);
  if (r < 0) return r;
  return ReadProps(reply.m, out);
}

std::string NoAnswer(std::chrono::milliseconds timeout) {
  return "the disk service (UDisks2) did not answer within " + Seconds(timeout) + " s";
}

bool ListObjects(sd_bus* bus, std::chrono::milliseconds timeout, std::vector<BlockDevice>& out, std::string& error) {
  out.clear();
  Message reply;
  BusError busError;
  int r = Call(bus, kRootPath, kObjectManager, "GetManagedObjects", timeout, false, nullptr, reply, busError);
  if (r < 0) {
    error = r == -ETIMEDOUT ? NoAnswer(timeout)
                            : "the disk service (UDisks2) could not list the devices: " +
                                  SafeText(busError.e.message ? busError.e.message : std::strerror(-r));
    return false;
  }
  std::map<std::string, Interfaces> objects;
  r = sd_bus_message_enter_container(reply.m, 'a', "{oa{sa{sv}}}");
  while (r >= 0 && (r = sd_bus_message_enter_container(reply.m, 'e', "oa{sa{sv}}")) > 0) {
    const char* path = nullptr;
    Interfaces interfaces;
    if ((r = sd_bus_message_read_basic(reply.m, 'o', &path)) < 0) break;
    if ((r = ReadInterfaces(reply.m, interfaces)) < 0) break;
    if ((r = sd_bus_message_exit_container(reply.m)) < 0) break;
    if (path) objects[path] = std::move(interfaces);
  }
  if (r < 0) {
    error = "the disk service (UDisks2) sent a list the program cannot read";
    return false;
  }
  for (const auto& [path, interfaces] : objects) {
    auto block = interfaces.find(kBlockIface);
    if (block == interfaces.end()) continue;
    BlockDevice d;
    d.objectPath = path;
    FillBlock(d, block->second);
    d.partition = interfaces.count(kPartitionIface) != 0;
    auto drive = objects.find(d.drivePath);
    if (drive != objects.end()) {
      auto props = drive->second.find(kDriveIface);
      if (props != drive->second.end()) FillDrive(d, props->second);
    }
    out.push_back(std::move(d));
  }
  std::sort(out.begin(), out.end(), [](const BlockDevice& a, const BlockDevice& b) { return a.device < b.device; });
  return true;
}

// The device among `devices` that `path` names: by device number when the
// node exists, else by its resolved path.
const BlockDevice* FindDevice(const std::vector<BlockDevice>& devices, const std::string& path) {
  struct stat st {};
  bool haveNumber = ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
  char resolved[PATH_MAX];
  std::string real = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
  for (const auto& d : devices) {
    if (haveNumber ? d.deviceNumber == static_cast<std::uint64_t>(st.st_rdev) && d.deviceNumber != 0
                   : !d.device.empty() && d.device == real) {
      return &d;
    }
  }
  return nullptr;
}

bool IsRefusal(const BusError& error) {
  const char* name = error.e.name ? error.e.name : "";
  return std::strstr(name, "NotAuthorized") != nullptr || std::strcmp(name, SD_BUS_ERROR_ACCESS_DENIED) == 0 ||
         std::strcmp(name, SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED) == 0;
}

// Appends the replacement character.
void AppendReplacement(std::string& out) { out += "\xEF\xBF\xBD"; }

}  // namespace

std::string SafeText(std::string_view text, std::size_t limit) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      length = 1;
      cp = c;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      cp = c & 0x07;
    }
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      auto cc = static_cast<unsigned char>(text[i + k]);
      valid = (cc & 0xC0) == 0x80;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (valid && ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
                  (cp >= 0xD800 && cp <= 0xDFFF))) {
      valid = false;
    }
    std::size_t step = valid ? length : 1;
    // Control characters, and the marks that turn text around, could make
    // a label look like something else.
    bool shown = valid && cp >= 0x20 && !(cp >= 0x7F && cp <= 0x9F) && !(cp >= 0x202A && cp <= 0x202E) &&
                 !(cp >= 0x2066 && cp <= 0x2069);
    std::size_t need = shown ? step : 3;
    if (out.size() + need > limit) break;
    if (shown) {
      out.append(text.substr(i, step));
    } else {
      AppendReplacement(out);
    }
    i += step;
  }
  return out;
}

std::string SizeText(std::uint64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(bytes) / 1000.0;
  std::size_t unit = 0;
  while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

bool IsReadableFileSystem(const std::string& idType) {
  return idType == "vfat" || idType == "ntfs" || idType == "exfat";
}

std::unique_ptr<UDisksClient> UDisksClient::Connect(std::string& error, std::chrono::milliseconds timeout) {
  sd_bus* bus = nullptr;
  int r = sd_bus_open_system(&bus);
  if (r < 0) {
    error = std::string("cannot reach the system bus: ") + std::strerror(-r);
    return nullptr;
  }
  // Calls to the bus itself are bounded too.
  sd_bus_set_method_call_timeout(bus, ToMicroseconds(timeout));
  return std::unique_ptr<UDisksClient>(new UDisksClient(bus, timeout));
}

UDisksClient::~UDisksClient() { sd_bus_flush_close_unref(bus_); }

bool UDisksClient::ServiceAvailable() {
  // The bus itself answers these, not the service.
  BusError error;
  Message reply;
  int r = sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                             "NameHasOwner", &error.e, &reply.m, "s", kService);
  int owned = 0;
  if (r >= 0 && sd_bus_message_read_basic(reply.m, 'b', &owned) >= 0 && owned) return true;
  Message names;
  BusError error2;
  r = sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "ListActivatableNames", &error2.e, &names.m, "");
  if (r < 0 || sd_bus_message_enter_container(names.m, 'a', "s") < 0) return false;
  const char* name = nullptr;
  while (sd_bus_message_read_basic(names.m, 's', &name) > 0) {
    if (name && std::strcmp(name, kService) == 0) return true;
  }
  return false;
}

bool UDisksClient::List(std::vector<BlockDevice>& out, std::string& error) {
  return ListObjects(bus_, timeout_, out, error);
}

UDisksClient::OpenResult UDisksClient::OpenReadOnly(const std::string& path, bool interactive, int& fd,
                                                    std::string& error) {
  fd = -1;
  std::vector<BlockDevice> devices;
  std::string why;
  if (!List(devices, why)) {
    error = path + ": permission denied, and " + why;
    return OpenResult::kFailed;
  }
  const BlockDevice* device = FindDevice(devices, path);
  if (!device) {
    error = path + ": the disk service (UDisks2) does not know this device";
    return OpenResult::kUnknownDevice;
  }
  auto timeout = interactive ? kAuthorizationTimeout : timeout_;
  Message reply;
  BusError busError;
  int r = Call(
      bus_, device->objectPath.c_str(), kBlockIface, "OpenDevice", timeout, interactive,
      [](sd_bus_message* m) { return sd_bus_message_append(m, "sa{sv}", "r", 0); }, reply, busError);
  if (r < 0 && sd_bus_error_has_name(&busError.e, SD_BUS_ERROR_UNKNOWN_METHOD)) {
    // Older services know only the backup open, which is read-only too.
    Message reply2;
    BusError error2;
    r = Call(
        bus_, device->objectPath.c_str(), kBlockIface, "OpenForBackup", timeout, interactive,
        [](sd_bus_message* m) { return sd_bus_message_append(m, "a{sv}", 0); }, reply2, error2);
    std::swap(reply.m, reply2.m);
    std::swap(busError.e, error2.e);
  }
  if (r < 0) {
    if (IsRefusal(busError)) {
      error = "not allowed to read " + path + " (the system's policy refused it)";
      return OpenResult::kRefused;
    }
    error = r == -ETIMEDOUT ? path + ": permission denied, and " + NoAnswer(timeout)
                            : path + ": the disk service (UDisks2) could not open it: " +
                                  SafeText(busError.e.message ? busError.e.message : std::strerror(-r));
    return OpenResult::kFailed;
  }
  int given = -1;
  if (sd_bus_message_read_basic(reply.m, 'h', &given) < 0 || given < 0) {
    error = path + ": the disk service (UDisks2) sent no descriptor";
    return OpenResult::kFailed;
  }
  // The message owns its descriptor: keep a copy of our own.
  int own = ::fcntl(given, F_DUPFD_CLOEXEC, 3);
  if (own < 0) {
    error = path + ": " + std::strerror(errno);
    return OpenResult::kFailed;
  }
  int flags = ::fcntl(own, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY) {
    ::close(own);
    error = path + ": the disk service (UDisks2) gave write access, which the program never takes; refused";
    return OpenResult::kFailed;
  }
  fd = own;
  return OpenResult::kOpened;
}

namespace {

struct OpenerState {
  std::mutex mutex;
  std::unique_ptr<UDisksClient> client;
  bool connectTried = false;
  std::string silence;  // set once the service failed to answer: not asked again
  std::vector<std::string> listingProblems;
};

OpenerState& Opener() {
  // Never destroyed: a thread still waiting for the service when the
  // program ends must not find it gone.
  static OpenerState* state = new OpenerState;
  return *state;
}

int OpenThroughService(const std::string& path, bool listing, std::string& error) {
  OpenerState& state = Opener();
  std::lock_guard lock(state.mutex);
  if (!state.connectTried) {
    state.connectTried = true;
    std::string ignored;
    state.client = UDisksClient::Connect(ignored);
  }
  // Without the bus or the service the usual message stands.
  if (!state.client || !state.client->ServiceAvailable()) return -1;
  // A service that did not answer once is not waited for again.
  if (!state.silence.empty()) {
    if (!listing) error = path + ": permission denied, and " + state.silence;
    return -1;
  }
  if (listing) {
    std::vector<BlockDevice> devices;
    std::string why;
    if (!state.client->List(devices, why)) {
      if (why.find("did not answer") != std::string::npos) {
        state.silence = why;
        state.listingProblems.push_back(path + ": permission denied, and " + why);
      }
      return -1;
    }
    const BlockDevice* device = FindDevice(devices, path);
    if (!device || !IsReadableFileSystem(device->idType)) return -1;
  }
  int fd = -1;
  auto result = state.client->OpenReadOnly(path, true, fd, error);
  if (result == UDisksClient::OpenResult::kOpened) return fd;
  if (result == UDisksClient::OpenResult::kUnknownDevice) {
    error.clear();
    return -1;
  }
  if (result == UDisksClient::OpenResult::kFailed && error.find("did not answer") != std::string::npos) {
    state.silence = error.substr(error.find("the disk service"));
  }
  if (listing) state.listingProblems.push_back(error);
  return -1;
}

}  // namespace

void InstallDeviceOpener() { SetDeviceOpener(OpenThroughService); }

std::vector<std::string> TakeListingProblems() {
  OpenerState& state = Opener();
  std::lock_guard lock(state.mutex);
  std::vector<std::string> out;
  out.swap(state.listingProblems);
  return out;
}

// Watching.

DeviceWatcher::~DeviceWatcher() { Stop(); }

bool DeviceWatcher::Start(Callback onChange, std::string& error, std::chrono::milliseconds timeout) {
  Stop();
  timeout_ = timeout;
  auto client = UDisksClient::Connect(error, timeout);
  if (!client) return false;
  if (!client->ServiceAvailable()) {
    error = "the disk service (UDisks2) is not on the system bus";
    return false;
  }
  int r = sd_bus_open_system(&bus_);
  if (r < 0) {
    error = std::string("cannot reach the system bus: ") + std::strerror(-r);
    bus_ = nullptr;
    return false;
  }
  sd_bus_set_method_call_timeout(bus_, ToMicroseconds(timeout));
  const char* members[2] = {"InterfacesAdded", "InterfacesRemoved"};
  for (int i = 0; i < 2; ++i) {
    r = sd_bus_match_signal(
        bus_, &slots_[i], nullptr, kRootPath, kObjectManager, members[i],
        [](sd_bus_message* m, void* self, sd_bus_error*) { return DeviceWatcher::OnSignal(m, self); }, this);
    if (r < 0) {
      error = std::string("cannot watch the disk service: ") + std::strerror(-r);
      Stop();
      return false;
    }
  }
  // What is there now, so that a device that goes can be named. Asked after
  // the matches are in place, so that nothing falls between.
  std::vector<BlockDevice> now;
  if (!client->List(now, error)) {
    Stop();
    return false;
  }
  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) {
    error = std::string("cannot watch the disk service: ") + std::strerror(errno);
    Stop();
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    known_ = std::move(now);
  }
  onChange_ = std::move(onChange);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void DeviceWatcher::Stop() {
  if (thread_.joinable()) {
    std::uint64_t one = 1;
    while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  if (stopFd_ >= 0) ::close(stopFd_);
  stopFd_ = -1;
  for (auto& slot : slots_) slot = sd_bus_slot_unref(slot);
  bus_ = sd_bus_flush_close_unref(bus_);
}

void DeviceWatcher::Run() {
  for (;;) {
    int r = sd_bus_process(bus_, nullptr);
    if (r < 0) return;  // the bus went away
    if (r > 0) continue;
    pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(sd_bus_get_events(bus_)), 0}, {stopFd_, POLLIN, 0}};
    int wait = -1;
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(bus_, &until) > 0 && until != UINT64_MAX) {
      timespec now {};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      std::uint64_t nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
      wait = until <= nowUs ? 0 : static_cast<int>(std::min<std::uint64_t>((until - nowUs + 999) / 1000, INT_MAX));
    }
    if (::poll(fds, 2, wait) < 0 && errno != EINTR) return;
    if (fds[1].revents & POLLIN) return;
  }
}

int DeviceWatcher::OnSignal(sd_bus_message* m, void* self) {
  auto* watcher = static_cast<DeviceWatcher*>(self);
  const char* member = sd_bus_message_get_member(m);
  const char* path = nullptr;
  if (!member || sd_bus_message_read_basic(m, 'o', &path) < 0 || !path) return 0;
  std::string objectPath = path;
  if (objectPath.rfind(kBlockPrefix, 0) != 0) return 0;  // drives, jobs, the manager
  if (std::strcmp(member, "InterfacesAdded") == 0) {
    watcher->HandleAdded(objectPath);
  } else if (std::strcmp(member, "InterfacesRemoved") == 0) {
    bool gone = false;
    if (sd_bus_message_enter_container(m, 'a', "s") >= 0) {
      const char* iface = nullptr;
      while (sd_bus_message_read_basic(m, 's', &iface) > 0) {
        if (iface && (std::strcmp(iface, kBlockIface) == 0 || std::strcmp(iface, kFilesystemIface) == 0)) gone = true;
      }
    }
    if (gone) watcher->HandleRemoved(objectPath);
  }
  return 0;
}

void DeviceWatcher::HandleAdded(const std::string& objectPath) {
  // The properties are asked for, rather than taken from the signal, so
  // that a device that gained only a file system is seen whole.
  Props block;
  if (GetAll(bus_, objectPath, kBlockIface, timeout_, block) < 0) return;
  Change change;
  change.added = true;
  change.device.objectPath = objectPath;
  FillBlock(change.device, block);
  Props partition;
  change.device.partition = GetAll(bus_, objectPath, kPartitionIface, timeout_, partition) >= 0 && !partition.empty();
  if (!change.device.drivePath.empty() && change.device.drivePath != "/") {
    Props drive;
    if (GetAll(bus_, change.device.drivePath, kDriveIface, timeout_, drive) >= 0) FillDrive(change.device, drive);
  }
  if (change.device.device.empty()) return;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(known_.begin(), known_.end(),
                           [&](const BlockDevice& d) { return d.objectPath == objectPath; });
    if (it != known_.end()) {
      *it = change.device;
    } else {
      known_.push_back(change.device);
    }
  }
  onChange_(change);
}

void DeviceWatcher::HandleRemoved(const std::string& objectPath) {
  Change change;
  change.device.objectPath = objectPath;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(known_.begin(), known_.end(),
                           [&](const BlockDevice& d) { return d.objectPath == objectPath; });
    if (it == known_.end()) return;
    change.device = *it;
  }
  onChange_(change);
}

}  // namespace relictor::platform
