# Fails when a text of the program has no translation: lupdate reads the sources
# into a copy of each .ts file, and any message it leaves unfinished is missing
# (or out of date) in the file itself.
#   cmake -DLUPDATE=... -DSOURCE_DIR=... -DWORK_DIR=... -DTS_FILES="a.ts;b.ts"
#         [-DSTAMP=file] -P CheckTranslations.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(failed FALSE)
foreach(ts ${TS_FILES})
  get_filename_component(name ${ts} NAME)
  set(copy ${WORK_DIR}/${name})
  configure_file(${ts} ${copy} COPYONLY)
  execute_process(
    COMMAND ${LUPDATE} -silent -locations none -no-obsolete -source-language zh_CN ${SOURCE_DIR}
            -ts ${copy}
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "lupdate failed on ${name}")
  endif()
  file(READ ${copy} text)
  string(REGEX MATCHALL "<source>[^<]*</source>[ \r\n]*<translation type=\"unfinished\"" missing
         "${text}")
  list(LENGTH missing count)
  string(REGEX MATCHALL "<message>" messages "${text}")
  list(LENGTH messages total)
  if(count GREATER 0)
    set(failed TRUE)
    message("${name}: ${count} of ${total} texts have no translation:")
    foreach(entry ${missing})
      string(REGEX REPLACE "<source>([^<]*)</source>.*" "\\1" source "${entry}")
      message("  ${source}")
    endforeach()
  elseif(total EQUAL 0)
    set(failed TRUE)
    message("${name}: lupdate found no texts in ${SOURCE_DIR}")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "Translate the texts above in translations/ (the target update_translations "
                      "brings the .ts files up to date first).")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
