# inputfeed::warnings: the warnings of our own targets, each of which links it, so that
# third-party code built alongside (GoogleTest in the Windows build) keeps its own.
add_library(inputfeed-warnings INTERFACE)
add_library(inputfeed::warnings ALIAS inputfeed-warnings)
if(MSVC)
  target_compile_options(inputfeed-warnings INTERFACE /W4 $<$<BOOL:${INPUTFEED_WERROR}>:/WX>)
else()
  # C++ only: a Windows resource script in the same target goes to windres.
  target_compile_options(inputfeed-warnings INTERFACE $<$<COMPILE_LANGUAGE:CXX>:
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
    $<$<BOOL:${INPUTFEED_WERROR}>:-Werror>>)
endif()
