# Recording throughput: AVI against plain write(), Windows Media encoding rate.
quillon_add_benchmark(bench_recording
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/recording/RecordingBenchmark.cpp
    LIBS quillon_recording)
set_target_properties(bench_recording PROPERTIES AUTOMOC OFF)
