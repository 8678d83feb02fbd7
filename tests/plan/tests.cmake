# Unit test sources of tests/plan (paths relative to tests/).
target_sources(unit_tests PRIVATE
)
target_sources(unit_tests PRIVATE
    plan/relations_test.cpp
)
target_sources(unit_tests PRIVATE
    plan/admission_test.cpp
)
target_sources(unit_tests PRIVATE
    plan/plain_resolution.cpp
    plan/resolution_test.cpp
    plan/actions_test.cpp
)
target_sources(unit_tests PRIVATE
    plan/driver_test.cpp
)
set_source_files_properties(plan/driver_test.cpp
    PROPERTIES COMPILE_DEFINITIONS "INSTALLER_KEYS_DIR=\"${PROJECT_SOURCE_DIR}/keys\"")
