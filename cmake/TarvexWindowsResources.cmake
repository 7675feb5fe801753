# The resources every shipped Windows program carries: the icon, a version record (product,
# version, company, description) and a manifest (common controls 6, DPI awareness, asInvoker).
# Windows shows them in a file's properties and in its prompts, and antivirus products weigh
# them. The dialog has its own resource script (src/app/win32/tarvex.rc); the others get one
# made from packaging/windows.
function(tarvex_add_windows_resources target description)
    set(TARVEX_RC_NAME "${target}")
    set(TARVEX_RC_FILE "${target}.exe")
    set(TARVEX_RC_DESCRIPTION "${description}")
    set(TARVEX_RC_ICON "${PROJECT_SOURCE_DIR}/src/app/win32/tarvex.ico")
    set(dir "${CMAKE_BINARY_DIR}/resources/${target}")
    set(TARVEX_RC_MANIFEST "${dir}/${target}.exe.manifest")
    configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/program.exe.manifest.in"
                   "${TARVEX_RC_MANIFEST}" @ONLY)
    configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in"
                   "${dir}/${target}.rc" @ONLY)
    target_sources(${target} PRIVATE "${dir}/${target}.rc")
    set_source_files_properties("${dir}/${target}.rc" PROPERTIES OBJECT_DEPENDS
        "${TARVEX_RC_ICON};${TARVEX_RC_MANIFEST}")
endfunction()
