# Configuration store: the agent's cached read path and one `uci set` run.
pallad_benchmark(uci_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/uci_bench.cpp
  LIBS uci_store)
add_dependencies(uci_bench uci)
target_compile_definitions(uci_bench PRIVATE UCI_PROGRAM="$<TARGET_FILE:uci>")
