# Tests of the two resource bundles, registered by ostra_add_bundles() of
# ../bundles.cmake for the program that embeds them.

find_package(OpenSSL REQUIRED)
find_package(Qt5 REQUIRED COMPONENTS Widgets Network)

# ostra_add_bundle_script_test(<name> <script> <target>): runs a Python test of
# this folder on <target>, through the cross build's emulator if there is one.
function(ostra_add_bundle_script_test name script target)
    get_target_property(collections ostra_bundles OSTRA_BUNDLE_COLLECTIONS)
    set(collection_arguments)
    foreach(collection IN LISTS collections)
        list(APPEND collection_arguments --collection ${collection})
    endforeach()
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " run_with)
    add_test(NAME ${name}
             COMMAND ${Python3_EXECUTABLE} ${_ostra_bundles_dir}/tests/${script}
                     --launcher $<TARGET_FILE:${target}> --run-with "${run_with}"
                     ${collection_arguments})
endfunction()

function(ostra_add_bundle_tests target)
    ostra_add_bundle_script_test(bundles_tree bundles_tree_test.py ${target})
    ostra_add_bundle_script_test(bundles_storage bundles_storage_test.py ${target})

    # Reads every embedded file with the toolkit's own readers.
    add_executable(bundles_assets_check ${_ostra_bundles_dir}/tests/bundles_assets_check.cpp)
    get_target_property(sources ostra_bundles OSTRA_BUNDLE_SOURCES)
    target_sources(bundles_assets_check PRIVATE ${sources})
    add_dependencies(bundles_assets_check ostra_bundles)
    target_link_libraries(bundles_assets_check PRIVATE Qt5::Widgets Qt5::Network OpenSSL::Crypto)
    ostra_set_warnings(bundles_assets_check)
    add_test(NAME bundles_assets COMMAND bundles_assets_check)
    # The toolkit's offscreen platform plugin leaves its screen objects to the
    # end of the process, which the leak checker of sanitizer builds reports.
    set_tests_properties(bundles_assets PROPERTIES ENVIRONMENT
        "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0")

    # The stand-in generators give the same bytes again, and fail cleanly.
    get_target_property(standin ostra_bundles OSTRA_BUNDLE_STANDIN)
    if(standin)
        add_test(NAME bundles_standin
                 COMMAND ${Python3_EXECUTABLE} ${_ostra_bundles_dir}/tests/bundles_standin_test.py
                         --standin ${standin}
                         --resources-qrc ${_ostra_bundles_dir}/resources/resources.qrc
                         --certificates-qrc ${_ostra_bundles_dir}/certificates/certificates.qrc
                         --lrelease ${OSTRA_LRELEASE} --pnmtojpeg ${OSTRA_PNMTOJPEG}
                         --pamtogif ${OSTRA_PAMTOGIF} --gifsicle ${OSTRA_GIFSICLE}
                         --openssl ${OSTRA_OPENSSL})
    endif()
endfunction()
