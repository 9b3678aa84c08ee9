# Project code builds with every common warning, and warnings fail the build.
add_library(quorb_warnings INTERFACE)
if(MSVC)
  target_compile_options(quorb_warnings INTERFACE /W4 /WX)
else()
  target_compile_options(quorb_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
endif()
