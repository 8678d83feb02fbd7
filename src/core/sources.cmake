# Sources of src/core (paths relative to src/): the Installer, its console and the package
# records, the floor every other folder may include and that includes none of them.
target_sources(installer_core PRIVATE
    core/console.cpp
    core/file_list.cpp
    core/text_arena.cpp
    core/input_file.cpp
    core/installer.cpp
    core/output_file.cpp
    core/package.cpp
    core/posix_file_system.cpp
    core/posix_terminal.cpp
    core/progress.cpp
)
