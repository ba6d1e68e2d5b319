// The text of an XML property list before it is parsed: its encoding found from a
// byte-order mark and the XML declaration, and converted to UTF-8 where it is not that
// already. Private to the plist library.
#ifndef BRTCONFIG_PLIST_XML_TEXT_H_
#define BRTCONFIG_PLIST_XML_TEXT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plist/error.h"

namespace plist {

// XML white space: space, tab, LF and CR, told apart by a table of every byte.
inline bool IsXmlSpace(char c) {
  static constexpr std::array<bool, 256> kSpaces = [] {
    std::array<bool, 256> spaces{};
    spaces[' '] = spaces['\t'] = spaces['\n'] = spaces['\r'] = true;
    return spaces;
  }();
  return kSpaces[static_cast<unsigned char>(c)];
}

// Whether `a` equals `lower`, which is in lower case, ignoring the case of ASCII letters.
bool EqualsIgnoringCase(std::string_view a, std::string_view lower);

// Turns the input into UTF-8 text: drops a byte-order mark, converts UTF-16 and
// ISO-8859-1, and validates ASCII (UTF-8 is left to the parser). Sets `*doc` (which may point into
// `*converted`) and `*start`, the offset past the XML declaration. On failure returns
// false with `*error` filled; offsets count bytes of the converted text.
bool DecodeXmlText(std::string_view bytes, std::string* converted, std::string_view* doc,
                   size_t* start, Error* error);

}  // namespace plist

#endif  // BRTCONFIG_PLIST_XML_TEXT_H_
