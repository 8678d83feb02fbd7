# Sources of tools/pkglib (paths relative to tools/).
target_sources(pkglib PRIVATE
    pkglib/placeholder.cpp
)
