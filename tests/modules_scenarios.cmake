# The module manager's scenarios: stand-in console modules built in variants and signed with
# this tree's throw-away test key, and the scenario tests that drop them into a loader's
# modules folder. Windows tier only.
if(KS_WINDOWS)
  # name            type    tag (what it logs)   definitions
  set(fake_variants
    "wing_good|wing|good|"
    "wing_newer|wing|newer|"
    "wing_wrong_type|x32|wrong-type|"
    "wing_no_export|wing|no-export|FAKE_NO_EXPORT"
    "wing_null_table|wing|null-table|FAKE_NULL_TABLE"
    "wing_stop_false|wing|stop-false|FAKE_STOP_FALSE"
    "wing_slow_stop|wing|slow-stop|FAKE_SLOW_STOP"
    "wing_slow_start|wing|slow-start|FAKE_SLOW_START"
    "wing_dllmain_fails|wing|dllmain-fails|FAKE_DLLMAIN_FAILS"
    "x32_good|x32|x32-good|"
    "x32_slow_stop|x32|x32-slow-stop|FAKE_SLOW_STOP")
  set(fake_targets "")
  foreach(v ${fake_variants})
    string(REPLACE "|" ";" parts "${v}")
    list(GET parts 0 name)
    list(GET parts 1 type)
    list(GET parts 2 tag)
    list(GET parts 3 defs)
    set(target fake_module_${name})
    add_library(${target} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/modules_fake_module.cpp)
    target_link_libraries(${target} PRIVATE ks_shared)
    target_compile_definitions(${target} PRIVATE FAKE_TYPE="${type}" FAKE_TAG="${tag}" ${defs})
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${target}
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fake_modules
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fake_modules)
    ks_sign_file(${target} $<TARGET_FILE:${target}>)
    list(APPEND fake_targets ${target})
  endforeach()

  # Bytes that are no module at all, signed: the signature holds, the load must fail.
  set(not_pe ${CMAKE_CURRENT_BINARY_DIR}/fake_modules/not_a_pe.dll)
  file(WRITE ${not_pe} "this is a text file, not a Windows module\n")
  add_custom_command(OUTPUT ${not_pe}.sig
    COMMAND openssl pkeyutl -sign -rawin -inkey ${KS_TEST_SIGNING_KEY} -in ${not_pe} -out ${not_pe}.sig
    DEPENDS ${not_pe} VERBATIM)
  add_custom_target(fake_module_not_a_pe DEPENDS ${not_pe}.sig)
  list(APPEND fake_targets fake_module_not_a_pe)

  file(GLOB module_scenarios CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/modules_*_test.cpp)
  foreach(t ${module_scenarios})
    get_filename_component(stem ${t} NAME_WE)
    ks_test(${stem} WINDOWS_ONLY SOURCES ${t} LIBS lv1_scenario ks_shared LOCK loader-block TIMEOUT 600)
    target_compile_definitions(${stem} PRIVATE KS_FAKE_MODULES="${CMAKE_CURRENT_BINARY_DIR}/fake_modules")
    add_dependencies(${stem} ${fake_targets})
  endforeach()
endif()
