// Tests of the symbol table and its two file grammars: every map and sym rule
// (the odd ones too), the list limits, over-long names and lines, and inputs
// that must not crash: binary files, huge lines, huge files, the fuzz seeds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "debugger/SymbolTable.h"

namespace {

const std::string heading = "symbol | value | section |\n-------+-------+---------+\n";

SymbolTable readMap(const std::string& text) {
    SymbolTable table;
    std::istringstream in(text);
    table.readMap(in);
    return table;
}

SymbolTable readSym(const std::string& text) {
    SymbolTable table;
    std::istringstream in(text);
    table.readSym(in);
    return table;
}

std::vector<std::string> functions(const SymbolTable& table) {
    std::vector<std::string> names;
    for (int i = 0; i < table.functionCount(); ++i) names.emplace_back(table.functionItem(i));
    return names;
}

std::vector<std::string> data(const SymbolTable& table) {
    std::vector<std::string> names;
    for (int i = 0; i < table.dataCount(); ++i) names.emplace_back(table.dataItem(i));
    return names;
}

using Names = std::vector<std::string>;

std::filesystem::path writeTemp(const std::string& name, const std::string& contents) {
    const auto path = std::filesystem::path(testing::TempDir()) / ("pdemu_disasm_" + name);
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

}  // namespace

TEST(SymbolMapFile, SymbolLines) {
    const SymbolTable table = readMap(heading +
                                      "_main | 4000 | _code |\n"
                                      "_ended | 4001 | _code\n"        // line end attached: skipped
                                      "__local | 8000 | _data |\n"     // two underscores: not data
                                      "_count | 8002 | _data |\n"
                                      "__helper | 4010 | _code |\n"    // two underscores are fine as code
                                      "plain 0x4020 _code \n"          // blanks alone, 0x prefix, no "_"
                                      "_h 4030h _code |\n"             // stops at the first non-hex
                                      "_other | 4040 | _text |\n"      // unknown section
                                      "_short | 4050\n"                // no section
                                      "_nohex | zz12 | _code |\n"      // no hex digit
                                      "_emptyhex | 0x | _code |\n"     // "0x" alone is the digit 0
                                      "_ | 4060 | _code |\n"           // nothing left of the name
                                      "| | _x | 9000 | _data | |\n"    // leading bars and blanks
                                      "_last 4070 _code");              // end of file ends the word
    EXPECT_EQ(functions(table), (Names{"main", "_helper", "plain", "h", "emptyhex", "last"}));
    EXPECT_EQ(data(table), (Names{"count", "x"}));
    EXPECT_EQ(table.findSymbol("main"), 0x4000);
    EXPECT_EQ(table.findSymbol("count"), 0x8002);
    EXPECT_EQ(table.findSymbol("plain"), 0x4020);
    EXPECT_EQ(table.findSymbol("h"), 0x4030);
    EXPECT_EQ(table.findSymbol("emptyhex"), 0);
    EXPECT_EQ(table.findSymbol("x"), 0x9000);
    EXPECT_EQ(table.findSymbol("ended"), std::nullopt);
    EXPECT_EQ(table.findSymbol("_main"), std::nullopt);
    EXPECT_EQ(table.findSymbol("mai"), std::nullopt);
    EXPECT_EQ(table.findSymbol("Main"), std::nullopt);
}

TEST(SymbolMapFile, HeadingAndRuler) {
    // Symbol-like lines before the heading do not count; the ruler line is
    // skipped whatever it holds; a heading word needs a blank after it.
    EXPECT_EQ(functions(readMap("_early | 1000 | _code |\n" + heading + "_main | 4000 | _code |\n")),
              Names{"main"});
    EXPECT_EQ(functions(readMap("symbol |\n_ruler | 1000 | _code |\n_main | 4000 | _code |\n")), Names{"main"});
    EXPECT_EQ(functions(readMap("   symbol value\n-\n_main | 4000 | _code |\n")), Names{"main"});
    EXPECT_EQ(readMap("symbol\n-\n_main | 4000 | _code |\n").functionCount(), 0);
    EXPECT_EQ(readMap("symbol|value\n-\n_main | 4000 | _code |\n").functionCount(), 0);
    EXPECT_EQ(readMap("symbols value\n-\n_main | 4000 | _code |\n").functionCount(), 0);
    EXPECT_EQ(readMap("Symbol value\n-\n_main | 4000 | _code |\n").functionCount(), 0);
    EXPECT_EQ(readMap("_main | 4000 | _code |\n").functionCount(), 0);
    EXPECT_EQ(readMap("symbol ").functionCount(), 0);  // heading at the end of the file

    // Only the first heading counts: a later one is an ordinary symbol line and
    // the line after it is not skipped.
    const SymbolTable table = readMap(heading + "symbol 10 _code |\n_after | 20 | _code |\n" + heading);
    EXPECT_EQ(functions(table), (Names{"symbol", "after"}));
}

TEST(SymbolSymFile, Lines) {
    const SymbolTable table = readSym(
        "x.start 1234\n"
        "no dot here 1000\n"        // no dot: nothing
        "x.novalue\n"               // no value
        "x.novalue2 \n"             // blank, then no value
        "x.bad zz\n"                // no hex digit
        ".y._main 0x4000\n"         // leading dot, "_" dropped
        "...z.a.b 0ABC\r\n"         // name runs to the next blank, dots and all
        "first word.spaced    42 trailing words\n"
        "x.__two 7\n"
        "x._ 8\n"                   // nothing left of the name
        "....\n"
        "x.last FFFF");
    EXPECT_EQ(functions(table), (Names{"start", "main", "a.b", "spaced", "_two", "last"}));
    EXPECT_EQ(table.dataCount(), 0);
    EXPECT_EQ(table.findSymbol("start"), 0x1234);
    EXPECT_EQ(table.findSymbol("main"), 0x4000);
    EXPECT_EQ(table.findSymbol("a.b"), 0x0ABC);
    EXPECT_EQ(table.findSymbol("spaced"), 0x42);
    EXPECT_EQ(table.findSymbol("last"), 0xFFFF);
    // Values keep their low 32 bits as a signed number.
    EXPECT_EQ(readSym("x.big FFFFFFFF\n").findSymbol("big"), -1);
    EXPECT_EQ(readSym("x.huge 123456789\n").findSymbol("huge"), 0x23456789);
}

TEST(SymbolTable, ListsAndLimits) {
    SymbolTable table;
    EXPECT_FALSE(table.openFailed);
    EXPECT_TRUE(table.listChanged);
    EXPECT_EQ(table.dataItem(0), nullptr);
    EXPECT_EQ(table.findSymbol(""), std::nullopt);

    for (int i = 0; i < 300; ++i) table.addData("d" + std::to_string(i), i);
    for (int i = 0; i < 600; ++i) table.addFunction("f" + std::to_string(i), 0x4000 + i);
    EXPECT_EQ(table.dataCount(), 255);
    EXPECT_EQ(table.functionCount(), 512);
    EXPECT_STREQ(table.dataItem(254), "d254");
    EXPECT_EQ(table.dataItem(255), nullptr);
    EXPECT_EQ(table.dataItem(-1), nullptr);
    EXPECT_STREQ(table.functionItem(511), "f511");
    EXPECT_EQ(table.functionItem(512), nullptr);
    EXPECT_EQ(table.findSymbol("d255"), std::nullopt);
    EXPECT_EQ(table.findSymbol("f512"), std::nullopt);
    EXPECT_EQ(table.findSymbol("f511"), 0x4000 + 511);

    // A name in both lists: the Data value wins, even when added later.
    SymbolTable both;
    both.addFunction("shared", 1);
    both.addData("shared", 2);
    EXPECT_EQ(both.findSymbol("shared"), 2);
    // The first of two equal names wins.
    both.addFunction("twice", 3);
    both.addFunction("twice", 4);
    EXPECT_EQ(both.findSymbol("twice"), 3);
}

TEST(SymbolTable, LongNamesAreCut) {
    const std::string name200(200, 'n');
    const std::string cut(SymbolTable::maxNameLength, 'n');
    SymbolTable table = readMap(heading + "_" + name200 + " | 4000 | _code |\n_" + std::string(43, 'k') +
                                " | 4001 | _data |\n");
    table.addFunction(std::string(44, 'q'), 5);
    EXPECT_EQ(functions(table), (Names{cut, std::string(43, 'q')}));
    EXPECT_EQ(data(table), Names{std::string(43, 'k')});
    EXPECT_EQ(table.findSymbol(cut), 0x4000);
    EXPECT_EQ(table.findSymbol(name200), std::nullopt);

    const SymbolTable sym = readSym("x." + name200 + " 10\n");
    EXPECT_EQ(functions(sym), Names{cut});
}

TEST(SymbolTable, OverlongLinesAreReadOnlyToTheLimit) {
    // A 10,000-character line between two good ones.
    const std::string huge(10000, 'x');
    EXPECT_EQ(functions(readMap(heading + "_a | 1 | _code |\n" + huge + "\n_b | 2 | _code |\n")), (Names{"a", "b"}));
    EXPECT_EQ(functions(readSym("x.a 1\n" + huge + "\nx.b 2\n")), (Names{"a", "b"}));

    // The tail of an over-long line is not read as a line of its own.
    const std::string tail = "_fake | 4000 | _code |\n";
    EXPECT_EQ(readMap(heading + std::string(300, 'n') + " " + tail).functionCount(), 0);
    EXPECT_EQ(readSym("x." + std::string(300, 'n') + "\nx.fake 12").functionCount(), 1);
    EXPECT_EQ(readSym("x." + std::string(300, 'n') + " x.fake 12\n").functionCount(), 0);

    // A line of 254 characters with its line end fits; beyond that the last
    // word is cut: "_code" at the limit with more text after it is not the
    // section word, and a value at the limit may go on beyond it. A line end
    // just past the limit cuts nothing.
    std::string fits = "_fits | 4000 | _code |";
    fits += std::string(SymbolTable::lineLimit - 1 - fits.size(), ' ') + "\n";
    ASSERT_EQ(fits.size(), std::size_t(SymbolTable::lineLimit));
    EXPECT_EQ(functions(readMap(heading + fits)), Names{"fits"});
    std::string atLimit = "_cut | 4000 |";
    atLimit += std::string(SymbolTable::lineLimit - atLimit.size() - 5, ' ') + "_code";
    ASSERT_EQ(atLimit.size(), std::size_t(SymbolTable::lineLimit));
    EXPECT_EQ(readMap(heading + atLimit + "X |\n").functionCount(), 0);
    EXPECT_EQ(functions(readMap(heading + atLimit + "\n")), Names{"cut"});
    std::string symAtLimit = "x.cut" + std::string(SymbolTable::lineLimit - 9, ' ') + "1234";
    ASSERT_EQ(symAtLimit.size(), std::size_t(SymbolTable::lineLimit));
    EXPECT_EQ(readSym(symAtLimit + "5678\n").functionCount(), 0);
    EXPECT_EQ(readSym(symAtLimit + "\n").findSymbol("cut"), 0x1234);
}

TEST(SymbolTable, BadInputNeverBreaksTheReader) {
    // Binary data, NUL bytes included: nothing may crash, the limits hold.
    std::mt19937 random(12345);
    for (int round = 0; round < 20; ++round) {
        std::string binary(20000, '\0');
        for (char& c : binary) c = char(random() % (round % 2 ? 256 : 8) + (round % 2 ? 0 : ' '));
        for (const SymbolTable& table : {readMap(heading + binary), readSym(binary)}) {
            EXPECT_LE(table.dataCount(), SymbolTable::maxDataSymbols);
            EXPECT_LE(table.functionCount(), SymbolTable::maxFunctionSymbols);
            for (int i = 0; i < table.functionCount(); ++i)
                EXPECT_LE(std::string(table.functionItem(i)).size(), std::size_t(SymbolTable::maxNameLength));
        }
    }
    // A NUL byte ends the line's text; what follows it on that line is not read.
    EXPECT_EQ(readMap(heading + std::string("_a | 1 | _code\0 |\n_b | 2 | _code |\n", 34)).functionCount(), 1);
    EXPECT_EQ(functions(readSym(std::string("x.a\0 1\nx.b 2\n", 13))), Names{"b"});

    // 100,000 symbol lines: the first 512 functions and 255 data names are kept.
    std::string big = heading;
    for (int i = 0; i < 100000; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "_s%d | %X | %s |\n", i, i, i % 2 ? "_code" : "_data");
        big += line;
    }
    const SymbolTable table = readMap(big);
    EXPECT_EQ(table.functionCount(), 512);
    EXPECT_EQ(table.dataCount(), 255);
    EXPECT_STREQ(table.functionItem(511), "s1023");
    EXPECT_STREQ(table.dataItem(254), "s508");
    EXPECT_EQ(table.findSymbol("s1023"), 1023);
}

TEST(SymbolFile, Loading) {
    const auto map = writeTemp("load.map", heading + "_main | 4000 | _code |\n_count | 8000 | _data |\n");
    auto table = loadSymbolFile(map.string(), 0);
    ASSERT_NE(table, nullptr);
    EXPECT_FALSE(table->openFailed);
    EXPECT_TRUE(table->listChanged);
    EXPECT_EQ(functions(*table), Names{"main"});
    EXPECT_EQ(data(*table), Names{"count"});

    // Kind 1 reads the same file with the sym grammar: no dots, no symbols.
    table = loadSymbolFile(map.string(), 1);
    EXPECT_FALSE(table->openFailed);
    EXPECT_EQ(table->functionCount() + table->dataCount(), 0);

    const auto sym = writeTemp("load.sym", "x.start 1234\n");
    table = loadSymbolFile(sym.string(), 1);
    EXPECT_EQ(table->findSymbol("start"), 0x1234);

    // A FIFO without a writer must not hang the load; /dev/zero must not be read for ever.
    const std::string fifo = (std::filesystem::path(testing::TempDir()) / "pdemu_disasm_fifo.map").string();
    std::filesystem::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& bad :
         {(std::filesystem::path(testing::TempDir()) / "pdemu_disasm_missing.map").string(), std::string(),
          std::filesystem::path(testing::TempDir()).string(), fifo, std::string("/dev/zero")}) {
        table = loadSymbolFile(bad, 0);
        ASSERT_NE(table, nullptr);
        EXPECT_TRUE(table->openFailed) << bad;
        EXPECT_TRUE(table->listChanged);
        EXPECT_EQ(table->functionCount() + table->dataCount(), 0);
    }
    std::filesystem::remove(map);
    std::filesystem::remove(sym);
    std::filesystem::remove(fifo);
}

TEST(SymbolFile, FuzzSeedsReplay) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PDEMU_FUZZ_CORPUS)) {
        const auto extension = entry.path().extension();
        if (extension != ".map" && extension != ".sym") continue;
        ++files;
        for (int kind : {0, 1}) {
            const auto table = loadSymbolFile(entry.path().string(), kind);
            EXPECT_FALSE(table->openFailed) << entry.path();
            EXPECT_LE(table->functionCount(), SymbolTable::maxFunctionSymbols);
        }
    }
    EXPECT_GE(files, 4);

    const std::string corpus = PDEMU_FUZZ_CORPUS;
    const auto map = loadSymbolFile(corpus + "/example.map", 0);
    EXPECT_EQ(functions(*map), (Names{"main", "drawScreen"}));  // "_tail" has its section at the line end
    EXPECT_EQ(data(*map), Names{"counter"});
    EXPECT_EQ(map->findSymbol("drawScreen"), 0x4123);
    const auto sym = loadSymbolFile(corpus + "/example.sym", 1);
    EXPECT_EQ(functions(*sym), (Names{"start", "main", "drawScreen"}));
}
