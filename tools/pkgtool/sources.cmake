# Sources of tools/pkgtool (paths relative to tools/).
target_sources(pkgtool PRIVATE
    pkgtool/main.cpp
)
