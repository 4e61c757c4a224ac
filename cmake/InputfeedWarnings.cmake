# Warnings are set per target so third-party code built alongside keeps its own.
function(inputfeed_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${INPUTFEED_WERROR}>:/WX>)
  else()
    # C++ only: a Windows resource script in the same target goes to windres.
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:
      -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
      $<$<BOOL:${INPUTFEED_WERROR}>:-Werror>>)
  endif()
endfunction()
