# Sources of tools/pkgtool (paths relative to tools/).
target_sources(pkgtool PRIVATE
    pkgtool/main.cpp
)
target_sources(pkgtool PRIVATE
    pkgtool/inspect.cpp
)
