// The text of an XML property list before it is parsed: its encoding found from a
// byte-order mark and the XML declaration, and converted to UTF-8 where it is not that
// already. Private to the plist library.
#ifndef BRTCONFIG_PLIST_XML_TEXT_H_
#define BRTCONFIG_PLIST_XML_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plist/error.h"

namespace plist {

// XML white space: space, tab, LF and CR, told apart with one test of a bit mask.
inline bool IsXmlSpace(char c) {
  constexpr uint64_t kSpaces =
      uint64_t{1} << ' ' | uint64_t{1} << '\t' | uint64_t{1} << '\n' | uint64_t{1} << '\r';
  const auto byte = static_cast<unsigned char>(c);
  return byte <= ' ' && (kSpaces >> byte & 1) != 0;
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
