// DisasmTemplates: the five opcode tables of the Z80 disassembler, one text
// template per opcode byte. Only Disassembler.cpp expands them; the tests read
// them to check the index pages against the unprefixed and CB pages.
//
// Template language (a template holds at most one "^", any number of "%" and
// at most one of "*", "@", "#"; everything else is copied as it stands):
//   %  the index register letter, X after DD and Y after FD (no byte)
//   ^  the next operand byte, unsigned, two upper-case hex digits
//   *  the next operand byte, two upper-case hex digits
//   @  a signed byte: "+" or "-" and its magnitude as two hex digits (the
//      next operand byte; on the DD CB / FD CB page the displacement read
//      before the opcode, so no byte is consumed there)
//   #  the next two operand bytes as a little-endian word, four hex digits
#pragma once

extern const char* const baseTemplates[256];     // first byte, no prefix
extern const char* const cbTemplates[256];       // CB xx
extern const char* const edTemplates[256];       // ED xx
extern const char* const indexTemplates[256];    // DD xx and FD xx, xx not CB
extern const char* const indexCbTemplates[256];  // DD CB d xx and FD CB d xx
