# System and VLAN service figures in a simulated device: GET latencies, the
# cost of POST /system/basic, the backup, a VLAN POST and mode switches.
# Needs root; run with
#   cmake --build BUILD --target system_bench
add_custom_target(system_bench
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/system_bench.sh ${CMAKE_BINARY_DIR}
  DEPENDS pallad uci pallactl loadgen
  USES_TERMINAL)
