# Sources of src/pdb (paths relative to src/).
target_sources(installer_core PRIVATE
    pdb/database_loader.cpp
    pdb/database_paths.cpp
    pdb/entry_writer.cpp
    pdb/listing.cpp
    pdb/schedule.cpp
    pdb/text_file.cpp
)
