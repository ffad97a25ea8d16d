# OpenCV's core and imgproc for i386, as Debian's :i386 development packages install them (they
# carry no CMake package of their own). Gives the targets opencv_core and opencv_imgproc.
set(OpenCV_VERSION 4.6.0)
set(OpenCV_INCLUDE_DIRS /usr/include/i386-linux-gnu/opencv4 /usr/include/opencv4)
set(OpenCV_LIBS)
foreach(module core imgproc)
    if(NOT TARGET opencv_${module})
        find_library(ZAV_OPENCV_${module}_LIBRARY opencv_${module}
            PATHS /usr/lib/i386-linux-gnu NO_DEFAULT_PATH)
        if(NOT ZAV_OPENCV_${module}_LIBRARY)
            set(OpenCV_FOUND FALSE)
            set(OpenCV_NOT_FOUND_MESSAGE "libopencv-${module}-dev:i386 is not installed")
            return()
        endif()
        add_library(opencv_${module} SHARED IMPORTED)
        set_target_properties(opencv_${module} PROPERTIES
            IMPORTED_LOCATION ${ZAV_OPENCV_${module}_LIBRARY}
            INTERFACE_INCLUDE_DIRECTORIES "${OpenCV_INCLUDE_DIRS}")
    endif()
    list(APPEND OpenCV_LIBS opencv_${module})
endforeach()
set_property(TARGET opencv_imgproc PROPERTY INTERFACE_LINK_LIBRARIES opencv_core)
set(OpenCV_FOUND TRUE)
