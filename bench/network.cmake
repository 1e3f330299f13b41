# Network service figures in a simulated device: GET latencies and the cost of
# one POST /network/lan. Needs root; run with
#   cmake --build BUILD --target network_bench
add_custom_target(network_bench
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/network_bench.sh ${CMAKE_BINARY_DIR}
  DEPENDS pallad uci pallactl loadgen
  USES_TERMINAL)
