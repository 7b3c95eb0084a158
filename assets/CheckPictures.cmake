# Checks the rendered artwork against the picture table of CMakeLists.txt: every listed
# picture has an SVG of the listed size and a PNG of the same size, and no SVG is left
# out of the table (it would never reach Image/).
# Run with -DIMAGE_DIR=... -DSOURCE_DIR=... -DPICTURES=name:w:h,name:w:h,...
cmake_minimum_required(VERSION 3.25)

string(REPLACE "," ";" _pictures "${PICTURES}")
set(_errors "")
set(_listed "")

function(hex_to_int hex out)
    math(EXPR _value "0x${hex}")
    set(${out} ${_value} PARENT_SCOPE)
endfunction()

foreach(_entry IN LISTS _pictures)
    string(REPLACE ":" ";" _fields "${_entry}")
    list(GET _fields 0 _name)
    list(GET _fields 1 _width)
    list(GET _fields 2 _height)
    list(APPEND _listed "${_name}.svg")

    set(_svg "${SOURCE_DIR}/${_name}.svg")
    if(NOT EXISTS "${_svg}")
        string(APPEND _errors "  ${_name}.svg: missing\n")
    else()
        file(READ "${_svg}" _text LIMIT 400)
        if(NOT _text MATCHES "<svg[^>]* width=\"${_width}\" height=\"${_height}\" viewBox=\"0 0 ${_width} ${_height}\"")
            string(APPEND _errors "  ${_name}.svg: root is not ${_width} x ${_height}\n")
        endif()
    endif()

    set(_png "${IMAGE_DIR}/${_name}.png")
    if(NOT EXISTS "${_png}")
        string(APPEND _errors "  ${_name}.png: missing in ${IMAGE_DIR}\n")
        continue()
    endif()
    # PNG signature, then the IHDR chunk whose data starts with big-endian width and height.
    file(READ "${_png}" _head LIMIT 24 HEX)
    string(SUBSTRING "${_head}" 0 16 _signature)
    string(SUBSTRING "${_head}" 24 8 _chunk)
    if(NOT _signature STREQUAL "89504e470d0a1a0a" OR NOT _chunk STREQUAL "49484452")
        string(APPEND _errors "  ${_name}.png: not a PNG file\n")
        continue()
    endif()
    string(SUBSTRING "${_head}" 32 8 _w)
    string(SUBSTRING "${_head}" 40 8 _h)
    hex_to_int(${_w} _pngWidth)
    hex_to_int(${_h} _pngHeight)
    if(NOT _pngWidth EQUAL _width OR NOT _pngHeight EQUAL _height)
        string(APPEND _errors
            "  ${_name}.png: ${_pngWidth} x ${_pngHeight}, expected ${_width} x ${_height}\n")
    endif()
endforeach()

file(GLOB _sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.svg")
foreach(_svg IN LISTS _sources)
    if(NOT _svg IN_LIST _listed)
        string(APPEND _errors "  ${_svg}: not in the picture table, so never rendered\n")
    endif()
endforeach()

if(_errors)
    message(FATAL_ERROR "Artwork does not match the picture table:\n${_errors}")
endif()
list(LENGTH _pictures _count)
message(STATUS "${_count} pictures checked")
