# shellcheck shell=bash
# Sourced by the scripts that configure a build. They build in folders of the
# project's own (build/default, build/asan, build/tsan, build/windows); a
# publisher builds in build/publisher and build/publisher-windows (presets
# "publisher" and "publisher-windows"), which no script touches. Their
# configure drops the publisher settings a cache may still hold (host, port,
# password, TLS, authority, key), so the scripts build what the tests expect.
PROJECT_SETTINGS=(-U 'VORN_FTP_*' -U VORN_RELEASE_KEY)

# The named targets of build/default, configured so (a check's or a
# benchmark's programs), with the build's own output kept quiet.
build_default() {
  cmake --preset default "${PROJECT_SETTINGS[@]}" >/dev/null
  nice -n 5 cmake --build --preset default -j2 --target "$@" >/dev/null
}
