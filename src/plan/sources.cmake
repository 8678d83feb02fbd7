# Sources of src/plan (paths relative to src/).
target_sources(installer_core PRIVATE
)
target_sources(installer_core PRIVATE
    plan/relations.cpp
)
target_sources(installer_core PRIVATE
    plan/admission.cpp
    plan/resolution.cpp
    plan/actions.cpp
)
target_sources(installer_core PRIVATE
    plan/driver.cpp
)
