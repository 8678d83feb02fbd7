# Unit test sources of tests/package (paths relative to tests/).
target_sources(unit_tests PRIVATE
    package/description_test.cpp
    package/inflate_stream_test.cpp
    package/install_test.cpp
    package/package_format_test.cpp
    package/package_reader_test.cpp
)
set_source_files_properties(package/install_test.cpp
    PROPERTIES COMPILE_DEFINITIONS "INSTALLER_KEYS_DIR=\"${PROJECT_SOURCE_DIR}/keys\"")
