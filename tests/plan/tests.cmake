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
