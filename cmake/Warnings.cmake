# One interface target carries the project's warning flags; every target links it.
add_library(brt_warnings INTERFACE)
target_compile_options(brt_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough)
if(BRT_WERROR)
  target_compile_options(brt_warnings INTERFACE -Werror)
endif()
