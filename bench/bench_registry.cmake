# The registry benchmark compares against raw SQLite statements.
target_link_libraries(bench_registry PRIVATE SQLite::SQLite3)
