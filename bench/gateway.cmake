# What the web gateway adds to a store-only GET, in a simulated device.
# Needs root; run with
#   cmake --build BUILD --target gateway_bench
add_executable(gwbench ${CMAKE_CURRENT_LIST_DIR}/gwbench.cpp)
target_link_options(gwbench PRIVATE -static)
set_target_properties(gwbench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
add_custom_target(gateway_bench
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/gateway_bench.sh ${CMAKE_BINARY_DIR}
  DEPENDS pallad uci pallactl loadgen gwbench routegw
  USES_TERMINAL)
