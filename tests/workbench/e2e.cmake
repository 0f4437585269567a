# SPDX-License-Identifier: GPL-3.0-or-later
# The workbench against simulated terminals: the test process makes its own
# pair of namespaces, enters the tool side before any window exists, and
# starts fenwa-sim on the other side. Exit code 77 (not root) counts as
# skipped.
add_executable(workbench_e2e_test tst_e2e.cpp)
set_target_properties(workbench_e2e_test PROPERTIES AUTOMOC ON RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(workbench_e2e_test PRIVATE Qt5::Test fenwaapp e2esegment)
target_compile_definitions(workbench_e2e_test PRIVATE
  FENWA_WORKBENCH_PATH="$<TARGET_FILE:fenwa-workbench>")
add_dependencies(workbench_e2e_test fenwa-workbench fenwa-language)
add_test(NAME workbench_e2e_test COMMAND ${FENWA_OWN_HOME} $<TARGET_FILE:workbench_e2e_test>)
# Each case starts the simulator and a window and waits out real searches:
# about 40 s optimised, twice that sanitized.
set_tests_properties(workbench_e2e_test PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${FENWA_GUI_LSAN_OPTIONS}" SKIP_RETURN_CODE 77 TIMEOUT 240
  LABELS "workbench;e2e")
