# The icon at every size a desktop looks for, under one package's own name:
# the sender's and the receiver's packages each ship it as theirs, since two
# packages holding one file conflict. 16 and 32 px are the drawn images the
# Windows icon is made of; the others are rendered from vindrel.svg.
set(VINDREL_ICON_DIR ${CMAKE_CURRENT_LIST_DIR})

function(vindrel_install_icon name)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${VINDREL_ICON_DIR}/vindrel-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${name}.png)
  endforeach()
  install(FILES ${VINDREL_ICON_DIR}/vindrel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${name}.svg)
endfunction()
