# The Windows zip, trelubki-serwer-<version>-windows-x64.zip (`cmake --build <dir> --target
# package`), holds one folder of the same name with
#   trelubki-serwer.exe   the program with its window (what a user double-clicks), stripped;
#                         static, so it needs no DLL beyond Windows' own
#   trelubki-serwer-console.exe
#                         the same program without the window, for command prompts, scripts and
#                         services: the log on the console
#   README.txt            how to start it, the firewall prompt, ports, options, settings
#   wwwroot\              the documents of HEAD requests (the program's default folder is the
#                         wwwroot beside it)

# Written with Windows line endings, for Notepad.
configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/README.txt ${CMAKE_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)

install(TARGETS trelubki-serwer trelubki-serwer-console RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/packaging/www/ DESTINATION wwwroot)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME trelubki-serwer)
set(CPACK_PACKAGE_VENDOR Welkor)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Messenger server for the local network (Zuli-Zuli clients)")
set(CPACK_PACKAGE_FILE_NAME trelubki-serwer-${PROJECT_VERSION}-windows-x64)
set(CPACK_STRIP_FILES ON)
include(CPack)
