# Warning and sanitizer settings, applied through an interface target so that
# only our own targets get them.
add_library(korvane_flags INTERFACE)
target_compile_options(korvane_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Wunused -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough
  -Wformat=2 -Wmissing-declarations)
if(KORVANE_WERROR)
  target_compile_options(korvane_flags INTERFACE -Werror)
endif()
if(KORVANE_SANITIZE)
  target_compile_options(korvane_flags INTERFACE -fsanitize=${KORVANE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(korvane_flags INTERFACE -fsanitize=${KORVANE_SANITIZE})
endif()
