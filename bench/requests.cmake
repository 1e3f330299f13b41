# The request benchmark in a simulated device: every GET's latency beside the
# bare round trip, every representative POST's wall time and processes.
# Needs root; run with
#   cmake --build BUILD --target requests_bench
add_custom_target(requests_bench
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/requests ${CMAKE_BINARY_DIR}
  DEPENDS pallad uci pallactl loadgen
  USES_TERMINAL)
