# PRGDIS_SANITIZE builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; any finding aborts the program, so a test that
# triggers one fails.
option(PRGDIS_SANITIZE "Build with ASan and UBSan" OFF)

if(PRGDIS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
