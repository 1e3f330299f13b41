add_executable(loadgen ${CMAKE_CURRENT_LIST_DIR}/loadgen.cpp)
set_target_properties(loadgen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
