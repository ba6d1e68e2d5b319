// Where a writer's bytes go.
#ifndef BRTCONFIG_PLIST_BYTE_SINK_H_
#define BRTCONFIG_PLIST_BYTE_SINK_H_

#include <functional>
#include <string_view>

namespace plist {

// Receives a serialised property list a piece at a time, in order; answers false when it
// cannot take a piece, which stops the writer.
using ByteSink = std::function<bool(std::string_view bytes)>;

}  // namespace plist

#endif  // BRTCONFIG_PLIST_BYTE_SINK_H_
