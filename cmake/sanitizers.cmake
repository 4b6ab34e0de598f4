# VARNEL_SANITIZE="address;undefined" builds everything with those sanitizers.
if(VARNEL_SANITIZE)
  string(REPLACE ";" "," _varnel_sanitizers "${VARNEL_SANITIZE}")
  add_compile_options(-fsanitize=${_varnel_sanitizers} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${_varnel_sanitizers})
endif()
