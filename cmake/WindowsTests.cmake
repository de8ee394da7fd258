# The Windows build's tests, run under Wine (CMAKE_CROSSCOMPILING_EMULATOR).
if(VORN_BUILD_TESTS)
  enable_testing()
  find_package(GTest CONFIG REQUIRED)
  include(GoogleTest)
  set(tests ${PROJECT_SOURCE_DIR}/tests)

  # Run by ctest through CMAKE_CROSSCOMPILING_EMULATOR (Wine), one test a case.
  add_executable(test_portable ${tests}/worker/test_basename.cpp ${tests}/worker/test_segment_plan.cpp)
  target_link_libraries(test_portable PRIVATE vorn_worker GTest::gtest GTest::gtest_main)
  gtest_discover_tests(test_portable DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

  add_executable(test_files ${tests}/platform/test_files.cpp ${tests}/platform/test_proxy.cpp)
  target_link_libraries(test_files PRIVATE vorn_platform GTest::gtest GTest::gtest_main)
  gtest_discover_tests(test_files DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

  # The engine's own suites, shared with Linux. The Linux programs they start
  # (python3 and the test servers, openssl, minisign, zip, 7zz, jar) are started
  # for them by the helper that runs each test under Wine.
  add_library(vorn_testsupport STATIC ${tests}/support/TestSupport.cpp ${tests}/support/TestSupportWin32.cpp)
  target_include_directories(vorn_testsupport PUBLIC ${PROJECT_SOURCE_DIR}/src ${tests})
  target_link_libraries(vorn_testsupport PUBLIC vorn_worker GTest::gtest GTest::gtest_main ws2_32)
  target_compile_definitions(vorn_testsupport PUBLIC VORN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                                     VORN_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # GCC 12 at -O3 warns of overlapping copies inside std::string's own
  # concatenation (GCC bug 105329), which the tests' messages are made of.
  target_compile_options(vorn_testsupport PUBLIC -Wno-restrict)
  find_program(VORN_PYTHON3 python3 REQUIRED)
  function(vorn_wine_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE vorn_testsupport)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
      "${VORN_PYTHON3};${tests}/support/wine-test-helper.py;${CMAKE_CROSSCOMPILING_EMULATOR}")
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
  endfunction()
  vorn_wine_test(test_worker ${tests}/worker/test_download.cpp ${tests}/worker/test_unpack.cpp
                 ${tests}/worker/test_arriving_unpack.cpp
                 ${tests}/worker/test_run.cpp ${tests}/worker/test_progress_model.cpp
                 ${tests}/worker/test_release_signature.cpp ${tests}/worker/test_signed_release.cpp
                 ${tests}/worker/test_connection_ramp.cpp ${tests}/worker/test_segment_plan.cpp)
  vorn_wine_test(test_platform ${tests}/platform/test_threading.cpp ${tests}/platform/test_ftp.cpp)
  vorn_wine_test(test_unzip ${tests}/unzip/test_unzipper.cpp)
  target_link_libraries(test_unzip PRIVATE libzip::zip vorn_static_codecs)

  add_executable(bench_unzip ${tests}/unzip/bench_unzip.cpp)
  add_executable(system_proxy_probe ${tests}/platform/system_proxy_probe.cpp)
  target_link_libraries(system_proxy_probe PRIVATE vorn_platform)
  target_link_libraries(bench_unzip PRIVATE vorn_unzip)
  add_executable(bench_hash ${tests}/worker/bench_hash.cpp)
  target_link_libraries(bench_hash PRIVATE vorn_worker)

  add_executable(cross_smoke ${tests}/platform/cross_smoke.cpp)
  target_link_libraries(cross_smoke PRIVATE CURL::libcurl libzip::zip vorn_static_codecs)
  add_test(NAME windows.cross_smoke
    COMMAND bash ${tests}/platform/windows-cross-smoke ${CMAKE_CROSSCOMPILING_EMULATOR}
            $<TARGET_FILE:cross_smoke> ${PROJECT_SOURCE_DIR}/scripts/ftpserver.py ${VORN_WINDOWS_DEPS})
  set_tests_properties(windows.cross_smoke PROPERTIES TIMEOUT 300)

  if(TARGET vorndownload-cli)
    add_executable(hold_file ${tests}/win32/hold_file.cpp)
    target_link_options(hold_file PRIVATE -municode)
    add_test(NAME windows.cli_job
      COMMAND bash ${tests}/cli/windows-cli-job ${CMAKE_CROSSCOMPILING_EMULATOR}
              $<TARGET_FILE:vorndownload-cli> ${PROJECT_SOURCE_DIR}/scripts/ftpserver.py $<TARGET_FILE:hold_file>)
    set_tests_properties(windows.cli_job PROPERTIES TIMEOUT 300)
    add_test(NAME windows.proxy_job
      COMMAND bash ${tests}/cli/windows-proxy-job ${CMAKE_CROSSCOMPILING_EMULATOR}
              $<TARGET_FILE:vorndownload-cli> ${PROJECT_SOURCE_DIR}/scripts/ftpserver.py
              $<TARGET_FILE:system_proxy_probe>)
    # It shares "C:\VORN Download\" of the one test prefix too.
    set_tests_properties(windows.proxy_job PROPERTIES TIMEOUT 300 RESOURCE_LOCK vorn_download_folder)

    include(${PROJECT_SOURCE_DIR}/cmake/SignedTestProgram.cmake)
    vorn_add_signed_cli()
    add_test(NAME windows.cli_signed_job
      COMMAND bash ${tests}/cli/windows-cli-signed-job ${CMAKE_CROSSCOMPILING_EMULATOR}
              $<TARGET_FILE:vorndownload-cli-signed> $<TARGET_FILE:vorn-release>
              ${PROJECT_SOURCE_DIR}/scripts/ftpserver.py ${test_key_dir})
    # "C:\VORN Download\" is one folder for the jobs that use it.
    set_tests_properties(windows.cli_signed_job PROPERTIES TIMEOUT 300 RESOURCE_LOCK vorn_download_folder)

    # The terminal program once more, with TLS required; with no authority of
    # its own (the test checks), the Windows store is all it trusts.
    add_executable(vorndownload-cli-tls ${PROJECT_SOURCE_DIR}/src/cli/main.cpp
                   ${PROJECT_SOURCE_DIR}/src/worker/FtpSettings.cpp)
    target_link_libraries(vorndownload-cli-tls PRIVATE vorn_cli vorn_worker vorn_version)
    get_target_property(tls_settings vorn_worker COMPILE_DEFINITIONS)
    list(FILTER tls_settings EXCLUDE REGEX "^VORN_FTP_TLS_DEFAULT=")
    target_compile_definitions(vorndownload-cli-tls PRIVATE ${tls_settings} VORN_FTP_TLS_DEFAULT="require")
    add_executable(trust_root ${tests}/win32/trust_root.cpp)
    target_link_options(trust_root PRIVATE -municode)
    target_link_libraries(trust_root PRIVATE crypt32)
    add_test(NAME windows.store_trust_job
      COMMAND bash ${tests}/cli/windows-store-trust-job ${CMAKE_CROSSCOMPILING_EMULATOR}
              $<TARGET_FILE:vorndownload-cli-tls> ${PROJECT_SOURCE_DIR}/scripts/ftpserver.py
              $<TARGET_FILE:trust_root>)
    set_tests_properties(windows.store_trust_job PROPERTIES TIMEOUT 300 RESOURCE_LOCK vorn_download_folder)
  endif()
  include(${tests}/win32/CMakeLists.txt)

  # The customers' zip, signed with a throwaway certificate and verified.
  if(TARGET vorndownload-cli AND TARGET VORNdownload)
    add_test(NAME windows.signed_zip
      COMMAND bash ${tests}/platform/windows-signed-zip ${PROJECT_SOURCE_DIR}/scripts/windows-zip
              $<TARGET_FILE:VORNdownload> $<TARGET_FILE:vorndownload-cli>)
    set_tests_properties(windows.signed_zip PROPERTIES TIMEOUT 120)
  endif()

  if(TARGET vorn_win32)
    # Windows need a display: scripts/windows-test gives the run one.
    # With the program's resources: the main dialog is shown from its template.
    add_executable(test_win32_controls ${tests}/win32/test_win32_controls.cpp ${PROJECT_SOURCE_DIR}/src/win32/VORNdownload.rc)
    target_compile_definitions(test_win32_controls PRIVATE VORN_VERSION_NUMBERS=${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK})
    target_include_directories(test_win32_controls PRIVATE ${PROJECT_SOURCE_DIR}/src/win32 ${PROJECT_SOURCE_DIR}/res/win32)
    target_link_libraries(test_win32_controls PRIVATE vorn_win32 vorn_version GTest::gtest GTest::gtest_main)
    # One main window at a time on the tests' Windows desktop: the window job's
    # probe finds the program's by its caption, and only the active one has the focus.
    gtest_discover_tests(test_win32_controls DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 300 RESOURCE_LOCK vorn_main_window)
  endif()

  # Nothing beside the .exe is needed: no libstdc++, libgcc or winpthread DLL.
  find_program(VORN_MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
  set(shipped $<TARGET_FILE:cross_smoke> $<TARGET_FILE:test_portable> $<TARGET_FILE:test_files>
              $<TARGET_FILE:test_worker>)
  foreach(program vorndownload-cli VORNdownload vorn-release)
    if(TARGET ${program})
      list(APPEND shipped $<TARGET_FILE:${program}>)
    endif()
  endforeach()
  add_test(NAME windows.imports COMMAND bash ${tests}/platform/windows-imports ${VORN_MINGW_OBJDUMP} ${shipped})

  # The programs handed out carry no path of this machine that they would open.
  find_program(VORN_MINGW_STRINGS x86_64-w64-mingw32-strings REQUIRED)
  set(handed_out "")
  foreach(program vorndownload-cli VORNdownload)
    if(TARGET ${program})
      list(APPEND handed_out $<TARGET_FILE:${program}>)
    endif()
  endforeach()
  add_test(NAME windows.build_paths
    COMMAND bash ${tests}/platform/windows-build-paths ${VORN_MINGW_STRINGS}
            ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${VORN_WINDOWS_DEPS} "$ENV{HOME}" "${VORN_FTP_CA}" -- ${handed_out})
endif()
