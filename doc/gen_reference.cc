// gen_reference: prints the parts of the manual page and of the shell completions that
// come from the catalogue of settings. The build runs it and pastes its output into
// brtconfig.1.in and the completion templates, so the documentation is made from the
// very table the tool uses and cannot fall behind it.
//
//   gen_reference man-global     roff paragraphs for the global settings
//   gen_reference man-teacher    roff paragraphs for the teacher-specific settings
//   gen_reference keys           every setting name, separated by blanks
//   gen_reference boolean-keys   the names of the true/false settings, separated by blanks
//   gen_reference zsh-settings   one quoted 'name:hint' element per line, for a zsh array

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "doc/catalogue_probe.h"
#include "plist/value.h"
#include "settings/plist_file_settings.h"
#include "settings/setting.h"

namespace brtconfig {
namespace {

// Roff text for a hint: one sentence (or blank-separated phrase) per source line, as
// man-pages(7) asks, with backslashes escaped and a leading control character disarmed.
std::string RoffText(std::string_view text) {
  std::string out;
  bool lineStart = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' && (lineStart || (i + 1 < text.size() && text[i + 1] == ' '))) {
      // A run of blanks ends the line; the blanks themselves are dropped.
      while (i + 1 < text.size() && text[i + 1] == ' ') ++i;
      if (!lineStart) out += '\n';
      lineStart = true;
      continue;
    }
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    out += c == '\\' ? std::string("\\e") : std::string(1, c);
    lineStart = false;
  }
  return out;
}

// The sentence that says what a change of the setting takes.
std::string ValueKind(const Setting& setting) {
  if (HasType(setting, kBoolType)) return "Boolean:\n.B true\nor\n.BR false .";
  if (HasType(setting, kIntType)) {
    return "Integer from " + std::to_string(setting.minValue) + " to " +
           std::to_string(LargestAccepted(setting)) + ".";
  }
  if (HasType(setting, kStringType)) return "Text; any value that is not empty is stored as given.";
  if (std::string_view(setting.key) == "subnets") {
    return "One IPv4 address in dotted-decimal form, or a list of up to " +
           std::to_string(LongestAcceptedList(setting, "10.0.0.1")) +
           "; a shorter list is filled up with\n.BR 0.0.0.0 .";
  }
  return "One channel number, or a list of up to " +
         std::to_string(LongestAcceptedList(setting, "1")) + ", each from " +
         std::to_string(setting.minValue) + " to " + std::to_string(setting.maxValue) + ".";
}

std::string ManSettings(SettingType settingType) {
  std::string out;
  for (const Setting& setting : PListFileSettings::allSettings()) {
    if (setting.settingType != settingType) continue;
    out += ".TP\n.B " + std::string(setting.key) + "\n" + ValueKind(setting) + "\n";
    if (setting.appliesToStudents) out += "Also written to the student settings file.\n";
    out += ".br\nHint:\n" + RoffText(setting.hint) + "\n";
  }
  return out;
}

std::string Keys(bool booleansOnly) {
  std::string out;
  for (const Setting& setting : PListFileSettings::allSettings()) {
    if (booleansOnly && !HasType(setting, kBoolType)) continue;
    if (!out.empty()) out += ' ';
    out += setting.key;
  }
  return out + "\n";
}

// Elements for zsh's _describe: the name, a colon and the hint, single-quoted.
std::string ZshSettings() {
  std::string out;
  for (const Setting& setting : PListFileSettings::allSettings()) {
    std::string item = std::string(setting.key) + ":" + setting.hint;
    out += "  '";
    for (char c : item) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    out += "'\n";
  }
  return out;
}

}  // namespace
}  // namespace brtconfig

int main(int argc, char** argv) {
  const std::string_view mode = argc == 2 ? argv[1] : "";
  std::string out;
  if (mode == "man-global") {
    out = brtconfig::ManSettings(brtconfig::GlobalSetting);
  } else if (mode == "man-teacher") {
    out = brtconfig::ManSettings(brtconfig::UserSetting);
  } else if (mode == "keys") {
    out = brtconfig::Keys(false);
  } else if (mode == "boolean-keys") {
    out = brtconfig::Keys(true);
  } else if (mode == "zsh-settings") {
    out = brtconfig::ZshSettings();
  } else {
    std::fputs("usage: gen_reference man-global|man-teacher|keys|boolean-keys|zsh-settings\n",
               stderr);
    return 1;
  }
  std::fputs(out.c_str(), stdout);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
