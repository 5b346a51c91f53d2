# Sourced by scripts/test.sh. The whole test suite built with AddressSanitizer
# and UndefinedBehaviorSanitizer, and the tests with threads in them (the
# probe, whole runs on the test platform and of the real program) built with
# ThreadSanitizer. Any report fails the step. The tests labelled desktop run
# on an X server under Xvfb, started here and ended again.

sanitizer_tests() {
  local asan_dir=$TOP/build-asan tsan_dir=$TOP/build-tsan rc=0
  # The runtimes come with g++ (libasan, libubsan, libtsan).
  apt_install "${BASE_PACKAGES[@]}" xvfb || return 1

  log "AddressSanitizer + UndefinedBehaviorSanitizer: all tests"
  build_project "$asan_dir" -DCMAKE_BUILD_TYPE=Debug -DTREVANQUILL_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
    "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" || return 1
  log "ThreadSanitizer build"
  build_project "$tsan_dir" -DCMAKE_BUILD_TYPE=Debug -DTREVANQUILL_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread" \
    "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread" || return 1

  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  run_ctest "$asan_dir" -j "$JOBS" -LE desktop || rc=1
  log "ThreadSanitizer: the probe and whole runs on the test platform"
  run_ctest "$tsan_dir" -j "$JOBS" -LE desktop \
    -R 'Probe|Program|EveryStage|WritesFailFrom|StatusReport' || rc=1

  log "the desktop tests, and the real program, under the sanitizers"
  if start_xvfb -noreset; then
    DISPLAY=$XVFB_DISPLAY run_ctest "$asan_dir" -L desktop || rc=1
    # Left out under ThreadSanitizer: when the X server goes away in the
    # middle of a request, Xlib unlocks its display lock a second time
    # (XQueryPointer after the IO error handler returned), which it reports.
    DISPLAY=$XVFB_DISPLAY run_ctest "$tsan_dir" -L desktop -R 'Program' \
      -E 'ProgramWhenTheDisplayGoes' || rc=1
    stop_xvfb
  else
    rc=1
  fi
  unset ASAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS
  return $rc
}

sanitizer_tests
