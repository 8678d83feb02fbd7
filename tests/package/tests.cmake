# Unit test sources of tests/package (paths relative to tests/).
target_sources(unit_tests PRIVATE
    package/inflate_stream_test.cpp
    package/install_test.cpp
    package/package_format_test.cpp
    package/package_reader_test.cpp
)
