# The terminal program once more, with a publisher key of the tests' own made
# by minisign when the build is configured (no password, build tree only), so
# that the tests can run a signed release through the real program. Sets
# test_key_dir in the caller's scope.
function(vorn_add_signed_cli)
  find_program(MINISIGN minisign REQUIRED)
  set(key_dir ${CMAKE_CURRENT_BINARY_DIR}/release-key)
  if(NOT EXISTS ${key_dir}/key.pub)
    file(MAKE_DIRECTORY ${key_dir})
    execute_process(COMMAND ${MINISIGN} -G -W -f -p ${key_dir}/key.pub -s ${key_dir}/key.sec
                    OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(STRINGS ${key_dir}/key.pub key REGEX "^RW")
  # Its own ReleaseKey.cpp takes the place of the library's.
  add_executable(vorndownload-cli-signed ${PROJECT_SOURCE_DIR}/src/cli/main.cpp
                 ${PROJECT_SOURCE_DIR}/src/worker/ReleaseKey.cpp)
  target_link_libraries(vorndownload-cli-signed PRIVATE vorn_cli vorn_worker vorn_version)
  target_compile_definitions(vorndownload-cli-signed PRIVATE VORN_RELEASE_KEY_DEFAULT="${key}")
  set(test_key_dir ${key_dir} PARENT_SCOPE)
endfunction()
