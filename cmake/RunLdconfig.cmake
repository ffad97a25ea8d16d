# Run by cmake --install after the library is installed into zav_installed_libdir: when that is a
# folder the dynamic linker searches and the install is the system's own (as root, no DESTDIR),
# ldconfig makes the library's soname link and puts it into the cache, so that programs find
# libzavimage.so.1 at once. An install staged under DESTDIR leaves that to the package's own
# scripts; an install elsewhere needs none.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
    return()
endif()
execute_process(COMMAND id -u OUTPUT_VARIABLE zav_user OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE zav_result ERROR_QUIET)
if(NOT zav_result EQUAL 0 OR NOT zav_user STREQUAL "0")
    return()
endif()
find_program(zav_ldconfig ldconfig PATHS /usr/sbin /sbin NO_CACHE)
if(NOT zav_ldconfig)
    return()
endif()
# The folders ldconfig searches: each line of its listing that is not indented names one
# ("/usr/local/lib: (from /etc/ld.so.conf.d/libc.conf:2)"). Compared by their real paths, as
# ldconfig lists each folder once (/lib, not /usr/lib as well, where /lib links to usr/lib).
execute_process(COMMAND ${zav_ldconfig} -N -X -v OUTPUT_VARIABLE zav_listing ERROR_QUIET
                RESULT_VARIABLE zav_result)
if(NOT zav_result EQUAL 0)
    return()
endif()
file(REAL_PATH "${zav_installed_libdir}" zav_libdir_real)
string(REGEX MATCHALL "\n/[^:\n]*:" zav_searched_folders "\n${zav_listing}")
foreach(folder IN LISTS zav_searched_folders)
    string(REGEX REPLACE "^\n(.*):$" "\\1" folder "${folder}")
    file(REAL_PATH "${folder}" folder)
    if(folder STREQUAL zav_libdir_real)
        message(STATUS "Running: ${zav_ldconfig} (${zav_installed_libdir} is searched)")
        execute_process(COMMAND ${zav_ldconfig} RESULT_VARIABLE zav_result)
        if(NOT zav_result EQUAL 0)
            message(WARNING "ldconfig failed (${zav_result}): run it to find libzavimage.so.1")
        endif()
        return()
    endif()
endforeach()
