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
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "GTEST_OUTPUT=xml:${KS_RESULTS_DIR}/${name}.xml;KS_TEST_NAME=${name};KS_TEST_TEMP=${CMAKE_BINARY_DIR}/tmp/${name}")
  if(T_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCK}")
  endif()
endfunction()
