# Reply texts: the escaping every stored or driver text goes through.
pallad_benchmark(escape_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/escape_bench.cpp LIBS pallad_core)
