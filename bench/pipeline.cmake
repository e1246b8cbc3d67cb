# The frame handler's work per frame, and the frame rate the whole program keeps up with.
quillon_add_benchmark(bench_pipeline
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/pipeline/PipelineBench.cpp
    LIBS quillon_core quillon_camera)
quillon_add_benchmark(bench_frame_rate
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/pipeline/FrameRateBench.cpp
    LIBS quillon_window
    OWN_MAIN)
quillon_add_benchmark(bench_recording_rate
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/pipeline/RecordingRateBench.cpp
    LIBS quillon_engine
    OWN_MAIN)
target_compile_definitions(bench_recording_rate PRIVATE QUILLON_BUILD_DIR="${CMAKE_BINARY_DIR}")
