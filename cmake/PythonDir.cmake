# The default of ZAV_PYTHON_DIR (python/CMakeLists.txt), the folder under the prefix that
# cmake --install puts the Python package in: the first folder of packages on Debian's python3's
# module path under the prefix's lib/, so that the installed package is found with no
# PYTHONPATH. /usr gives lib/python3/dist-packages (Debian's own packages); /usr/local gives
# lib/python3.N/dist-packages (N the interpreter's minor version: Debian's python3 does not read
# /usr/local/lib/python3/dist-packages). A prefix that python3 does not read, or no python3, gives
# lib/python3/dist-packages, which PYTHONPATH then names.
set(ZAV_PYTHON_DIR_DEFAULT lib/python3/dist-packages)
if(EXISTS /usr/bin/python3 AND IS_ABSOLUTE "${CMAKE_INSTALL_PREFIX}")
    execute_process(
        COMMAND /usr/bin/python3 -I -c [[
import os, sys
prefix = os.path.normpath(sys.argv[1])
for entry in filter(os.path.isabs, sys.path):
    relative = os.path.relpath(entry, prefix)
    if relative.startswith("lib/") and relative.endswith(("/dist-packages", "/site-packages")):
        print(relative)
        break
]] "${CMAKE_INSTALL_PREFIX}"
        OUTPUT_VARIABLE zav_found_python_dir OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE zav_python_result)
    if(zav_python_result EQUAL 0 AND zav_found_python_dir)
        set(ZAV_PYTHON_DIR_DEFAULT ${zav_found_python_dir})
    endif()
endif()
set(zav_python_dir_help
    "Folder of the Python package under the prefix (by default where Debian's python3 reads packages under the prefix)")
# A tree configured before kept the earlier default, lib/python3/dist-packages, with its
# description: it takes this default (which differs only where python3 would not find it).
get_property(zav_help CACHE ZAV_PYTHON_DIR PROPERTY HELPSTRING)
if(zav_help STREQUAL "Folder of the Python package under the prefix (Debian's python3 reads /usr/lib/python3/dist-packages)"
   AND ZAV_PYTHON_DIR STREQUAL "lib/python3/dist-packages")
    set_property(CACHE ZAV_PYTHON_DIR PROPERTY VALUE ${ZAV_PYTHON_DIR_DEFAULT})
    set_property(CACHE ZAV_PYTHON_DIR PROPERTY HELPSTRING ${zav_python_dir_help})
endif()
set(ZAV_PYTHON_DIR ${ZAV_PYTHON_DIR_DEFAULT} CACHE STRING ${zav_python_dir_help})
