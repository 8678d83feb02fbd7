# Unit test sources of tests/plan (paths relative to tests/).
target_sources(unit_tests PRIVATE
    plan/actions_test.cpp
    plan/admission_test.cpp
    plan/driver_test.cpp
    plan/plain_resolution.cpp
    plan/relations_test.cpp
    plan/resolution_test.cpp
)
