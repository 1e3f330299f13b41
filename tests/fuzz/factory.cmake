pallad_fuzz_target(fuzz_factory SOURCES fuzz_factory.cpp LIBS pallad_core)
