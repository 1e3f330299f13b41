# Auxiliary service figures in a simulated device: GET latencies and the cost
# of each POST. Needs root; run with
#   cmake --build BUILD --target auxiliary_bench
add_custom_target(auxiliary_bench
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/auxiliary_bench.sh ${CMAKE_BINARY_DIR}
  DEPENDS pallad uci pallactl loadgen
  USES_TERMINAL)
