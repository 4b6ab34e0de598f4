# Warnings for every target of the project; errors when VARNEL_WERROR is on.
function(varnel_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wcast-qual -Wformat=2 -Wundef
    $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast -Wnon-virtual-dtor>
    $<$<COMPILE_LANGUAGE:C>:-Wstrict-prototypes -Wmissing-prototypes>)
  # GCC 12 at -O3 (Release) takes std::string's operator+ on a temporary and
  # std::vector's insert and compare, inlined from its own headers, for
  # overlapping or out-of-bounds copies and warns (-Wrestrict, -Warray-bounds,
  # -Wstringop-overread): faults of that compiler, fixed in GCC 13.  The tool
  # and the tests build texts and byte vectors that way throughout; the
  # library (its object libraries, named *_objects) keeps every warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13
     AND NOT target MATCHES "_objects$")
    target_compile_options(${target} PRIVATE
      $<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CONFIG:Release>>:-Wno-restrict;-Wno-array-bounds;-Wno-stringop-overread>)
  endif()
  if(VARNEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
