# Run by cpack after the program tree is installed into its staging folder, before the .deb is made:
# adds what lives outside /opt/kestrel and the folders the program writes to.
if(NOT CPACK_TEMPORARY_INSTALL_DIRECTORY)
    message(FATAL_ERROR "StagePackage.cmake runs only inside cpack")
endif()
set(_root ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
set(_prefix ${_root}${CPACK_PACKAGING_INSTALL_PREFIX})
if(NOT EXISTS ${_prefix}/bin/kestrel)
    message(FATAL_ERROR "No program in the staging tree ${_prefix}")
endif()

# cpack stripped the programs; the compiler's and linker's version notes (.comment) go as well,
# as Debian's own packaging does.
find_program(_objcopy objcopy REQUIRED)
foreach(_program kestrel quillet)
    execute_process(COMMAND ${_objcopy} --remove-section=.comment ${_prefix}/bin/${_program} RESULT_VARIABLE _result)
    if(NOT _result EQUAL 0)
        message(FATAL_ERROR "objcopy on bin/${_program} failed: ${_result}")
    endif()
endforeach()

# Settings, run log, saved report pictures and the test data: the package makes them group dialout,
# mode 2775 (postinst, through dpkg-statoverride), so they are created here empty.
foreach(_dir Config Log Temp Data)
    file(MAKE_DIRECTORY ${_prefix}/${_dir})
endforeach()

# file(INSTALL) would add cpack's DESTDIR a second time; these are plain copies into the staging tree.
function(stage_file source folder)
    if(ARGC GREATER 2)
        set(_name ${ARGV2})
    else()
        get_filename_component(_name ${source} NAME)
    endif()
    if(NOT EXISTS ${source})
        message(FATAL_ERROR "${source} is missing (not built?)")
    endif()
    file(MAKE_DIRECTORY ${folder})
    file(COPY_FILE ${source} ${folder}/${_name})
    file(CHMOD ${folder}/${_name} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

set(_share ${_root}/usr/share)
stage_file(${CPACK_KESTREL_PACKAGING_DIR}/kestrel.desktop ${_share}/applications)
stage_file(${CPACK_KESTREL_GENERATED_DIR}/${CPACK_KESTREL_APPSTREAM_ID}.metainfo.xml ${_share}/metainfo)
stage_file(${CPACK_KESTREL_ICON_SVG} ${_share}/icons/hicolor/scalable/apps)
foreach(_size 48 128 256)
    stage_file(${CPACK_KESTREL_ICON_DIR}/${_size}x${_size}/apps/kestrel.png ${_share}/icons/hicolor/${_size}x${_size}/apps)
endforeach()

set(_doc ${_share}/doc/kestrel)
stage_file(${CPACK_KESTREL_PACKAGING_DIR}/copyright ${_doc})
stage_file(${CPACK_KESTREL_PACKAGING_DIR}/changelog ${_doc})
# -n: no name or time stamp in the header, so the same changelog gives the same bytes.
execute_process(COMMAND gzip -9nf ${_doc}/changelog RESULT_VARIABLE _gzip)
if(NOT _gzip EQUAL 0)
    message(FATAL_ERROR "gzip of the changelog failed: ${_gzip}")
endif()
stage_file(${CPACK_KESTREL_PACKAGING_DIR}/lintian-overrides ${_share}/lintian/overrides kestrel)

# Whatever the umask of the build, the package holds 0755 folders and 0644 files (bin/ keeps 0755).
file(GLOB_RECURSE _dirs LIST_DIRECTORIES true ${_root}/*)
foreach(_path IN LISTS _dirs)
    if(IS_DIRECTORY ${_path})
        file(CHMOD ${_path} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
            GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
endforeach()
