# The host's share: SMB write throughput against smbclient, and the frame rates a remote
# arrival recording keeps up with. Needs smbd and smbclient.
quillon_add_benchmark(bench_smb
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/smb/SmbBench.cpp
    LIBS quillon_engine
    OWN_MAIN)
target_include_directories(bench_smb PRIVATE ${CMAKE_CURRENT_LIST_DIR}/pipeline ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(bench_smb PRIVATE QUILLON_BUILD_DIR="${CMAKE_BINARY_DIR}")
