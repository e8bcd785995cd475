# Writes a text file for Windows readers: IN as it is, or a man page
# rendered by GROFF as plain text (no overstrike or escapes), with every
# line ended by CR LF.
#   cmake -DIN=file -DOUT=file [-DGROFF=groff] -P cmake/windows_text.cmake
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${IN}
                  OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "groff could not render ${IN}")
  endif()
else()
  file(READ ${IN} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
