# PRGDIS_SANITIZE builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; any finding aborts the program, so a test that
# triggers one fails.
option(PRGDIS_SANITIZE "Build with ASan and UBSan" OFF)

if(PRGDIS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# PRGDIS_FUZZ (clang only) instruments everything for libFuzzer and builds the
# fuzz targets under fuzz/.
option(PRGDIS_FUZZ "Build the libFuzzer targets (clang)" OFF)

if(PRGDIS_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
