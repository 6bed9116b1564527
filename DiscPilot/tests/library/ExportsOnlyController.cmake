# Fails when libDiscPilot.so exports anything but the controller class and its members: every defined
# symbol of its dynamic table must belong to CDiscPilot, and the controller's entry points must be there.
# Run as: cmake -DREADELF=<readelf> -DLIBRARY=<libDiscPilot.so> -P ExportsOnlyController.cmake
execute_process(COMMAND ${READELF} --dyn-syms --wide --demangle ${LIBRARY}
                OUTPUT_VARIABLE table RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${READELF} could not read ${LIBRARY}")
endif()

string(REPLACE "\n" ";" lines "${table}")
set(exported 0)
set(strangers "")
foreach(line IN LISTS lines)
    # "Num: Value Size Type Bind Vis Ndx Name": defined symbols have a section index, not UND. Local ones
    # are no exports (the arm64 linker lists the sections' own symbols, .init and .data, as local).
    if(NOT line MATCHES "^ *[0-9]+: +[0-9a-f]+ +[0-9]+ +[A-Z_]+ +([A-Z]+) +[A-Z]+ +([A-Z0-9]+) +(.+)$")
        continue()
    endif()
    set(bind "${CMAKE_MATCH_1}")
    set(section "${CMAKE_MATCH_2}")
    set(name "${CMAKE_MATCH_3}")
    if(section STREQUAL "UND" OR name STREQUAL "" OR bind STREQUAL "LOCAL")
        continue()
    endif()
    if(name MATCHES "^CDiscPilot::" OR name MATCHES "^(typeinfo|typeinfo name|vtable) for CDiscPilot$")
        math(EXPR exported "${exported} + 1")
    else()
        list(APPEND strangers "${name}")
    endif()
endforeach()

if(strangers)
    list(JOIN strangers "\n  " shown)
    message(FATAL_ERROR "libDiscPilot.so exports more than the controller class:\n  ${shown}")
endif()
if(NOT table MATCHES "CDiscPilot::SetDrive\\(unsigned char\\)" OR NOT table MATCHES "CDiscPilot::GetData\\(")
    message(FATAL_ERROR "libDiscPilot.so does not export the controller's entry points")
endif()
message(STATUS "libDiscPilot.so exports ${exported} symbols, all of the controller class")
