# Build rules shared by every binary of the project.
#
# Numeric code is IEEE double as written: SSE2 arithmetic, so that no x87
# extended precision leaks into results.
#
# Linking: every DLL and program is linked with -static. With the posix
# toolchain, -static-libgcc -static-libstdc++ alone still leaves an import of
# libwinpthread-1.dll, and a DLL that imports it fails to load (error 127) on a
# machine or Wine prefix without that file. Linked fully static, each binary
# imports only system DLLs (kernel32, msvcrt, ole32, oleaut32, user32) and the
# host DLLs, so it loads on a bare prefix and nothing from the toolchain has
# to be shipped beside it. Every binary then has its own copy of the C++
# runtime; no C++ object, exception or allocation crosses a DLL boundary, so
# the copies never meet. The C runtime (msvcrt.dll) stays shared, which keeps
# setjmp/longjmp and the FILE streams common to all modules.

set(CORVEX_COMPILE_OPTIONS -msse2 -mfpmath=sse -Wall -Wextra -Wno-unused-parameter)
set(CORVEX_LINK_OPTIONS -static -static-libgcc -static-libstdc++)

function(corvex_defaults target)
  target_compile_options(${target} PRIVATE ${CORVEX_COMPILE_OPTIONS})
  target_link_options(${target} PRIVATE ${CORVEX_LINK_OPTIONS})
endfunction()

# corvex_add_dll(name DEF file SOURCES ... [LIBS ...] [OUTPUT name])
# A DLL with undecorated C exports taken from its .def file; no "lib" prefix
# is added, so libka gives libka.dll and the import library libka.dll.a.
function(corvex_add_dll name)
  cmake_parse_arguments(A "" "DEF;OUTPUT" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES} ${A_DEF})
  set_target_properties(${name} PROPERTIES PREFIX "" IMPORT_PREFIX "")
  if(A_OUTPUT)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${A_OUTPUT})
  endif()
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  corvex_defaults(${name})
endfunction()

function(corvex_add_exe name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  corvex_defaults(${name})
endfunction()

set(CORVEX_TEST_ENV
  "WINEPREFIX=${CORVEX_WINEPREFIX}"
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree,mshtml="
  "GTEST_COLOR=no")

# corvex_add_gtest(name SOURCES ... [LIBS ...])
# One GoogleTest program, registered as one CTest test: each start of Wine
# costs seconds, so cases are grouped per program, not per test.
function(corvex_add_gtest name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  corvex_add_exe(${name} SOURCES ${A_SOURCES} LIBS ${A_LIBS} gtest gtest_main hosttest)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${CORVEX_TEST_ENV}" TIMEOUT ${A_TIMEOUT})
endfunction()
