// PointSyntax: the text form of the debugger's points (beyond the three
// breakpoint fields), as the Breakpoints window's entry line and the debug
// scripts' "point" command take it:
//
//   exec ADDR            ADDR may be fPP:ADDR (flash page 00-BF) or rPP:ADDR (RAM page 00-07)
//   write A[-B] | read A[-B] | access A[-B]     Z80 memory, inclusive range
//   out P[-Q] | in P[-Q]                        port numbers 00-FF
//   then, each optional, in this order:  if EXPR   hits N (decimal, 1 or more)   log TEXT
//
// TEXT runs to the end of the line; {EXPR} in it is replaced by the value in
// upper-case hex (two digits for a byte-wide EXPR, else four, eight when the
// value needs more). Keywords are lower case; the place is hex.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/Expression.h"

enum class PointKind : uint8_t { Exec, Write, Read, Access, Out, In };
enum class PointPage : uint8_t { Any, Flash, Ram };

struct PointSpec {
    PointKind kind = PointKind::Exec;
    uint16_t first = 0;  // address or port; exec: first == last
    uint16_t last = 0;
    PointPage pageKind = PointPage::Any;  // exec only
    uint8_t page = 0;
    std::optional<Expression> condition;
    uint32_t hits = 0;  // 0: no hits clause (fires every time)
    bool logs = false;
    // The log text cut into literal runs and {EXPR} parts, in order.
    struct LogPart {
        std::string literal;                // used when expression is empty
        std::optional<Expression> expression;
    };
    std::vector<LogPart> logParts;
    // "write C000-C0FF if b@C000==0 hits 3": kind, place in upper-case hex
    // (addresses four digits, ports two, a page as f05: or r01:), then the
    // clauses as typed with single spaces.
    std::string text;
};

// nullopt and *error set (naming what is wrong, e.g. "range end below its
// start", "page 'C0' out of range (flash 00-BF)", "hits must be 1 or more",
// "condition: position 4: ...") when text is not a point. Lines longer than
// 4096 characters are refused.
std::optional<PointSpec> parsePoint(std::string_view text, std::string* error);

// Resolves the names of the condition and the log expressions.
bool resolvePoint(PointSpec& point, const SymbolTable* symbols, std::string* error);

// The log text with its values (point resolved).
std::string formatLog(const PointSpec& point, const ExprMachine& machine);

const char* pointKindName(PointKind kind);  // "exec", "write", ...
