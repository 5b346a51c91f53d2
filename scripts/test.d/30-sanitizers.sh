# Sourced by scripts/test.sh. The whole test suite built with AddressSanitizer
# and UndefinedBehaviorSanitizer, and the tests with threads in them (the
# probe, whole runs) built with ThreadSanitizer. Any report fails the step.

sanitizer_tests() {
  local asan_dir=$TOP/build-asan tsan_dir=$TOP/build-tsan rc=0
  # The runtimes come with g++ (libasan, libubsan, libtsan).
  apt_install "${BASE_PACKAGES[@]}" || return 1

  log "AddressSanitizer + UndefinedBehaviorSanitizer: all tests"
  build_project "$asan_dir" -DCMAKE_BUILD_TYPE=Debug -DTREVANQUILL_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
    "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" || return 1
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest "$asan_dir" -j "$JOBS" -LE desktop || rc=1

  log "ThreadSanitizer: the probe and whole runs"
  build_project "$tsan_dir" -DCMAKE_BUILD_TYPE=Debug -DTREVANQUILL_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread" \
    "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread" || return 1
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest "$tsan_dir" -j "$JOBS" -LE desktop \
      -R 'Probe|Program|EveryStage|WritesFailFrom|Thread' || rc=1
  return $rc
}

sanitizer_tests
