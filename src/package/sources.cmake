# Sources of src/package (paths relative to src/).
target_sources(installer_core PRIVATE
    package/inflate_stream.cpp
    package/package_format.cpp
    package/package_reader.cpp
)
target_sources(installer_core PRIVATE
    package/install.cpp
)
