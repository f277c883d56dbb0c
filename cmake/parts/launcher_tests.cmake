# The Linux launcher's own tests: its port choice, ModemManager's answers,
# the COM ports that follow a renumbered module, its display and exit
# codes, on device trees and recorded mmcli output of their own. Plain
# Python: no root, no Wine, no display. The end-to-end path is the Wine
# suite's test_linux_launcher.py.
if(NOT WIN32 AND NOT QUILLON_LIBFUZZER)
  quillon_find_python()
  add_test(NAME linux_launcher_unit
           COMMAND ${QUILLON_PYTHON} -m unittest discover -v -s quillon_linux/tests -t .
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tools)
  set_tests_properties(linux_launcher_unit PROPERTIES ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1" TIMEOUT 120)
endif()
