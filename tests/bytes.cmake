# Reads FILE as hex bytes, one per space-ended field ("0d 0a "), into OUT:
# file(READ) in text form would drop the very CRs the checks look for, and a
# match on fields never straddles two bytes.
function(read_bytes file out)
  file(READ ${file} hex HEX)
  string(REGEX REPLACE "(..)" "\\1 " bytes "${hex}")
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()
