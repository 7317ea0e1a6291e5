# Boost.Signals2 is the peer the notifier is measured against; it is
# header-only and needed by this benchmark alone.
find_package(Boost REQUIRED)
target_link_libraries(bench_observer PRIVATE Boost::headers)
# The floor loop must make real virtual calls: no guessing the target.
target_compile_options(bench_observer PRIVATE -fno-devirtualize-speculatively)
