# Camera benchmarks: the demosaic against OpenCV's, and the simulated camera's frame rate and
# processor cost. OpenCV is only the yardstick here; the product does not link it.
find_package(OpenCV QUIET COMPONENTS core imgproc)
if(OpenCV_FOUND)
    set(_quillon_opencv_libs opencv_core opencv_imgproc)
else()
    # Debian puts OpenCVConfig.cmake only into the full libopencv-dev; libopencv-imgproc-dev
    # (with libopencv-core-dev) has the headers and libraries we need.
    find_path(QUILLON_OPENCV_INCLUDE_DIR opencv2/imgproc.hpp PATH_SUFFIXES opencv4)
    find_library(QUILLON_OPENCV_CORE_LIB opencv_core)
    find_library(QUILLON_OPENCV_IMGPROC_LIB opencv_imgproc)
    if(QUILLON_OPENCV_INCLUDE_DIR AND QUILLON_OPENCV_CORE_LIB AND QUILLON_OPENCV_IMGPROC_LIB)
        add_library(quillon_bench_opencv INTERFACE IMPORTED)
        set_target_properties(quillon_bench_opencv PROPERTIES
            INTERFACE_INCLUDE_DIRECTORIES "${QUILLON_OPENCV_INCLUDE_DIR}"
            INTERFACE_LINK_LIBRARIES "${QUILLON_OPENCV_IMGPROC_LIB};${QUILLON_OPENCV_CORE_LIB}")
        set(_quillon_opencv_libs quillon_bench_opencv)
    endif()
endif()

quillon_add_benchmark(bench_camera_demosaic
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/camera/DemosaicBench.cpp
    LIBS quillon_camera ${_quillon_opencv_libs})
if(_quillon_opencv_libs)
    target_compile_definitions(bench_camera_demosaic PRIVATE QUILLON_BENCH_OPENCV=1)
else()
    message(STATUS "OpenCV imgproc not found: bench_camera_demosaic runs without the comparison")
endif()

quillon_add_benchmark(bench_camera_sim
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/camera/SimCameraBench.cpp
    LIBS quillon_camera)

# Needs Aravis's fake GigE Vision camera program (package aravis-tools), which it starts itself.
quillon_add_benchmark(bench_camera_aravis
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/camera/AravisCameraBench.cpp
    LIBS quillon_camera)
target_include_directories(bench_camera_aravis PRIVATE ${CMAKE_SOURCE_DIR}/tests)
