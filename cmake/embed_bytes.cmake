# Turns the assembled boot program into the C++ array the boot sector carries.
# The array must have exactly SIZE bytes: a layout that moved fails the build.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" len)
math(EXPR bytes "${len} / 2")
if(NOT bytes EQUAL SIZE)
  message(FATAL_ERROR "${IN} is ${bytes} bytes, expected ${SIZE}")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
file(WRITE ${OUT}.tmp
  "// Generated from engine/boot_program.asm; do not edit.\n"
  "#include \"engine/boot_sector.h\"\n"
  "extern const unsigned char BootProgramTemplate[BOOT_PROGRAM_SIZE] = {\n${body}\n};\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
