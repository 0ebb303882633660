# The tray program's services against the real system under Wine. Windows tier only.
if(KS_WINDOWS)
  # The stand-in "eMotion LV1.exe" goes where LV1 is installed in the test prefix.
  ks_test(tray_lv1_process_test WINDOWS_ONLY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tray_lv1_process_test.cpp
    LIBS ks_tray_services ks_sim_lv1proc LOCK lv1-install)
  target_compile_definitions(tray_lv1_process_test PRIVATE KS_LV1_STANDIN="$<TARGET_FILE:emotion_lv1_standin>")
  add_dependencies(tray_lv1_process_test emotion_lv1_standin)
endif()
if(TARGET e2e_desk_run)
  # The tray side in this process, LV1's stand-in with the real loader and module in another.
  ks_test(tray_status_e2e_test WINDOWS_ONLY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tray_status_e2e_test.cpp
    LIBS e2e_desk_run ks_tray_services LOCK loader-block udp-2222 wing-desk-loopback status-block TIMEOUT 900)
  # The diagnostics report gathered from that running system.
  ks_test(tray_diagnostics_e2e_test WINDOWS_ONLY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tray_diagnostics_e2e_test.cpp
    LIBS e2e_desk_run ks_tray_services ks_tray_services_testsupport
    LOCK loader-block udp-2222 wing-desk-loopback status-block TIMEOUT 900)
  # The bridge pages' clicks served by the running module, seen at the desk.
  ks_test(bridge_pages_e2e_test WINDOWS_ONLY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bridge_pages_e2e_test.cpp
    LIBS e2e_desk_run ks_tray_ui LOCK loader-block udp-2222 wing-desk-loopback status-block TIMEOUT 900)
endif()

# A kestrune_profiles.cfg signed with this tree's profiles key, made at configure time.
set(profiles_dir ${CMAKE_BINARY_DIR}/fixtures)
set(profiles_body "# extra LV1 builds\nv17.4 0x8F0000 0x8F054B 0x118 0 0\n")
file(WRITE ${profiles_dir}/profiles.body "${profiles_body}")
execute_process(COMMAND openssl pkeyutl -sign -rawin -inkey ${KS_TEST_PROFILES_KEY} -in ${profiles_dir}/profiles.body
  -out ${profiles_dir}/profiles.sig RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "openssl could not sign the profiles fixture")
endif()
execute_process(COMMAND openssl base64 -A -in ${profiles_dir}/profiles.sig OUTPUT_VARIABLE profiles_b64
  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "openssl could not encode the profiles fixture's signature")
endif()
file(WRITE ${profiles_dir}/kestrune_profiles.cfg "${profiles_body}# sig ed25519 test ${profiles_b64}\n")
ks_test(tray_profiles_signed_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tray_profiles_signed_test.cpp
  LIBS ks_tray_services ks_tray_services_testsupport ks_sim_lv1proc)
target_compile_definitions(tray_profiles_signed_test PRIVATE KS_PROFILES_FIXTURE="${profiles_dir}/kestrune_profiles.cfg")
