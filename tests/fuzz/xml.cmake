pallad_fuzz_target(fuzz_xml SOURCES fuzz_xml.cpp LIBS pallad_xml)
