# End-to-end scenarios with the console modules: the LV1 stand-in, the real Kestrune.dll, a
# signed console module in the loader's modules folder and a desk simulator on loopback. The
# same run, printed, is the demo (kestrune-demo.exe, started by tools/demo.sh). Windows tier only.
# The runs need the loader's module manager (without it no module ever loads) and Brannock.
if(KS_WINDOWS AND EXISTS ${PROJECT_SOURCE_DIR}/loader/win/module_manager.cpp AND TARGET Brannock)
  # Brannock as the loader's modules folder holds it: named <type>-<version>.dll, signed.
  set(e2e_modules ${CMAKE_CURRENT_BINARY_DIR}/e2e_modules)
  set(x32_module ${e2e_modules}/Brannock.dll)
  add_custom_command(OUTPUT ${x32_module} ${x32_module}.sig
    COMMAND ${CMAKE_COMMAND} -E make_directory ${e2e_modules}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Brannock> ${x32_module}
    COMMAND openssl pkeyutl -sign -rawin -inkey ${KS_TEST_SIGNING_KEY} -in ${x32_module} -out ${x32_module}.sig
    DEPENDS Brannock VERBATIM)
  add_custom_target(e2e_signed_modules DEPENDS ${x32_module} ${x32_module}.sig)

  add_library(e2e_desk_run STATIC ${CMAKE_CURRENT_SOURCE_DIR}/e2e/desk_run.cpp)
  target_link_libraries(e2e_desk_run PUBLIC lv1_scenario ks_sim_x32 ks_shared)
  target_compile_definitions(e2e_desk_run PRIVATE KS_E2E_X32_MODULE="${x32_module}" KS_E2E_VERSION="${PROJECT_VERSION}")
  add_dependencies(e2e_desk_run e2e_signed_modules)

  # The desk listens on the X32's fixed port and the loader's kernel objects have fixed names.
  ks_test(e2e_x32_test WINDOWS_ONLY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e_x32_test.cpp LIBS e2e_desk_run
    LOCK loader-block udp10023 TIMEOUT 600)

  add_executable(kestrune-demo ${CMAKE_CURRENT_SOURCE_DIR}/e2e/demo_main.cpp)
  target_link_libraries(kestrune-demo PRIVATE e2e_desk_run)
endif()
