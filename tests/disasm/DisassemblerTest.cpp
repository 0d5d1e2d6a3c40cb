// Tests of the disassembler and its template pages: the dialect's texts and
// lengths, signed and unsigned displacements, the index pages against the
// unprefixed and CB pages, wrap-around and reading only through the reader.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "debugger/DisasmTemplates.h"
#include "debugger/Disassembler.h"

namespace {

struct Memory {
    std::array<uint8_t, 65536> bytes{};

    void put(uint16_t address, std::initializer_list<int> values) {
        for (int v : values) bytes[address++] = uint8_t(v);
    }
};

struct Result {
    std::string text;
    int length;
};

Result disassemble(const Memory& memory, uint16_t address) {
    char text[disasmTextSize];
    std::memset(text, 0x55, sizeof text);
    const int length = disassembleAt(text, address, [&](uint16_t a) { return memory.bytes[a]; });
    return {text, length};
}

Result disassembleBytes(std::initializer_list<int> bytes, uint16_t address = 0x4000) {
    Memory memory;
    memory.put(address, bytes);
    return disassemble(memory, address);
}

// True when word occurs in text as a register name, not inside a longer word
// ("H" in "LD H,B" but not in "PUSH" or in the hex suffix of "*h").
bool isWordAt(const std::string& text, std::size_t pos, std::size_t length) {
    auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
    if (pos > 0 && letter(text[pos - 1])) return false;
    return pos + length >= text.size() || !letter(text[pos + length]);
}

std::string replaceWord(std::string text, const std::string& word, const std::string& with) {
    for (std::size_t pos = text.find(word); pos != std::string::npos; pos = text.find(word, pos)) {
        if (isWordAt(text, pos, word.size())) {
            text.replace(pos, word.size(), with);
            pos += with.size();
        } else {
            pos += word.size();
        }
    }
    return text;
}

// The index page as derived from the unprefixed page by the substitution rules.
std::string expectedIndexEntry(const std::string& base) {
    if (auto pos = base.find("(HL)"); pos != std::string::npos) {
        std::string text = base;
        return text.replace(pos, 4, "(I%+^h)");
    }
    std::string text = replaceWord(base, "HL", "I%");
    text = replaceWord(text, "H", "I%h");
    return replaceWord(text, "L", "I%l");
}

// Instruction lengths from the Z80's encoding, independent of the templates.
int z80BaseLength(int op) {
    static const std::set<int> two = {0x06, 0x0E, 0x16, 0x1E, 0x26, 0x2E, 0x36, 0x3E, 0x10, 0x18, 0x20,
                                      0x28, 0x30, 0x38, 0xC6, 0xCE, 0xD6, 0xDE, 0xE6, 0xEE, 0xF6, 0xFE,
                                      0xD3, 0xDB};
    static const std::set<int> three = {0x01, 0x11, 0x21, 0x31, 0x22, 0x2A, 0x32, 0x3A, 0xC2, 0xC3,
                                        0xC4, 0xCA, 0xCC, 0xCD, 0xD2, 0xD4, 0xDA, 0xDC, 0xE2, 0xE4,
                                        0xEA, 0xEC, 0xF2, 0xF4, 0xFA, 0xFC};
    return two.count(op) ? 2 : three.count(op) ? 3 : 1;
}

bool usesIndirectHl(int op) {
    return op == 0x34 || op == 0x35 || op == 0x36 || (op >= 0x40 && op < 0xC0 && op != 0x76 &&
                                                        ((op & 7) == 6 || (op >= 0x70 && op < 0x78)));
}

}  // namespace

uint8_t plainReader(uint16_t address) { return uint8_t(address >> 8); }

TEST(Disassembler, TextsAndLengths) {
    struct Case {
        std::initializer_list<int> bytes;
        const char* text;
        int length;
    };
    const Case cases[] = {
        // The documented cases.
        {{0x00}, "NOP", 1}, {{0x3E, 0x3F}, "LD A,3Fh", 2}, {{0x21, 0x34, 0x12}, "LD HL,1234h", 3},
        {{0x18, 0xFE}, "JR -02h", 2}, {{0x10, 0x05}, "DJNZ +05h", 2}, {{0x20, 0xF0}, "JR NZ,-10h", 2},
        {{0xDD, 0x36, 0x05, 0x7F}, "LD (IX+05h),7Fh", 4}, {{0xFD, 0x7E, 0xFE}, "LD A,(IY+FEh)", 3},
        {{0xDD, 0x77, 0xFE}, "LD (IX+FEh),A", 3}, {{0xDD, 0x29}, "ADD IX,IX", 2}, {{0xFD, 0x65}, "LD IYh,IYl", 2},
        {{0xFD, 0xCB, 0xFE, 0x46}, "BIT 0,(IY-02h)", 4}, {{0xFD, 0xCB, 0xFE, 0x06}, "RLC (IY-02h)", 4},
        {{0xDD, 0xCB, 0x05, 0x00}, "RLC B", 4}, {{0xED, 0x45}, "RETN", 2}, {{0xED, 0x4C}, "DB EDh,4Ch", 2},
        {{0xED, 0xFF}, "DB EDh,FFh", 2}, {{0xDD, 0xDD}, "PFX_DD", 2}, {{0x76}, "HALT", 1}, {{0xDD, 0x76}, "HALT", 2},
        // The dialect's own spellings.
        {{0x80}, "ADD B", 1}, {{0x9E}, "SBC (HL)", 1}, {{0xCE, 0x12}, "ADC 12h", 2}, {{0xD3, 0xA0}, "OUTA (A0h)", 2},
        {{0xDB, 0x0F}, "INA (0Fh)", 2}, {{0xE3}, "EX HL,(SP)", 1}, {{0xE9}, "LD PC,HL", 1}, {{0xFF}, "RST 38h", 1},
        {{0xCB, 0x36}, "SLL (HL)", 2}, {{0xED, 0x70}, "IN F,(C)", 2}, {{0x08}, "EX AF,AF'", 1},
        // Every placeholder after DD, FD and ED.
        {{0xDD, 0x21, 0x34, 0x12}, "LD IX,1234h", 4}, {{0xFD, 0x22, 0xCD, 0xAB}, "LD (ABCDh),IY", 4},
        {{0xFD, 0x26, 0x9A}, "LD IYh,9Ah", 3}, {{0xFD, 0x36, 0x80, 0x00}, "LD (IY+80h),00h", 4},
        {{0xDD, 0x66, 0x10}, "LD H,(IX+10h)", 3}, {{0xFD, 0x75, 0x00}, "LD (IY+00h),L", 3},
        {{0xDD, 0x8C}, "ADC IXh", 2}, {{0xDD, 0xE3}, "EX IX,(SP)", 2}, {{0xFD, 0xE9}, "LD PC,IY", 2},
        {{0xDD, 0xEB}, "EX DE,IX", 2}, {{0xFD, 0xCD, 0x00, 0x40}, "CALL 4000h", 4}, {{0xDD, 0xED}, "PFX_ED", 2},
        {{0xFD, 0xFD}, "PFX_FD", 2}, {{0xFD, 0xCB, 0x7F, 0xFE}, "SET 7,(IY+7Fh)", 4},
        {{0xDD, 0xCB, 0x80, 0x87}, "RES 0,A", 4}, {{0xED, 0x43, 0x34, 0x12}, "LD (1234h),BC", 4},
        {{0xED, 0x7B, 0xFE, 0xFF}, "LD SP,(FFFEh)", 4},
    };
    for (const Case& c : cases) {
        const Result r = disassembleBytes(c.bytes);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(r.length, c.length) << c.text;
    }
}

TEST(Disassembler, WrapsAtTheTopOfMemoryAndTakesAnyReader) {
    Memory memory;
    memory.put(0xFFFE, {0xC3, 0x00});
    memory.bytes[0x0000] = 0x80;
    Result r = disassemble(memory, 0xFFFE);
    EXPECT_EQ(r.text, "JP 8000h");
    EXPECT_EQ(r.length, 3);

    memory.bytes[0xFFFF] = 0xDD;
    memory.put(0x0000, {0xCB, 0x80, 0x16});
    r = disassemble(memory, 0xFFFF);
    EXPECT_EQ(r.text, "RL (IX-80h)");
    EXPECT_EQ(r.length, 4);

    // A plain function reads the high address byte: 0x3E 0x3E at 0x3E00.
    char text[disasmTextSize];
    EXPECT_EQ(disassembleAt(text, 0x3E00, plainReader), 2);
    EXPECT_STREQ(text, "LD A,3Eh");
    EXPECT_EQ(disassembleAt(text, 0x0100, &plainReader), 3);
    EXPECT_STREQ(text, "LD BC,0101h");
}

TEST(Disassembler, RelativeJumpAndDisplacementSigns) {
    struct Case {
        int byte;
        const char* sign;
    };
    for (Case c : {Case{0x00, "+00h"}, Case{0x7F, "+7Fh"}, Case{0x80, "-80h"}, Case{0xFE, "-02h"},
                   Case{0x01, "+01h"}, Case{0xFF, "-01h"}}) {
        SCOPED_TRACE(c.byte);
        EXPECT_EQ(disassembleBytes({0x18, c.byte}).text, std::string("JR ") + c.sign);
        EXPECT_EQ(disassembleBytes({0x10, c.byte}).text, std::string("DJNZ ") + c.sign);
        EXPECT_EQ(disassembleBytes({0x38, c.byte}).text, std::string("JR C,") + c.sign);
        EXPECT_EQ(disassembleBytes({0xFD, 0x18, c.byte}).text, std::string("JR ") + c.sign);
        EXPECT_EQ(disassembleBytes({0xFD, 0x18, c.byte}).length, 3);
        EXPECT_EQ(disassembleBytes({0xDD, 0xCB, c.byte, 0x5E}).text, std::string("BIT 3,(IX") + c.sign + ")");
        // "^" stays unsigned: the index pages show the raw displacement byte.
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", c.byte);
        EXPECT_EQ(disassembleBytes({0xFD, 0x34, c.byte}).text, std::string("INC (IY+") + hex + "h)");
    }
}

TEST(Disassembler, UnprefixedAndCbPagesFollowTheRegisterBlocks) {
    const char* regs[] = {"B", "C", "D", "E", "H", "L", "(HL)", "A"};
    const char* alu[] = {"ADD", "ADC", "SUB", "SBC", "AND", "XOR", "OR", "CP"};
    const char* rot[] = {"RLC", "RRC", "RL", "RR", "SLA", "SRA", "SLL", "SRL"};
    const char* bitOps[] = {"", "BIT", "RES", "SET"};
    for (int op = 0; op < 256; ++op) {
        SCOPED_TRACE(op);
        if (op >= 0x40 && op < 0x80) {
            EXPECT_EQ(baseTemplates[op], op == 0x76 ? std::string("HALT")
                                                    : std::string("LD ") + regs[op >> 3 & 7] + "," + regs[op & 7]);
        }
        if (op >= 0x80 && op < 0xC0) {
            EXPECT_EQ(baseTemplates[op], std::string(alu[op >> 3 & 7]) + " " + regs[op & 7]);
        }
        const std::string cb = op < 0x40 ? std::string(rot[op >> 3]) + " " + regs[op & 7]
                                         : std::string(bitOps[op >> 6]) + " " + std::to_string(op >> 3 & 7) + "," +
                                               regs[op & 7];
        EXPECT_EQ(cbTemplates[op], cb);
    }
    int defined = 0;
    for (int op = 0; op < 256; ++op) {
        char undefinedText[16];
        std::snprintf(undefinedText, sizeof undefinedText, "DB EDh,%02Xh", op);
        if (std::string(edTemplates[op]) != undefinedText) {
            ++defined;
        } else {
            EXPECT_EQ(disassembleBytes({0xED, op}).text, undefinedText);
        }
    }
    EXPECT_EQ(defined, 59);
}

TEST(Disassembler, IndexPagesFollowTheSubstitutionRules) {
    for (int op = 0; op < 256; ++op) {
        SCOPED_TRACE(op);
        EXPECT_EQ(indexTemplates[op], expectedIndexEntry(baseTemplates[op]));
        std::string cb = cbTemplates[op];
        if (auto pos = cb.find("(HL)"); pos != std::string::npos) cb.replace(pos, 4, "(I%@h)");
        EXPECT_EQ(indexCbTemplates[op], cb);
    }
    // Spot checks that the rule helper itself reads the rules right.
    EXPECT_EQ(expectedIndexEntry("PUSH HL"), "PUSH I%");
    EXPECT_EQ(expectedIndexEntry("LD L,*h"), "LD I%l,*h");
    EXPECT_EQ(expectedIndexEntry("LD (HL),H"), "LD (I%+^h),H");
    EXPECT_EQ(expectedIndexEntry("HALT"), "HALT");
}

TEST(Disassembler, LengthsMatchTheZ80Encoding) {
    Memory memory;
    for (int op = 0; op < 256; ++op) {
        SCOPED_TRACE(op);
        const bool prefix = op == 0xCB || op == 0xDD || op == 0xED || op == 0xFD;
        if (!prefix) {
            EXPECT_EQ(disassembleBytes({op, 0, 0, 0}).length, z80BaseLength(op));
        }
        EXPECT_EQ(disassembleBytes({0xCB, op, 0, 0}).length, 2);
        const bool edWord = (op & 0xC7) == 0x43 && op >= 0x40 && op < 0x80;
        EXPECT_EQ(disassembleBytes({0xED, op, 0, 0}).length, edWord ? 4 : 2);
        for (int index : {0xDD, 0xFD}) {
            if (op == 0xCB) continue;
            const int expected = prefix ? 2 : 1 + z80BaseLength(op) + (usesIndirectHl(op) ? 1 : 0);
            EXPECT_EQ(disassembleBytes({index, op, 0, 0}).length, expected);
            EXPECT_EQ(disassembleBytes({index, 0xCB, 0, op}).length, 4);
        }
    }
}

TEST(Disassembler, OnlyHaltBeginsWithH) {
    // Operand bytes 0x48 ('H' in ASCII) and 0xA8 must not leak into a leading position.
    std::vector<std::vector<int>> pages;
    for (int op = 0; op < 256; ++op) {
        for (int operand : {0x00, 0x48, 0xA8}) {
            pages.push_back({op, operand, operand, operand});
            pages.push_back({0xCB, op, operand, operand});
            pages.push_back({0xED, op, operand, operand});
            for (int index : {0xDD, 0xFD}) {
                pages.push_back({index, op, operand, operand});
                pages.push_back({index, 0xCB, operand, op});
            }
        }
    }
    int halts = 0;
    for (const auto& bytes : pages) {
        Memory memory;
        for (std::size_t i = 0; i < bytes.size(); ++i) memory.bytes[0x100 + i] = uint8_t(bytes[i]);
        const Result r = disassemble(memory, 0x100);
        const bool halt = bytes[0] == 0x76 || ((bytes[0] == 0xDD || bytes[0] == 0xFD) && bytes[1] == 0x76);
        EXPECT_EQ(r.text[0] == 'H', halt) << r.text;
        if (halt) {
            EXPECT_EQ(r.text, "HALT");
            ++halts;
        }
    }
    EXPECT_EQ(halts, 3 * 3);  // 76, DD 76, FD 76, each with three operand fillers
}

TEST(Disassembler, ReadsOnlyTheInstructionsBytesThroughTheReader) {
    // At 0xFFFD every instruction of length 4 wraps; reads outside the
    // instruction would touch bank-switched hardware for nothing.
    for (int op = 0; op < 256; ++op) {
        for (int prefix : {-1, 0xCB, 0xED, 0xDD, 0xFD, 0x1DD}) {
            std::vector<uint8_t> bytes;
            if (prefix == 0x1DD) bytes = {0xDD, 0xCB, 0x80, uint8_t(op)};
            else if (prefix >= 0) bytes = {uint8_t(prefix), uint8_t(op), 0x12, 0x34};
            else bytes = {uint8_t(op), 0x12, 0x34, 0x56};
            std::vector<uint16_t> reads;
            auto reader = [&](uint16_t a) -> uint8_t {
                reads.push_back(a);
                const uint16_t offset = uint16_t(a - 0xFFFD);
                return offset < bytes.size() ? bytes[offset] : 0xEE;
            };
            char text[disasmTextSize];
            const int length = disassembleAt(text, 0xFFFD, reader);
            ASSERT_GE(length, 1);
            ASSERT_LE(length, 4);
            EXPECT_LT(std::strlen(text), 20u) << text;
            std::set<uint16_t> distinct(reads.begin(), reads.end());
            EXPECT_EQ(distinct.size(), std::size_t(length)) << text;
            for (uint16_t a : reads) EXPECT_LT(uint16_t(a - 0xFFFD), length) << text;
        }
    }
}
