# Uplink probe figures in a simulated device: GET /uplink latencies against a
# silent link, a flood of foreign frames and real peers. Needs root; run with
#   cmake --build BUILD --target uplink_bench
add_custom_target(uplink_bench
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/uplink_bench.sh ${CMAKE_BINARY_DIR}
  DEPENDS pallad uci pallactl loadgen
  USES_TERMINAL)
