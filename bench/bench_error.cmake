# The event-log benchmark compares against raw SQLite inserts.
target_link_libraries(bench_error PRIVATE SQLite::SQLite3)
