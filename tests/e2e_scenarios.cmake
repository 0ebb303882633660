# End-to-end scenarios with the console modules: the LV1 stand-in, the real Kestrune.dll, a
# signed console module in the loader's modules folder and a desk simulator on loopback. The
# same run, printed, is the demo (kestrune-demo.exe, started by tools/demo.sh). Windows tier only.
# The runs need the loader's module manager (without it no module ever loads) and both modules.
if(KS_WINDOWS AND EXISTS ${PROJECT_SOURCE_DIR}/loader/win/module_manager.cpp AND TARGET Brannock AND TARGET Fellbrook)
  # Each module signed with this build's test key; the runs copy them into the loader's modules
  # folder under the names it looks for, <type>-<version>.dll.
  set(e2e_modules ${CMAKE_CURRENT_BINARY_DIR}/e2e_modules)
  set(e2e_signed)
  foreach(module Brannock Fellbrook)
    set(out ${e2e_modules}/${module}.dll)
    add_custom_command(OUTPUT ${out} ${out}.sig
      COMMAND ${CMAKE_COMMAND} -E make_directory ${e2e_modules}
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${module}> ${out}
      COMMAND openssl pkeyutl -sign -rawin -inkey ${KS_TEST_SIGNING_KEY} -in ${out} -out ${out}.sig
      DEPENDS ${module} VERBATIM)
    # The same module cut short and signed again: it verifies, then fails to load.
    set(cut ${e2e_modules}/${module}-damaged.dll)
    add_custom_command(OUTPUT ${cut} ${cut}.sig
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${module}> ${cut}
      COMMAND truncate -s 65536 ${cut}
      COMMAND openssl pkeyutl -sign -rawin -inkey ${KS_TEST_SIGNING_KEY} -in ${cut} -out ${cut}.sig
      DEPENDS ${module} VERBATIM)
    list(APPEND e2e_signed ${out} ${out}.sig ${cut} ${cut}.sig)
  endforeach()
  add_custom_target(e2e_signed_modules DEPENDS ${e2e_signed})

  add_library(e2e_desk_run STATIC ${CMAKE_CURRENT_SOURCE_DIR}/e2e/desk_run.cpp ${CMAKE_CURRENT_SOURCE_DIR}/e2e/bundle_files.cpp)
  target_link_libraries(e2e_desk_run PUBLIC lv1_scenario ks_sim_x32 ks_sim_wing ks_shared ks_loader)
  target_compile_definitions(e2e_desk_run PUBLIC KS_E2E_X32_MODULE="${e2e_modules}/Brannock.dll"
    KS_E2E_WING_MODULE="${e2e_modules}/Fellbrook.dll" KS_E2E_VERSION="${PROJECT_VERSION}")
  add_dependencies(e2e_desk_run e2e_signed_modules)

  # The desk listens on the X32's fixed port; the loader's kernel objects and the status block
  # have fixed names.
  ks_test(e2e_x32_test WINDOWS_ONLY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e_x32_test.cpp LIBS e2e_desk_run
    LOCK loader-block udp10023 status-block TIMEOUT 600)
  # The WING's ports and the unsuffixed status block are fixed names too.
  ks_test(e2e_wing_test WINDOWS_ONLY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e_wing_test.cpp LIBS e2e_desk_run
    LOCK loader-block udp-2222 wing-desk-loopback status-block TIMEOUT 900)
  # LV1 storming gain_set while the WING stops reading its socket.
  ks_test(e2e_wing_storm_test WINDOWS_ONLY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e_wing_storm_test.cpp LIBS e2e_desk_run
    LOCK loader-block udp-2222 wing-desk-loopback status-block TIMEOUT 600)

  # The run over a bundle the installer made from an LV1 machine's folder, then its removal; the
  # loader and module come signed from the install tests' copies.
  if(TARGET tray_install_signed)
    ks_test(e2e_install_test WINDOWS_ONLY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/e2e_install_test.cpp
      LIBS e2e_desk_run ks_tray_services ks_tray_services_testsupport ks_sim_lv1machine
      LOCK loader-block udp-2222 wing-desk-loopback status-block lv1-machine lv1-install TIMEOUT 600)
    add_dependencies(e2e_install_test tray_install_signed lv1machine_dlls KestruneExe)
    target_compile_definitions(e2e_install_test PRIVATE KS_E2E_SIGNED="${PROJECT_BINARY_DIR}/tray/services/install_signed"
      KS_E2E_KESTRUNE_EXE="$<TARGET_FILE:KestruneExe>")
  endif()

  add_executable(kestrune-demo ${CMAKE_CURRENT_SOURCE_DIR}/e2e/demo_main.cpp)
  target_link_libraries(kestrune-demo PRIVATE e2e_desk_run)

  # Benchmark, not a test (README.md has its command): WING latency both ways over the real path
  # and the LV1 stand-in's CPU time while connected and idle.
  add_executable(wing_latency_bench ${CMAKE_CURRENT_SOURCE_DIR}/e2e/wing_latency_bench.cpp)
  target_link_libraries(wing_latency_bench PRIVATE e2e_desk_run ks_desk_wing)
endif()
