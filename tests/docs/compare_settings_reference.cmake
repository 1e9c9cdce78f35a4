# Fails when the committed settings reference PAGE differs from what PROGRAM prints with
# --settings-reference, keeps what it printed as PRINTED for a diff, and says how to write the
# page again.
execute_process(COMMAND ${PROGRAM} --settings-reference
                OUTPUT_VARIABLE printed ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --settings-reference failed (${status}): ${errors}")
endif()
file(READ ${PAGE} committed)
if(NOT printed STREQUAL committed)
    file(WRITE ${PRINTED} "${printed}")
    message(FATAL_ERROR
        "${PAGE} is not what the program prints (diff -u ${PAGE} ${PRINTED}).\n"
        "Write it again from the settings catalogue with\n"
        "    build/main/app/kestrano --settings-reference > docs/settings.md")
endif()
