# Sources of tools/pkglib (paths relative to tools/).
target_sources(pkglib PRIVATE
    pkglib/package_writer.cpp
)
target_sources(pkglib PRIVATE
    pkglib/version_parse.cpp
    pkglib/description.cpp
    pkglib/description_build.cpp
)
target_sources(pkglib PRIVATE
    pkglib/signer.cpp
)
target_sources(pkglib PRIVATE
    pkglib/key_set.cpp
)
