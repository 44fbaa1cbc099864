# The launcher's two embedded resource bundles: "resources", the reader's
# static assets, and "certificates", the certification authorities.
#
#   ostra_add_bundles(<target>)
#
# compiles both with rcc (format version 1, zlib at its default level and
# threshold) and adds their sources to <target>, "resources" first: the bundles
# register themselves during static initialisation, in link order, and
# unregister in reverse order at exit.
#
# The collection files resources/resources.qrc and certificates/certificates.qrc
# name every file by its path under ":/". The files themselves come from
# OSTRA_DEVICE_ASSETS, a folder with the device's real assets in that tree,
# or, when it is empty, from stand-ins generated into the build folder.

# rcc writes depfiles with absolute paths, which suit the NEW behaviour.
if(POLICY CMP0116)
    cmake_policy(SET CMP0116 NEW)
endif()

find_package(Qt5 REQUIRED COMPONENTS Core)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(OSTRA_DEVICE_ASSETS "" CACHE PATH
    "Folder holding the device's assets in the tree of their :/ paths; empty: build stand-ins")

set(_ostra_bundles_dir ${CMAKE_CURRENT_LIST_DIR})

# rcc output for one bundle: <out>/qrc_<name>.cpp from the collection file
# <manifest>, its files taken from the folder <root>. <ready> is a file that
# exists once <root> is complete.
function(_ostra_compile_bundle name manifest root ready out)
    set(collection ${out}/${name}.qrc)
    add_custom_command(
        OUTPUT ${collection}
        COMMAND ${Python3_EXECUTABLE} ${_ostra_bundles_dir}/resources/locate_assets.py
                --qrc ${manifest} --root ${root} --output ${collection}
        DEPENDS ${manifest} ${ready} ${_ostra_bundles_dir}/resources/locate_assets.py
        COMMENT "Locating the files of the ${name} bundle in ${root}"
        VERBATIM)

    get_target_property(rcc Qt5::rcc IMPORTED_LOCATION)
    set(depfile_arguments)
    set(rcc_depfile)
    if(CMAKE_GENERATOR MATCHES "Ninja" OR NOT CMAKE_VERSION VERSION_LESS 3.20)
        # rcc names every file it read, so a changed asset rebuilds the bundle.
        set(depfile_arguments DEPFILE ${out}/qrc_${name}.d)
        set(rcc_depfile --depfile ${out}/qrc_${name}.d)
    endif()
    add_custom_command(
        OUTPUT ${out}/qrc_${name}.cpp
        COMMAND ${rcc} --name ${name} --format-version 1 --compress-algo zlib ${rcc_depfile}
                --output ${out}/qrc_${name}.cpp ${collection}
        DEPENDS ${collection} ${ready}
        ${depfile_arguments}
        COMMENT "Compiling the ${name} bundle"
        VERBATIM)
endfunction()

# Finds the program <name> of the build machine into the cache variable <variable>,
# or stops with the Debian package that has it and what it is needed for.
function(_ostra_find_build_tool variable name package purpose)
    find_program(${variable} NAMES ${name} NO_CMAKE_FIND_ROOT_PATH)
    if(NOT ${variable})
        message(FATAL_ERROR "${name} not found: ${purpose} need it (Debian package ${package})")
    endif()
endfunction()

# Generates the stand-in assets, or points at the device's, and defines the
# target ostra_bundles that brings both bundles' sources up to date.
function(_ostra_define_bundles)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/bundles)
    set(resources_manifest ${_ostra_bundles_dir}/resources/resources.qrc)
    set(certificates_manifest ${_ostra_bundles_dir}/certificates/certificates.qrc)

    set(standin)
    if(OSTRA_DEVICE_ASSETS)
        get_filename_component(device_assets ${OSTRA_DEVICE_ASSETS} ABSOLUTE)
        if(NOT IS_DIRECTORY ${device_assets})
            message(FATAL_ERROR "OSTRA_DEVICE_ASSETS: ${OSTRA_DEVICE_ASSETS} is not a folder")
        endif()
        message(STATUS "Resource bundles: device assets from ${device_assets}")
        set(resources_root ${device_assets})
        set(certificates_root ${device_assets})
        set(resources_ready ${resources_manifest})
        set(certificates_ready ${certificates_manifest})
    else()
        message(STATUS "Resource bundles: stand-in assets")
        set(standin ${out}/standin)
        get_target_property(rcc Qt5::rcc IMPORTED_LOCATION)
        get_filename_component(qt_tools ${rcc} DIRECTORY)
        # lrelease runs on the build machine, also in a cross build.
        find_program(OSTRA_LRELEASE NAMES lrelease lrelease-qt5
                     HINTS ${qt_tools} NO_CMAKE_FIND_ROOT_PATH)
        if(NOT OSTRA_LRELEASE)
            message(FATAL_ERROR "lrelease not found: the stand-in translation catalogues need it "
                                "(Debian package qttools5-dev-tools)")
        endif()
        # The encoders of the JPEG and GIF stand-ins, and the maker of the
        # certificates; build-machine programs as well.
        _ostra_find_build_tool(OSTRA_PNMTOJPEG pnmtojpeg netpbm "the stand-in JPEG images")
        _ostra_find_build_tool(OSTRA_PAMTOGIF pamtogif netpbm "the stand-in GIF images")
        _ostra_find_build_tool(OSTRA_GIFSICLE gifsicle gifsicle "the stand-in GIF animations")
        _ostra_find_build_tool(OSTRA_OPENSSL openssl openssl "the stand-in certificates")

        set(resources_root ${standin}/resources)
        set(resources_ready ${standin}/resources.stamp)
        set(generator ${_ostra_bundles_dir}/resources/generate_resources.py)
        set(generator_modules __init__ images scripts stylesheets timezones translations)
        list(TRANSFORM generator_modules PREPEND ${_ostra_bundles_dir}/resources/standin/)
        list(TRANSFORM generator_modules APPEND .py)
        # A new release of the time-zone database changes the time-zone list.
        set(tz_release)
        if(EXISTS /usr/share/zoneinfo/tzdata.zi)
            set(tz_release /usr/share/zoneinfo/tzdata.zi)
        endif()
        add_custom_command(
            OUTPUT ${resources_ready}
            COMMAND ${Python3_EXECUTABLE} ${generator} --qrc ${resources_manifest}
                    --out ${resources_root} --lrelease ${OSTRA_LRELEASE}
                    --pnmtojpeg ${OSTRA_PNMTOJPEG} --pamtogif ${OSTRA_PAMTOGIF}
                    --gifsicle ${OSTRA_GIFSICLE}
            COMMAND ${CMAKE_COMMAND} -E touch ${resources_ready}
            DEPENDS ${generator} ${generator_modules} ${resources_manifest} ${tz_release}
            COMMENT "Generating the stand-in assets of the resources bundle"
            VERBATIM)

        set(certificates_root ${standin}/certificates)
        set(certificates_ready ${standin}/certificates.stamp)
        set(generator ${_ostra_bundles_dir}/certificates/generate_certificates.py)
        add_custom_command(
            OUTPUT ${certificates_ready}
            COMMAND ${Python3_EXECUTABLE} ${generator} --qrc ${certificates_manifest}
                    --out ${certificates_root} --openssl ${OSTRA_OPENSSL}
            COMMAND ${CMAKE_COMMAND} -E touch ${certificates_ready}
            DEPENDS ${generator} ${certificates_manifest}
            COMMENT "Generating the stand-in certificates"
            VERBATIM)
    endif()

    _ostra_compile_bundle(resources ${resources_manifest} ${resources_root} ${resources_ready}
                          ${out})
    _ostra_compile_bundle(certificates ${certificates_manifest} ${certificates_root}
                          ${certificates_ready} ${out})

    # One target that brings both up to date, so that several programs can
    # embed them without running the commands twice at once.
    add_custom_target(ostra_bundles DEPENDS ${out}/qrc_resources.cpp ${out}/qrc_certificates.cpp)
    set_target_properties(ostra_bundles PROPERTIES
        OSTRA_BUNDLE_SOURCES "${out}/qrc_resources.cpp;${out}/qrc_certificates.cpp"
        # Where the tests find the collection files that name each file's source.
        OSTRA_BUNDLE_COLLECTIONS "${out}/resources.qrc;${out}/certificates.qrc"
        # The folder of the generated stand-ins; empty with device assets.
        OSTRA_BUNDLE_STANDIN "${standin}")
endfunction()

# Adds the two bundles' sources to <target>: resources, then certificates.
# They come after the target's own sources, so that both bundles register
# after the static objects that those define. The programs that embed the
# bundles must all be defined in one directory, the one of the first call.
function(ostra_add_bundles target)
    if(NOT TARGET ostra_bundles)
        _ostra_define_bundles()
    endif()
    get_target_property(sources ostra_bundles OSTRA_BUNDLE_SOURCES)
    target_sources(${target} PRIVATE ${sources})
    add_dependencies(${target} ostra_bundles)
    target_link_libraries(${target} PRIVATE Qt5::Core)
    if(BUILD_TESTING)
        include(${_ostra_bundles_dir}/tests/bundles_tests.cmake)
        ostra_add_bundle_tests(${target})
    endif()
endfunction()
