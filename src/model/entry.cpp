#include "model/entry.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "volume/driver.h"

namespace relictor {
namespace {
std::string& FolderTypeName() {
  static std::string name;
  return name;
}

bool ToLocal(EntryTime t, std::tm& out) {
  if (t == kNoTime) return false;
  std::time_t tt = static_cast<std::time_t>(t);
  if (static_cast<EntryTime>(tt) != t) return false;
  return localtime_r(&tt, &out) != nullptr;
}

// The fields of a local time that the texts show.
struct LocalFields {
  std::int64_t year = 0;
  int month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kSecondsPerHour = 3600;
// Years 1 to 9999: the range in which the arithmetic below and the
// four-digit texts hold; times outside it go to the C library.
constexpr EntryTime kFirstFastTime = -62135596800;  // 0001-01-01 00:00:00
constexpr EntryTime kLastFastTime = 253402300799;   // 9999-12-31 23:59:59

// The calendar fields of a count of seconds since 1970 in a zone without
// offset (the proleptic Gregorian calendar, days counted in eras of 400
// years, each of which has the same number of days).
LocalFields CivilFields(std::int64_t t) {
  std::int64_t days = t / kSecondsPerDay, rest = t % kSecondsPerDay;
  if (rest < 0) rest += kSecondsPerDay, --days;
  LocalFields f;
  f.hour = static_cast<int>(rest / 3600);
  f.minute = static_cast<int>(rest / 60 % 60);
  f.second = static_cast<int>(rest % 60);
  // Shift the epoch to 0000-03-01, so that the leap day ends each year.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  f.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  f.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  f.year = yearOfEra + era * 400 + (f.month <= 2 ? 1 : 0);
  return f;
}

// The inverse of CivilFields: seconds since 1970 of calendar fields taken
// as UTC.
std::int64_t CivilSeconds(const std::tm& tm) {
  const std::int64_t month = tm.tm_mon + 1;
  const std::int64_t year = static_cast<std::int64_t>(tm.tm_year) + 1900 - (month <= 2 ? 1 : 0);
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + tm.tm_mday - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  return days * kSecondsPerDay + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

// Local times for long listings: the offset from UTC is looked up in the
// C library once per hour of time stamps and cached, since asking it for
// every one of hundreds of thousands of entries costs more than the
// listing. An hour is cached only when the library gives the same offset
// at its first and last second;
// an hour in which the offset changes (or that a leap second shifts) is
// left to the library second by second. The cache belongs to its thread,
// and is emptied when the program switches zones (tzset after a change
// of TZ updates the library's zone names and offset, which are compared).
class ZoneCache {
 public:
  bool Fields(EntryTime t, LocalFields& out) {
    if (t < kFirstFastTime || t > kLastFastTime) return LibraryFields(t, out);
    CheckZone();
    std::int64_t hour = t / kSecondsPerHour;
    if (t % kSecondsPerHour < 0) --hour;
    Slot& slot = slots_[static_cast<std::size_t>(hour) % kSlots];
    if (!slot.valid || slot.hour != hour) Fill(slot, hour);
    if (!slot.uniform) return LibraryFields(t, out);
    // The date of the day before is kept: the times of a listing mostly
    // fall on few days, and working a date out costs more than the rest.
    const std::int64_t local = t + slot.offset;
    std::int64_t day = local / kSecondsPerDay, rest = local % kSecondsPerDay;
    if (rest < 0) rest += kSecondsPerDay, --day;
    if (!dayValid_ || day != day_) {
      date_ = CivilFields(day * kSecondsPerDay);
      day_ = day;
      dayValid_ = true;
    }
    out = date_;
    out.hour = static_cast<int>(rest / 3600);
    out.minute = static_cast<int>(rest / 60 % 60);
    out.second = static_cast<int>(rest % 60);
    return true;
  }

  // Seconds since 1970 UTC of `local`, seconds of local time counted from
  // 1970 as if it were UTC, where the local hour it falls in names exactly
  // one instant and the offset is the same two days on either side; false
  // otherwise (near a change of offset), for the library to answer.
  bool ToUtc(std::int64_t local, std::int64_t& utc) {
    if (local < kFirstFastTime || local > kLastFastTime) return false;
    CheckZone();
    std::int64_t hour = local / kSecondsPerHour;
    if (local % kSecondsPerHour < 0) --hour;
    Slot& slot = localSlots_[static_cast<std::size_t>(hour) % kSlots];
    if (!slot.valid || slot.hour != hour) FillLocal(slot, hour);
    if (!slot.uniform) return false;
    utc = local - slot.offset;
    return true;
  }

 private:
  struct Slot {
    bool valid = false;
    bool uniform = false;
    std::int64_t hour = 0;
    std::int64_t offset = 0;
  };
  static constexpr std::size_t kSlots = 256;

  static bool LibraryFields(EntryTime t, LocalFields& out) {
    std::tm tm{};
    if (!ToLocal(t, tm)) return false;
    out.year = static_cast<std::int64_t>(tm.tm_year) + 1900;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    return true;
  }

  void CheckZone() {
    if (!zoneRead_) {
      // The library's zone names and offset are set by tzset, which its
      // local time conversion runs only once; running it here first makes
      // them reflect the zone those conversions use.
      tzset();
      zoneRead_ = true;
    }
    if (tzname[0] == zone_[0] && tzname[1] == zone_[1] && timezone == offset_ && daylight == daylight_) return;
    zone_[0] = tzname[0];
    zone_[1] = tzname[1];
    offset_ = timezone;
    daylight_ = daylight;
    for (Slot& s : slots_) s.valid = false;
    for (Slot& s : localSlots_) s.valid = false;
  }

  static void Fill(Slot& slot, std::int64_t hour) {
    slot.valid = true;
    slot.hour = hour;
    slot.uniform = false;
    const std::time_t first = static_cast<std::time_t>(hour * kSecondsPerHour);
    const std::time_t last = first + static_cast<std::time_t>(kSecondsPerHour - 1);
    std::tm a{}, b{};
    if (!localtime_r(&first, &a) || !localtime_r(&last, &b)) return;
    // The offsets the library applied at the hour's two ends, worked out
    // from the fields it gave (a leap second shows as a difference too).
    const std::int64_t offset = CivilSeconds(a) - first;
    if (CivilSeconds(b) - last != offset) return;
    slot.offset = offset;
    slot.uniform = true;
  }

  // The offset at an instant, from the fields the library gives for it.
  static bool OffsetAt(std::int64_t t, std::int64_t& offset) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    if (!localtime_r(&tt, &tm)) return false;
    offset = CivilSeconds(tm) - t;
    return true;
  }

  static void FillLocal(Slot& slot, std::int64_t hour) {
    slot.valid = true;
    slot.hour = hour;
    slot.uniform = false;
    // The offset at the hour read as UTC is a guess; it holds when the
    // instants the hour then names, and those up to two days either side,
    // all have it: no change of offset is near, so the hour is neither
    // skipped nor repeated.
    std::int64_t offset = 0, other = 0;
    if (!OffsetAt(hour * kSecondsPerHour, offset)) return;
    const std::int64_t first = hour * kSecondsPerHour - offset, last = first + kSecondsPerHour - 1;
    for (std::int64_t t : {first - 2 * kSecondsPerDay, first - kSecondsPerDay, first, last, last + kSecondsPerDay,
                           last + 2 * kSecondsPerDay}) {
      if (!OffsetAt(t, other) || other != offset) return;
    }
    slot.offset = offset;
    slot.uniform = true;
  }

  Slot slots_[kSlots];
  Slot localSlots_[kSlots];  // by hour of local time
  bool dayValid_ = false;
  std::int64_t day_ = 0;  // days since 1970 of `date_`, local time
  LocalFields date_;
  bool zoneRead_ = false;
  const char* zone_[2] = {nullptr, nullptr};
  long offset_ = 0;
  int daylight_ = 0;
};

ZoneCache& ThreadZoneCache() {
  thread_local ZoneCache cache;
  return cache;
}

bool LocalTimeFields(EntryTime t, LocalFields& out) {
  if (t == kNoTime) return false;
  return ThreadZoneCache().Fields(t, out);
}

// "00" to "99".
constexpr auto kTwoDigits = [] {
  std::array<char, 200> digits{};
  for (int i = 0; i < 100; ++i) {
    digits[2 * i] = static_cast<char>('0' + i / 10);
    digits[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return digits;
}();

// Two digits of a value from 0 to 99.
char* PutTwoDigits(char* p, std::int64_t value) {
  std::memcpy(p, &kTwoDigits[static_cast<std::size_t>(value) * 2], 2);
  return p + 2;
}

// "%04d/%02d/%02d", and with `withTime` " %02d:%02d:%02d", into `out`.
std::size_t PutDateText(const LocalFields& f, bool withTime, char* out) {
  if (f.year < 0 || f.year > 9999) {
    // Only the C library's path gives such years; printed as it always was.
    const int year = static_cast<int>(f.year);
    if (withTime) {
      return static_cast<std::size_t>(std::snprintf(out, kDateTextCapacity, "%04d/%02d/%02d %02d:%02d:%02d", year,
                                                    f.month, f.day, f.hour, f.minute, f.second));
    }
    return static_cast<std::size_t>(std::snprintf(out, kDateTextCapacity, "%04d/%02d/%02d", year, f.month, f.day));
  }
  char* p = PutTwoDigits(out, f.year / 100);
  p = PutTwoDigits(p, f.year % 100);
  *p++ = '/';
  p = PutTwoDigits(p, f.month);
  *p++ = '/';
  p = PutTwoDigits(p, f.day);
  if (withTime) {
    *p++ = ' ';
    p = PutTwoDigits(p, f.hour);
    *p++ = ':';
    p = PutTwoDigits(p, f.minute);
    *p++ = ':';
    p = PutTwoDigits(p, f.second);
  }
  *p = '\0';
  return static_cast<std::size_t>(p - out);
}
}  // namespace

void SetFolderTypeName(std::string name) { FolderTypeName() = std::move(name); }

std::string FormatSizeText(std::uint64_t value, bool withBytes) {
  std::uint64_t kb = (value > 0 && value < 1024) ? 1 : value / 1024;
  std::string text = std::to_string(kb) + " KB";
  // The byte count is printed in full: a 32-bit field would show sizes of
  // 2 GiB and more as negative numbers.
  if (withBytes) text += " (" + std::to_string(value) + " Bytes)";
  return text;
}

std::string StatusText(std::uint32_t status) {
  switch (status) {
    case kStatusExcellent:
      return "Excellent";
    case kStatusGood:
      return "Good";
    case kStatusPoor:
      return "Poor";
    default:
      return "Existing";
  }
}

EntryTime LocalFieldsToEntryTime(std::tm fields) {
  fields.tm_isdst = -1;
  // Months outside the year are carried over by the library; days, hours,
  // minutes and seconds past their ranges add up the same way in the
  // arithmetic of CivilSeconds.
  auto small = [](int v) { return v >= 0 && v <= 10000; };
  if (fields.tm_mon >= 0 && fields.tm_mon <= 11 && small(fields.tm_mday) && small(fields.tm_hour) &&
      small(fields.tm_min) && small(fields.tm_sec) && fields.tm_year > -2000 && fields.tm_year < 9000) {
    std::int64_t utc = 0;
    if (ThreadZoneCache().ToUtc(CivilSeconds(fields), utc)) return utc == -1 ? kNoTime : utc;
  }
  const std::time_t t = std::mktime(&fields);
  return t == static_cast<std::time_t>(-1) ? kNoTime : static_cast<EntryTime>(t);
}

std::size_t FormatDateTimeTo(EntryTime t, char* out) {
  LocalFields f;
  if (!LocalTimeFields(t, f)) {
    out[0] = '\0';
    return 0;
  }
  return PutDateText(f, true, out);
}

std::size_t FormatDateTo(EntryTime t, char* out) {
  LocalFields f;
  if (!LocalTimeFields(t, f)) {
    out[0] = '\0';
    return 0;
  }
  return PutDateText(f, false, out);
}

std::string FormatDateTime(EntryTime t) {
  char buf[kDateTextCapacity];
  return std::string(buf, FormatDateTimeTo(t, buf));
}

std::string FormatDate(EntryTime t) {
  char buf[kDateTextCapacity];
  return std::string(buf, FormatDateTo(t, buf));
}

std::string TypeTextFromName(const std::string& name) {
  auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

std::string CDirEntry::GetLocation(const CDirectory* stop) const {
  std::string text;
  for (const CDirectory* f = parent; f != nullptr && f != stop; f = f->parent) {
    if (f->volume != nullptr && f->volume->GetRoot() == f) {
      text.insert(0, f->volume->RootPath());
    } else {
      text.insert(0, f->name + "\\");
    }
  }
  return text;
}

std::string CDirEntry::GetSizeText(bool withBytes) {
  if (IsFolder()) return {};
  return FormatSizeText(GetSize(), withBytes);
}

std::string CDirEntry::GetSizeOnDiskText(bool withBytes) {
  if (IsFolder()) return {};
  return FormatSizeText(GetSizeOnDisk(), withBytes);
}

std::string CDirEntry::GetStatusText() {
  if (!analysed) Analyse();
  return StatusText(status);
}

std::string CDirEntry::GetTypeText() const { return IsFolder() ? FolderTypeName() : typeText; }

std::string CDirEntry::GetCreatedText() const { return FormatDateTime(created); }

std::string CDirEntry::GetModifiedText() const { return FormatDateTime(modified); }

std::string CDirEntry::GetAccessedText() const {
  char buf[kDateTextCapacity];
  return std::string(buf, GetAccessedTextTo(buf));
}

std::size_t CDirEntry::GetAccessedTextTo(char* out) const {
  if (volume != nullptr && volume->KeepsAccessTimeOfDay()) return FormatDateTimeTo(accessed, out);
  return FormatDateTo(accessed, out);
}

CDirEntry* CDirectory::Append(std::unique_ptr<CDirEntry> child) {
  child->parent = this;
  children.push_back(std::move(child));
  return children.back().get();
}

void CDirectory::ClearChildren() {
  // Children go one at a time, each slot cleared as its entry goes.
  for (auto& child : children) child.reset();
  children.clear();
}


}  // namespace relictor
