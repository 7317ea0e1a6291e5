# The event-log figures compare against raw SQLite inserts; the raising
# figures need the simulated error-message server in process.
target_link_libraries(bench_error PRIVATE SQLite::SQLite3 kes::tester)
