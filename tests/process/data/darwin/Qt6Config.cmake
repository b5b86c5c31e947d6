# Stands in for Homebrew's Qt: its frameworks lie in the prefix this file is copied to; the code
# generators are this machine's own.
get_filename_component(_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(Qt6Core_VERSION_MAJOR 6)
set(Qt6Core_VERSION_MINOR 6)
foreach(_module Core Gui Widgets Svg)
    add_library(Qt6::${_module} SHARED IMPORTED)
    set_target_properties(Qt6::${_module} PROPERTIES FRAMEWORK TRUE
        IMPORTED_LOCATION "${_prefix}/lib/Qt${_module}.framework/Qt${_module}")
endforeach()
foreach(_tool moc rcc)
    add_executable(Qt6::${_tool} IMPORTED)
    set_target_properties(Qt6::${_tool} PROPERTIES IMPORTED_LOCATION /usr/lib/qt6/libexec/${_tool})
endforeach()
