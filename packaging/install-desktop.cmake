# Run at install time, when the prefix is known (cmake --install --prefix, or /usr
# for the package): the menu entry names the launcher by its full path, so it works
# from ~/.local too, where ~/.local/bin need not be in PATH.
set(launcher "${CMAKE_INSTALL_PREFIX}/${kavurio_libexecdir}/kavurio/kavurio-launch")
if(launcher MATCHES "[^A-Za-z0-9/._+-]")
    # Quoted as the desktop entry format wants it: backslash before \ " ` and $.
    string(REGEX REPLACE "([\\\"`$])" "\\\\\\1" quoted "${launcher}")
    string(REPLACE "\\" "\\\\" quoted "${quoted}")
    set(launcher "\"${quoted}\"")
endif()
set(KAVURIO_LAUNCHER "${launcher}")
file(READ "${kavurio_desktop_in}" text)
string(CONFIGURE "${text}" text @ONLY)
set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${kavurio_datadir}/applications")
message(STATUS "Installing: ${folder}/kavurio.desktop")
file(MAKE_DIRECTORY "${folder}")
file(WRITE "${folder}/kavurio.desktop" "${text}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${folder}/kavurio.desktop")
