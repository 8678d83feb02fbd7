# Unit test sources of tests/plan (paths relative to tests/).
target_sources(unit_tests PRIVATE
    plan/admission_test.cpp
    plan/driver_test.cpp
    plan/plain_resolution.cpp
    plan/relations_test.cpp
    plan/resolution_test.cpp
)
