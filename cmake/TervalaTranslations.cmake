# Translations of the user interface. The .ts sources live in
# resources/translations; the build turns them into .qm files in
# <build>/share/tervalapro/translations, where a program run from the build
# tree finds them as an installed one finds <prefix>/share/tervalapro.
#   cmake --build build --target update_translations
# brings the .ts files up to date with the texts in the code (new texts come
# in unfinished, to be translated with Qt Linguist or by hand).
find_package(Qt6 REQUIRED COMPONENTS LinguistTools)

set(TERVALA_TS_FILES ${PROJECT_SOURCE_DIR}/resources/translations/tervalapro_de.ts)
set(TERVALA_QM_DIR ${PROJECT_BINARY_DIR}/share/tervalapro/translations)
set_source_files_properties(${TERVALA_TS_FILES} PROPERTIES OUTPUT_LOCATION ${TERVALA_QM_DIR})

# Every folder whose code shows texts to the user; lupdate picks the texts
# marked for translation (tr, QCoreApplication::translate, QT_TRANSLATE_NOOP).
set(TERVALA_TRANSLATED_SOURCES)
foreach(dir resources foundation servicelink invitations sessions remote support skin wizards app)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/${dir}/*.cpp ${PROJECT_SOURCE_DIR}/${dir}/*.h)
  list(APPEND TERVALA_TRANSLATED_SOURCES ${found})
endforeach()

add_custom_target(tervala_translations ALL)
qt_add_lupdate(tervala_translations
  TS_FILES ${TERVALA_TS_FILES}
  SOURCES ${TERVALA_TRANSLATED_SOURCES}
  INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR}
  OPTIONS -no-obsolete -locations none)
qt_add_lrelease(tervala_translations
  TS_FILES ${TERVALA_TS_FILES}
  QM_FILES_OUTPUT_VARIABLE TERVALA_QM_FILES)
install(FILES ${TERVALA_QM_FILES} DESTINATION share/tervalapro/translations COMPONENT tervalapro)
