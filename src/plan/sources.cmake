# Sources of src/plan (paths relative to src/).
target_sources(installer_core PRIVATE
    plan/relations.cpp
    plan/admission.cpp
    plan/resolution.cpp
    plan/actions.cpp
    plan/unpack.cpp
    plan/driver.cpp
)
