# The headless run's own CPU time beside its fixed pause: `cmake --build B --target run_bench_headless`.
add_executable(headless_cpu ${CMAKE_CURRENT_LIST_DIR}/headless_cpu.cc)
target_compile_definitions(headless_cpu PRIVATE
  ZEPH_INSTALLER_PATH="$<TARGET_FILE:zeph-installer>"
  ZEPH_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(headless_cpu zeph-installer)
add_custom_target(run_bench_headless COMMAND headless_cpu 5 DEPENDS headless_cpu USES_TERMINAL)
