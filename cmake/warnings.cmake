# Warnings for every target of the project; errors when VARNEL_WERROR is on.
function(varnel_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wcast-qual -Wformat=2 -Wundef
    $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast -Wnon-virtual-dtor>
    $<$<COMPILE_LANGUAGE:C>:-Wstrict-prototypes -Wmissing-prototypes>)
  if(VARNEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
