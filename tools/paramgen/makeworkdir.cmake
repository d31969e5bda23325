# Fills the factory working-directory template. Called by the workdir target
# with PARAMGEN, WORKDIR, IMAGES and STATIC set.
file(MAKE_DIRECTORY ${WORKDIR} ${WORKDIR}/paraGroup/default ${WORKDIR}/ruv_net/workspace/log)

execute_process(COMMAND ${PARAMGEN} ${WORKDIR}/paraGroup/default RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "paramgen failed (${rc})")
endif()
execute_process(COMMAND ${PARAMGEN} --statistics-template ${WORKDIR}/ResStatisticsNULL.db RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "paramgen: statistics template failed (${rc})")
endif()
# The working copies start as the default group.
file(COPY ${WORKDIR}/paraGroup/default/PARAM.db ${WORKDIR}/paraGroup/default/SN.db
     DESTINATION ${WORKDIR})
# The journal template lives beside the working copies; a first start finds
# today's journal already made from it.
file(RENAME ${WORKDIR}/paraGroup/default/RECORDNULL.db ${WORKDIR}/RECORDNULL.db)
configure_file(${WORKDIR}/RECORDNULL.db ${WORKDIR}/RECORD.db COPYONLY)

if(IS_DIRECTORY ${IMAGES})
  file(MAKE_DIRECTORY ${WORKDIR}/images)
  file(COPY ${IMAGES}/ DESTINATION ${WORKDIR}/images)
endif()
if(IS_DIRECTORY ${STATIC})
  file(COPY ${STATIC}/ DESTINATION ${WORKDIR})
endif()
