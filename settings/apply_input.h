// Reading a file of settings to apply in one run: a property list (XML or binary) whose
// top level is a dictionary, or a JSON object, mapping setting keys to their values.
// Bytes in, entries out: nothing here knows the catalogue or touches files.
#ifndef BRTCONFIG_SETTINGS_APPLY_INPUT_H_
#define BRTCONFIG_SETTINGS_APPLY_INPUT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brtconfig {

// One setting to change: its key and its values as they would be typed on the command
// line after the key (one text for a single value, several for a list).
struct ApplyEntry {
  std::string key;
  std::vector<std::string> texts;
  bool operator==(const ApplyEntry& other) const {
    return key == other.key && texts == other.texts;
  }
};

// An entry whose value cannot be a setting's value, and why, such as "the list is empty".
struct InvalidApplyEntry {
  std::string key;
  std::string reason;
};

// Why an input was refused: either a fault of the whole input (`message` set), or one or
// more invalid entries (`message` empty, `invalidEntries` in the file's order).
struct ApplyInputError {
  // A short English phrase, such as "not valid JSON: ..." or
  // "the key \"a\" appears twice in one object".
  std::string message;
  // The byte offset in the input where the fault was found, when known. For an XML
  // property list in UTF-16 or ISO-8859-1 it counts bytes of the text converted to UTF-8,
  // as the property-list reader's offsets do.
  std::optional<size_t> offset;
  std::vector<InvalidApplyEntry> invalidEntries;
};

enum class ApplyInputFormat { kXmlPlist, kBinaryPlist, kJson };

// JSON containers nest at most this deep; the meaningful shapes need three levels.
constexpr size_t kMaxApplyJsonDepth = 16;
// A JSON object, or the top dictionary of a property list, holds at most this many
// members: far more than there are settings, few enough that keeping them costs little.
constexpr size_t kMaxApplyMembers = 1024;

// Parses `bytes`, which a property list keeps while it is read (pass them moved). The input is a property list when it starts with "bplist0" (binary), or
// with a UTF-16 or UTF-32 byte-order mark or a NUL byte in its first two, or when its first
// byte after an optional UTF-8 byte-order mark and white space is '<' (XML); anything else
// is read as JSON. Inputs above plist::kMaxInputBytes are refused unread.
//
// Each member of the top-level dictionary or object gives one entry, in the file's order:
// a string, number or boolean gives one text (integers in decimal, reals as the shortest
// text that reads back the same, booleans as "true" / "false"); a list of those gives one
// text per element; a dictionary or object stands for its "value" member (its other
// members are ignored). A null, or a dictionary or object without a "value" member (or
// with a null one), gives no entry. Anything else is an invalid entry: an empty list, a
// list holding anything but a string, number or boolean, a list of more than
// kMaxListValues values (counted before it is kept), a "value" member that is a
// dictionary or object, a date, data or UID value.
//
// A JSON object, at any depth, may not repeat a key nor hold more than kMaxApplyMembers
// members (nor may a property list's top dictionary); a property list's dictionary keeps
// the last of repeated keys, as the property-list reader does.
//
// On success fills `*entries` and returns true. On failure returns false and fills
// `*error` (when not null); when only some entries are invalid, `*entries` still receives
// the valid ones, so that a caller can check those too and report every fault at once;
// after a fault of the whole input it is left unchanged. `*format` (when not null) receives the
// format the input was read as, also on failure.
bool ParseApplyInput(std::string_view bytes, std::vector<ApplyEntry>* entries,
                     ApplyInputError* error, ApplyInputFormat* format = nullptr);

}  // namespace brtconfig

#endif  // BRTCONFIG_SETTINGS_APPLY_INPUT_H_
