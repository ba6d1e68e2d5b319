#include "doc/catalogue_probe.h"

#include <string_view>
#include <vector>

#include "plist/value.h"
#include "settings/plist_file_settings.h"

namespace brtconfig {
namespace {

// Far above any list the tool takes; stops the probe should validation take every length.
constexpr size_t kListProbeLimit = 1024;

}  // namespace

bool Accepts(const Setting& setting, const SettingValue& value) {
  return PListFileSettings::isValidValueForSetting(&value, setting.key);
}

bool HasType(const Setting& setting, const char* type) {
  return std::string_view(setting.valueType) == type;
}

int32_t LargestAccepted(const Setting& setting) {
  int32_t largest = setting.maxValue;
  if (largest > setting.minValue && !Accepts(setting, std::to_string(largest))) --largest;
  return largest;
}

size_t ShortestAcceptedList(const Setting& setting, const char* element) {
  // An empty list never reaches validation: the command line makes a list of two or more
  // values, and the reader of files of settings refuses an empty one.
  plist::Array list{plist::Value(element)};
  while (list.size() < kListProbeLimit && !Accepts(setting, plist::Value(list))) {
    list.emplace_back(element);
  }
  return list.size();
}

size_t LongestAcceptedList(const Setting& setting, const char* element) {
  plist::Array list;
  while (list.size() < kListProbeLimit) {
    list.emplace_back(element);
    if (!Accepts(setting, plist::Value(list))) return list.size() - 1;
  }
  return list.size();
}

std::string DecimalRangePattern(uint32_t low, uint32_t high) {
  // Blocks of numbers that share all digits but the last k: the widest block that starts
  // at `low`, then the following blocks of that width whose one varying fixed digit
  // climbs, as one character class.
  std::vector<std::string> alternatives;
  uint64_t from = low, to = high;
  if (from == 0) {
    alternatives.push_back("0");
    from = 1;
  }
  while (from <= to) {
    uint64_t width = 1;
    int k = 0;
    while (from % (width * 10) == 0 && from + width * 10 - 1 <= to) {
      width *= 10;
      ++k;
    }
    const std::string fixed = std::to_string(from / width);
    const int first = fixed.back() - '0';
    int last = first;
    while (last < 9 && from + static_cast<uint64_t>(last - first + 2) * width - 1 <= to) ++last;
    std::string pattern = fixed.substr(0, fixed.size() - 1);
    pattern += last == first ? std::string(1, fixed.back())
                             : "[" + std::to_string(first) + "-" + std::to_string(last) + "]";
    if (k == 1) pattern += "[0-9]";
    if (k > 1) pattern += "[0-9]{" + std::to_string(k) + "}";
    alternatives.push_back(pattern);
    from += static_cast<uint64_t>(last - first + 1) * width;
  }
  std::string out = "0*(?:";
  for (size_t i = 0; i < alternatives.size(); ++i) {
    if (i > 0) out += '|';
    out += alternatives[i];
  }
  return out + ")";
}

}  // namespace brtconfig
