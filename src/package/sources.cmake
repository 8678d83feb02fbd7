# Sources of src/package (paths relative to src/): the package file format and its streams.
target_sources(installer_core PRIVATE
    package/inflate_stream.cpp
    package/package_format.cpp
    package/package_reader.cpp
)
