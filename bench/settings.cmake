# What the performance log adds to the frame handler's work per frame.
quillon_add_benchmark(bench_performance_log
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings/PerformanceLogBench.cpp
    LIBS quillon_core quillon_camera quillon_settings)
