# VARNEL_SANITIZE="address;undefined" builds everything with those sanitizers.
if(VARNEL_SANITIZE)
  string(REPLACE ";" "," _varnel_sanitizers "${VARNEL_SANITIZE}")
  add_compile_options(-fsanitize=${_varnel_sanitizers} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${_varnel_sanitizers})
  # A C program (c_header_test, the demo) that loads the instrumented C++
  # library needs clang's C++ sanitizer runtime as well (the vptr checks
  # of UBSan live there, and it needs the C++ library); clang's C driver
  # leaves both out unless asked.
  if(CMAKE_C_COMPILER_ID MATCHES "Clang")
    add_link_options($<$<LINK_LANGUAGE:C>:-fsanitize-link-c++-runtime> $<$<LINK_LANGUAGE:C>:-lstdc++>)
  endif()
endif()
