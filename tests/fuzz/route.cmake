pallad_fuzz_target(fuzz_route SOURCES fuzz_route.cpp LIBS pallad_core)
