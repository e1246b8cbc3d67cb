# The shared memory poll: its processor cost and how soon it sees a host's arrival.
quillon_add_benchmark(bench_shmem_poll
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/shmem/PollBench.cpp
    LIBS quillon_shmem
    OWN_MAIN)
