# embed-rom.cmake: writes the assembled demo firmware as a C++ byte array, so
# the program carries its default ROM. Run by firmware/CMakeLists.txt:
#   cmake -DINPUT=demo.bin -DOUTPUT=DemoRomData.cpp -P embed-rom.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from the assembled demo firmware by firmware/embed-rom.cmake.\n"
"#include <cstddef>\n#include <cstdint>\n\n"
"extern const uint8_t demoRomCode[];\nextern const std::size_t demoRomCodeSize;\n\n"
"const uint8_t demoRomCode[] = {\n    ${bytes}\n};\n"
"const std::size_t demoRomCodeSize = ${size};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
