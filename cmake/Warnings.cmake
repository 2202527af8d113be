# Warnings that every target of the project builds with; PRGDIS_WERROR turns
# them into errors (the CI presets do).
option(PRGDIS_WERROR "Treat compiler warnings as errors" OFF)

function(prgdis_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
    # fopen and getenv are standard C++; MSVC's "use fopen_s" advice is not.
    target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
    if(PRGDIS_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
      -Wold-style-cast -Wnon-virtual-dtor -Wformat=2)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      # g++ 12 reports -Wrestrict inside std::string's own code when string
      # concatenations are inlined (seen with mingw-w64 at -O2); not ours.
      target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
    if(PRGDIS_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()
