pallad_benchmark(xml_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/xml_bench.cpp LIBS pallad_xml)
