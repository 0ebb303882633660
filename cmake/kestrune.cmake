# Build rules shared by every component.
#
# KS_WINDOWS is true in the mingw-w64 build (tests run through Wine), false in the native one
# (tests run on the host, under the sanitizers named by KS_SANITIZE).

set(KS_WINDOWS ${WIN32})
set(KS_SANITIZE "" CACHE STRING "Sanitizers for the native build, e.g. address,undefined")
set(KS_RESULTS_DIR ${CMAKE_BINARY_DIR}/test-results CACHE PATH "Where each test writes its gtest XML")

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(KS_WINDOWS)
  # Every shipped binary imports Windows system DLLs only.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 UNICODE _UNICODE)
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  if(KS_SANITIZE)
    add_compile_options(-fsanitize=${KS_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${KS_SANITIZE})
  endif()
endif()

# KS_FUZZ (clang only, set by tools/fuzz.sh): every fuzz target becomes a libFuzzer binary and
# the code under test gets coverage instrumentation; the tests are not built in such a tree.
option(KS_FUZZ "Build the fuzz targets as libFuzzer binaries (clang)" OFF)
if(KS_FUZZ)
  # clang has no gnu_printf format checks; the g++ builds make them.
  add_compile_options(-fsanitize=fuzzer-no-link -Wno-ignored-attributes)
  add_custom_target(ks_fuzz_all)
endif()

# GoogleTest from Debian's sources, built in each build.
if(NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

enable_testing()
file(MAKE_DIRECTORY ${KS_RESULTS_DIR} ${CMAKE_BINARY_DIR}/tmp)

# ThreadSanitizer runs the pure-computation tests (the crypto cross-checks above all) several
# times slower than the other trees; their limits grow with it so a loaded machine cannot time
# them out.
macro(ks_sanitizer_timeout var)
  if(KS_SANITIZE STREQUAL "thread")
    math(EXPR ${var} "${${var}} * 4")
  endif()
endmacro()

# ks_test(<name> SOURCES <files...> [LIBS <targets...>] [NATIVE_ONLY] [WINDOWS_ONLY]
#         [LOCK <resources...>] [TIMEOUT <seconds>] [NO_GTEST_MAIN])
# One gtest executable registered with ctest. In the Windows build ctest runs it through Wine.
# LOCK names resources (fixed kernel-object names, fixed ports) that tests must not share at once.
function(ks_test name)
  cmake_parse_arguments(T "NATIVE_ONLY;WINDOWS_ONLY;NO_GTEST_MAIN" "TIMEOUT" "SOURCES;LIBS;LOCK" ${ARGN})
  if(T_NATIVE_ONLY AND KS_WINDOWS)
    return()
  endif()
  if(T_WINDOWS_ONLY AND NOT KS_WINDOWS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  if(T_NO_GTEST_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gmock)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} ks_test_main)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  ks_sanitizer_timeout(T_TIMEOUT)
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "GTEST_OUTPUT=xml:${KS_RESULTS_DIR}/${name}.xml;KS_TEST_NAME=${name};KS_TEST_TEMP=${CMAKE_BINARY_DIR}/tmp/${name}")
  if(T_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCK}")
  endif()
endfunction()

# ks_fuzz(<name> <source> <corpus folder> <libs...>)
# One fuzz target (a file defining LLVMFuzzerTestOneInput). In the native build it is a test that
# replays every file of its checked-in corpus through the target under the sanitizers, so a fault
# once found stays fixed; with KS_FUZZ it is the libFuzzer binary fuzz_<name>.
function(ks_fuzz name source corpus)
  if(KS_WINDOWS)
    return()
  endif()
  if(KS_FUZZ)
    add_executable(fuzz_${name} ${source})
    target_link_libraries(fuzz_${name} PRIVATE ${ARGN})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
    add_dependencies(ks_fuzz_all fuzz_${name})
    return()
  endif()
  add_executable(${name} ${source} ${PROJECT_SOURCE_DIR}/tests/support/fuzz_replay.cpp)
  target_link_libraries(${name} PRIVATE ${ARGN} gtest)
  add_test(NAME ${name} COMMAND ${name} ${corpus})
  set(timeout 120)
  ks_sanitizer_timeout(timeout)
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${timeout}
    ENVIRONMENT "GTEST_OUTPUT=xml:${KS_RESULTS_DIR}/${name}.xml;KS_TEST_NAME=${name};KS_TEST_TEMP=${CMAKE_BINARY_DIR}/tmp/${name}")
endfunction()

# ks_component(<folder> [DEPS <targets...>] [SYSTEM_LIBS_WINDOWS <libs...>] [SYSTEM_LIBS_POSIX <libs...>])
#
# The one build rule of a component folder, so that adding a file never means editing CMake:
#   <folder>/*.cpp|*.c|*.S         portable code                      -> library ks_<name>
#   <folder>/win/*.cpp|*.c|*.S     Windows build only                 -> into ks_<name>
#   <folder>/posix/*.cpp|*.c       native build only                  -> into ks_<name>
#   <folder>/tests/support/*.cpp   fakes and fixtures for its tests   -> library ks_<name>_testsupport
#   <folder>/tests/*_test.cpp      one test executable per file, both tiers
#   <folder>/tests/win/*_test.cpp  Windows tier only; tests/native/*_test.cpp native tier only
#   <folder>/tests/fuzz/*_fuzz.cpp one fuzz target per file, its corpus in tests/fuzz/corpus/<stem>/
#                                  (native tier: a replay test; tools/fuzz.sh: libFuzzer)
# <name> is the folder with "/" turned into "_" (desk/wing -> ks_desk_wing). Includes are written
# from the repository root ("os/thread.h"). A test file may carry one line of tags:
#   // ks-test: lock=<resource>[,<resource>] timeout=<seconds>
# Binaries (DLLs, programs) are added by the folder's own CMakeLists.txt after this call.
function(ks_component folder)
  cmake_parse_arguments(C "" "" "DEPS;SYSTEM_LIBS_WINDOWS;SYSTEM_LIBS_POSIX;TEST_DEPS" ${ARGN})
  string(REPLACE "/" "_" name "${folder}")
  set(dir ${PROJECT_SOURCE_DIR}/${folder})
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c ${dir}/*.S)
  if(KS_WINDOWS)
    file(GLOB plat CONFIGURE_DEPENDS ${dir}/win/*.cpp ${dir}/win/*.c ${dir}/win/*.S)
    set(syslibs ${C_SYSTEM_LIBS_WINDOWS})
  else()
    file(GLOB plat CONFIGURE_DEPENDS ${dir}/posix/*.cpp ${dir}/posix/*.c)
    set(syslibs ${C_SYSTEM_LIBS_POSIX})
  endif()
  list(APPEND srcs ${plat})
  if(srcs)
    add_library(ks_${name} STATIC ${srcs})
    target_include_directories(ks_${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(ks_${name} PUBLIC ${C_DEPS} ${syslibs})
  else()
    add_library(ks_${name} INTERFACE)
    target_include_directories(ks_${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(ks_${name} INTERFACE ${C_DEPS} ${syslibs})
  endif()

  file(GLOB support CONFIGURE_DEPENDS ${dir}/tests/support/*.cpp)
  set(testlibs ks_${name} ${C_TEST_DEPS})
  if(support)
    add_library(ks_${name}_testsupport STATIC ${support})
    target_link_libraries(ks_${name}_testsupport PUBLIC ks_${name} ${C_TEST_DEPS} gtest gmock)
    list(APPEND testlibs ks_${name}_testsupport)
  endif()

  file(GLOB tests CONFIGURE_DEPENDS ${dir}/tests/*_test.cpp)
  if(KS_WINDOWS)
    file(GLOB more CONFIGURE_DEPENDS ${dir}/tests/win/*_test.cpp)
  else()
    file(GLOB more CONFIGURE_DEPENDS ${dir}/tests/native/*_test.cpp)
  endif()
  list(APPEND tests ${more})
  file(GLOB fuzzers CONFIGURE_DEPENDS ${dir}/tests/fuzz/*_fuzz.cpp)
  foreach(f ${fuzzers})
    get_filename_component(stem ${f} NAME_WE)
    ks_fuzz(${name}_${stem} ${f} ${dir}/tests/fuzz/corpus/${stem} ${testlibs})
  endforeach()

  foreach(t ${tests})
    get_filename_component(stem ${t} NAME_WE)
    set(lock "")
    set(timeout "")
    file(STRINGS ${t} tags REGEX "ks-test:")
    foreach(line ${tags})
      if(line MATCHES "lock=([A-Za-z0-9_,.-]+)")
        string(REPLACE "," ";" lock "${CMAKE_MATCH_1}")
      endif()
      if(line MATCHES "timeout=([0-9]+)")
        set(timeout ${CMAKE_MATCH_1})
      endif()
    endforeach()
    set(extra "")
    if(lock)
      list(APPEND extra LOCK ${lock})
    endif()
    if(timeout)
      list(APPEND extra TIMEOUT ${timeout})
    endif()
    ks_test(${name}_${stem} SOURCES ${t} LIBS ${testlibs} ${extra})
  endforeach()
endfunction()
