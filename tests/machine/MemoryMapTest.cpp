// Memory map: windows, page registers, flash commands, display controller
// and the register editor's banked store.
#include <gtest/gtest.h>

#include <cstring>

#include "machine/MemoryMap.h"

namespace {

constexpr std::size_t Page = MemoryMap::PageSize;

class MemoryMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(memory.allocateImages());
        // Distinct content so a wrong page shows: each flash page starts with its number.
        for (int p = 0; p < MemoryMap::FlashPages; ++p)
            memory.flashImage[p * Page] = static_cast<uint8_t>(p);
        for (int p = 0; p < MemoryMap::RamPages; ++p)
            memory.ramImage[p * Page + 1] = static_cast<uint8_t>(0xA0 + p);
    }
    uint8_t flashAt(int page, std::size_t offset) const { return memory.flashImage[page * Page + offset]; }

    MemoryMap memory;
};

TEST_F(MemoryMapTest, FreshImagesAndFourWindowsAfterReset) {
    MemoryMap fresh;
    ASSERT_TRUE(fresh.allocateImages());
    EXPECT_EQ(fresh.flashImage[0], 0xFF);
    EXPECT_EQ(fresh.flashImage[MemoryMap::FlashSize - 1], 0xFF);
    EXPECT_EQ(fresh.ramImage[0], 0);
    EXPECT_EQ(fresh.ramImage[MemoryMap::RamSize - 1], 0);

    memory.flashImage[0x1234] = 0x5A;
    EXPECT_EQ(memory.readByte(0x1234), 0x5A);
    EXPECT_EQ(memory.readByte(0x5234), 0x5A);  // window 1 shows page 0 after reset
    memory.writeByte(0x1234, 0x00);            // page 0 is read-only
    EXPECT_EQ(memory.flashImage[0x1234], 0x5A);

    memory.writeByte(0x8005, 0x77);
    EXPECT_EQ(memory.readByte(0xC005), 0x77);
    EXPECT_EQ(memory.ramImage[5], 0x77);
    memory.writeByte(0xFFFF, 0x99);
    EXPECT_EQ(memory.ramImage[0x3FFF], 0x99);
    EXPECT_EQ(memory.readByte(0xBFFF), 0x99);
    EXPECT_EQ(memory.flashMode, FlashMode::ReadArray);
}

TEST_F(MemoryMapTest, RomBankAndSelect) {
    memory.setRomBankLow(0x45);
    EXPECT_EQ(memory.romBank, 5);
    EXPECT_EQ(memory.readByte(0x4000), 5);
    memory.setRomSelect(5);
    EXPECT_EQ(memory.romBank, 133);
    EXPECT_EQ(memory.readByte(0x4000), 133);
    memory.setRomSelect(2);
    EXPECT_EQ(memory.romBank, 5);
    EXPECT_EQ(memory.romSelect, 2);
    memory.setRomSelect(3);
    EXPECT_EQ(memory.romBank, 69);
    memory.setRomBankLow(0x3F);  // bits 6-7 stay
    EXPECT_EQ(memory.romBank, 127);
    memory.setRomSelect(5);
    memory.setRomBankLow(0x3F);
    EXPECT_EQ(memory.romBank, 191);
    EXPECT_EQ(memory.readByte(0x4000), 191);
}

TEST_F(MemoryMapTest, RamSelectValues) {
    memory.setRamBankLow(0x02);
    EXPECT_EQ(memory.readByte(0x8001), 0xA2);
    memory.setRamSelect(3);  // flash page 66, read-only
    EXPECT_EQ(memory.ramBank, 66);
    EXPECT_TRUE(memory.window2Flash);
    EXPECT_EQ(memory.readByte(0x8000), 66);
    memory.writeByte(0x8000, 0x11);
    EXPECT_EQ(flashAt(66, 0), 66);
    memory.setRamSelect(7);  // flash pages 0-63
    EXPECT_EQ(memory.ramBank, 2);
    EXPECT_EQ(memory.readByte(0x8000), 2);
    memory.setRamSelect(1);  // RAM again
    EXPECT_FALSE(memory.window2Flash);
    EXPECT_EQ(memory.readByte(0x8001), 0xA2);
    memory.setRamSelect(0x42);  // other values keep the flags but drop bit 6
    EXPECT_FALSE(memory.window2Flash);
    EXPECT_EQ(memory.ramSelect, 0x42);

    memory.setRamSelect(6);
    EXPECT_TRUE(memory.window2Lcd);
    memory.setRamSelect(7);  // flash flag set, display still shown
    EXPECT_TRUE(memory.window2Lcd);
    EXPECT_TRUE(memory.window2Flash);
    EXPECT_EQ(memory.readByte(0x8001), 0);
    memory.setRamSelect(1);
    EXPECT_FALSE(memory.window2Lcd);
    EXPECT_EQ(memory.readByte(0x8001), 0xA2);

    // Pages 8-63 of RAM wrap onto the eight real pages.
    memory.setRamBankLow(0x0B);
    EXPECT_EQ(memory.readByte(0x8001), 0xA3);
    memory.writeByte(0x8002, 0x44);
    EXPECT_EQ(memory.ramImage[3 * Page + 2], 0x44);
}

TEST_F(MemoryMapTest, FlashCommandInterpreter) {
    memory.writeByte(0x4000, 0x90);
    EXPECT_EQ(memory.readByte(0x4000), 0x89);
    EXPECT_EQ(memory.readByte(0x4001), 0xA6);
    EXPECT_EQ(memory.readByte(0x0000), 0);  // page 0 itself still reads array data
    memory.writeByte(0x4000, 0xFF);
    EXPECT_EQ(memory.flashMode, FlashMode::ReadArray);
    EXPECT_EQ(memory.readByte(0x4000), 0);

    memory.writeByte(0x4000, 0x70);
    EXPECT_EQ(memory.readByte(0x5555), 0x80);
    memory.writeByte(0x4000, 0x90);  // any command but 0x40 leaves ID/status for array reads
    EXPECT_EQ(memory.flashMode, FlashMode::ReadArray);

    // Program replaces the byte (also from status mode).
    memory.setRomSelect(3);
    memory.setRomBankLow(6);  // page 70
    memory.flashImage[70 * Page + 0x123] = 0x00;
    memory.writeByte(0x4000, 0x70);
    memory.writeByte(0x4000, 0x40);
    memory.writeByte(0x4123, 0x12);
    EXPECT_EQ(flashAt(70, 0x123), 0x12);
    EXPECT_EQ(memory.readByte(0x4123), 0x12);
    EXPECT_EQ(memory.flashMode, FlashMode::ReadArray);

    // Unknown bytes in array mode are dropped.
    memory.writeByte(0x4123, 0x55);
    EXPECT_EQ(flashAt(70, 0x123), 0x12);

    // Erase four pages from romBank, unaligned; a wrong confirm erases nothing.
    memory.setRomBankLow(1);  // page 65
    memory.writeByte(0x4000, 0x20);
    memory.writeByte(0x4000, 0xD1);
    EXPECT_EQ(flashAt(65, 0), 65);
    memory.writeByte(0x7FFF, 0x20);
    memory.writeByte(0x4567, 0xD0);
    EXPECT_EQ(flashAt(64, 0), 64);
    EXPECT_EQ(flashAt(65, 0), 0xFF);
    EXPECT_EQ(flashAt(68, Page - 1), 0xFF);
    EXPECT_EQ(flashAt(68, 0), 0xFF);
    EXPECT_EQ(flashAt(69, 0), 69);

    // Near the end the erase stays inside the image.
    memory.setRomSelect(5);
    memory.setRomBankLow(62);  // page 190
    memory.writeByte(0x4000, 0x20);
    memory.writeByte(0x4000, 0xD0);
    EXPECT_EQ(flashAt(189, 0), 189);
    EXPECT_EQ(flashAt(190, 0), 0xFF);
    EXPECT_EQ(flashAt(191, 0), 0xFF);
}

TEST_F(MemoryMapTest, DisplayController) {
    memory.setRamSelect(6);
    memory.writeByte(0x8000, 3);
    EXPECT_EQ(memory.readByte(0x8000), 3);
    memory.writeByte(0x8100, 0xFF);  // top line, pixels 24-31
    EXPECT_EQ(memory.screenBits[303 * 20 + 3], 0xFF);
    EXPECT_EQ(memory.screenChanged.load(), 1);
    EXPECT_EQ(memory.readByte(0x8100), 0xFF);
    memory.writeByte(0x81EF, 0x81);  // line 239
    EXPECT_EQ(memory.screenBits[64 * 20 + 3], 0x81);
    EXPECT_EQ(memory.ramImage[0x100], 0);  // RAM underneath untouched

    memory.screenChanged.store(0);
    memory.writeByte(0x81F0, 0x55);  // no register
    memory.writeByte(0x8001, 0x55);
    EXPECT_EQ(memory.readByte(0x81F0), 0);
    EXPECT_EQ(memory.screenChanged.load(), 0);
    for (std::size_t i = 0; i < 64 * 20; ++i)
        ASSERT_EQ(memory.screenBits[i], 0) << "button strip lines written at " << i;

    memory.writeByte(0x8000, 20);
    EXPECT_EQ(memory.readByte(0x8100), 0);
    memory.writeByte(0x8100, 0x55);
    EXPECT_EQ(memory.screenChanged.load(), 0);
    EXPECT_EQ(memory.screenBits[303 * 20 + 19], 0);
    EXPECT_EQ(memory.screenBits[302 * 20 + 0], 0);  // no spill into the next line

    // A front end's own bitmap takes over.
    uint8_t bitmap[MemoryMap::ScreenBytes] = {};
    memory.screenBits = bitmap;
    memory.writeByte(0x8000, 0);
    memory.writeByte(0x8105, 0x3C);
    EXPECT_EQ(bitmap[298 * 20], 0x3C);

    memory.resetMapping();
    EXPECT_FALSE(memory.window2Lcd);
    EXPECT_EQ(memory.lcdColumn, 0);
    EXPECT_EQ(memory.screenChanged.load(), 0);
    EXPECT_EQ(bitmap[298 * 20], 0x3C);  // reset leaves the screen alone
}

// Window 2 reads the display from a shadow page; it must follow every way the
// screen or the column can change, or reads go stale.
TEST_F(MemoryMapTest, DisplayReadsFollowScreenAndColumn) {
    uint8_t bitmap[MemoryMap::ScreenBytes];
    for (std::size_t i = 0; i < MemoryMap::ScreenBytes; ++i)
        bitmap[i] = static_cast<uint8_t>(i * 7 + 1);
    memory.screenBits = bitmap;  // re-pointed while the display is not shown
    const auto screenAt = [&](int line, int column) { return bitmap[(303 - line) * 20 + column]; };

    memory.setRamSelect(6);
    EXPECT_EQ(memory.readByte(0x8000), 0);
    EXPECT_EQ(memory.readByte(0x8100), screenAt(0, 0));
    EXPECT_EQ(memory.readByte(0x81EF), screenAt(239, 0));
    memory.writeByte(0x8000, 7);
    EXPECT_EQ(memory.readByte(0x8000), 7);
    EXPECT_EQ(memory.readByte(0x8100), screenAt(0, 7));
    EXPECT_EQ(memory.readByte(0x8150), screenAt(0x50, 7));
    memory.writeByte(0x8123, 0x5A);
    EXPECT_EQ(memory.readByte(0x8123), 0x5A);
    for (uint16_t a : {0x8001, 0x80FF, 0x81F0, 0x9100, 0xBFFF})
        EXPECT_EQ(memory.readByte(a), 0) << std::hex << a;

    // Page-register writes that keep the display shown keep the shadow too.
    memory.setRamBankLow(3);
    EXPECT_EQ(memory.readByte(0x8123), 0x5A);
    memory.writeByte(0x8000, 25);
    EXPECT_EQ(memory.readByte(0x8000), 25);
    EXPECT_EQ(memory.readByte(0x8123), 0);  // no such column
    memory.writeByte(0x8000, 7);
    EXPECT_EQ(memory.readByte(0x8123), 0x5A);

    // Changes made while RAM is shown appear when the display comes back.
    memory.setRamSelect(1);
    EXPECT_EQ(memory.readByte(0x8001), 0xA3);  // RAM page 3
    bitmap[(303 - 0x23) * 20 + 7] = 0x99;
    memory.setRamSelect(6);
    EXPECT_EQ(memory.readByte(0x8123), 0x99);
    EXPECT_EQ(memory.readByte(0x8000), 7);

    // A direct change of the public fields is picked up by rebuildPages.
    memory.lcdColumn = 2;
    memory.rebuildPages();
    EXPECT_EQ(memory.readByte(0x8000), 2);
    EXPECT_EQ(memory.readByte(0x8100), screenAt(0, 2));
}

TEST_F(MemoryMapTest, FlashIdAndStatusAcrossWindowOne) {
    memory.writeByte(0x4000, 0x90);
    EXPECT_EQ(memory.readByte(0x4000), 0x89);
    EXPECT_EQ(memory.readByte(0x7FFF), 0xA6);
    EXPECT_EQ(memory.readByte(0x0000), 0);  // page 0 still shows array data
    memory.writeByte(0x4000, 0xFF);
    memory.writeByte(0x5000, 0x70);
    EXPECT_EQ(memory.readByte(0x4001), 0x80);
    EXPECT_EQ(memory.readByte(0x7FFE), 0x80);
    memory.writeByte(0x4000, 0xFF);
    EXPECT_EQ(memory.readByte(0x4000), 0);  // array data of page 0 again
}

// readWord takes one lookup for both bytes; across window edges and in every
// kind of read page it must answer what two byte reads do.
TEST_F(MemoryMapTest, ReadWordMatchesTwoByteReads) {
    for (std::size_t i = 0; i < MemoryMap::FlashSize; i += 4099)
        memory.flashImage[i] = static_cast<uint8_t>(i >> 3);
    for (std::size_t i = 0; i < MemoryMap::RamSize; i += 7)
        memory.ramImage[i] = static_cast<uint8_t>(i * 13 + 5);
    memory.setRomBankLow(9);
    memory.setRamBankLow(5);
    const auto check = [&](const char* what) {
        for (uint32_t a : {0x0000u, 0x1003u, 0x3FFEu, 0x3FFFu, 0x4000u, 0x4001u, 0x7FFFu, 0x8000u, 0x8100u, 0x81EFu,
                           0xBFFFu, 0xC000u, 0xC007u, 0xFFFEu, 0xFFFFu}) {
            const uint16_t address = static_cast<uint16_t>(a);
            const uint16_t expected = static_cast<uint16_t>(
                memory.readByte(address) | memory.readByte(static_cast<uint16_t>(address + 1)) << 8);
            EXPECT_EQ(memory.readWord(address), expected) << what << " at " << std::hex << a;
        }
    };
    check("RAM in window 2");
    memory.setRamSelect(7);
    check("flash in window 2");
    memory.setRamSelect(6);
    memory.writeByte(0x8000, 4);
    memory.writeByte(0x8100, 0x12);
    memory.writeByte(0x8101, 0x34);
    EXPECT_EQ(memory.readWord(0x8100), 0x3412);
    check("display in window 2");
    memory.writeByte(0x4000, 0x90);
    EXPECT_EQ(memory.readWord(0x4000), 0xA689);
    check("flash identifier");
    memory.writeByte(0x4000, 0xFF);
    memory.writeByte(0x4000, 0x70);
    EXPECT_EQ(memory.readWord(0x5000), 0x8080);
    check("flash status");
    memory.ramImage[0x3FFF] = 0xAB;
    memory.flashImage[0] = 0xCD;
    EXPECT_EQ(memory.readWord(0xFFFF), 0xCDAB);  // wraps to flash page 0
}

TEST_F(MemoryMapTest, WriteBankedRestoresMapping) {
    memory.setRomSelect(3);
    memory.setRomBankLow(2);
    memory.setRamSelect(6);
    memory.writeByte(0x4000, 0x90);  // mode is neither used nor changed
    const int romBank = memory.romBank, ramBank = memory.ramBank;

    memory.writeBanked(0x0000, false, true, 0x1234, 0x0010);  // page 0 is writable this way
    EXPECT_EQ(memory.flashImage[0x10], 0x34);
    memory.writeBanked(0x050A, false, false, 0xBEEF, 0x4100);  // window 1, page 138
    EXPECT_EQ(flashAt(138, 0x100), 0xEF);
    EXPECT_EQ(flashAt(138, 0x101), 0xBE);
    memory.writeBanked(0x0105, true, false, 0xCAFE, 0xBFFF);  // RAM page 5, second byte into page 6
    EXPECT_EQ(memory.ramImage[5 * Page + 0x3FFF], 0xFE);
    EXPECT_EQ(memory.ramImage[6 * Page], 0xCA);
    memory.writeBanked(0x0301, true, true, 0x42, 0x8003);  // flash page 65 through window 2
    EXPECT_EQ(flashAt(65, 3), 0x42);
    memory.writeBanked(0x0000, true, false, 0x0102, 0xC000);
    EXPECT_EQ(memory.ramImage[0], 0x02);
    EXPECT_EQ(memory.ramImage[1], 0x01);
    memory.writeBanked(0x0000, true, false, 0xAABB, 0xFFFF);  // last RAM byte: high byte has nowhere to go
    EXPECT_EQ(memory.ramImage[0x3FFF], 0xBB);

    EXPECT_EQ(memory.romBank, romBank);
    EXPECT_EQ(memory.romSelect, 3);
    EXPECT_EQ(memory.ramBank, ramBank);
    EXPECT_EQ(memory.ramSelect, 6);
    EXPECT_TRUE(memory.window2Lcd);
    EXPECT_FALSE(memory.window2Flash);
    EXPECT_EQ(memory.flashMode, FlashMode::ReadId);
    EXPECT_EQ(memory.screenChanged.load(), 0);
    EXPECT_EQ(memory.readByte(0x4001), 0xA6);  // page pointers follow the restored mapping
    memory.writeByte(0x4000, 0xFF);
    EXPECT_EQ(memory.readByte(0x4000), 66);
}

TEST(MemoryMapNoImages, AccessesBeforeStartAreHarmless) {
    MemoryMap memory;
    ASSERT_NE(memory.screenBits, nullptr);
    EXPECT_EQ(memory.readByte(0xC000), 0xFF);
    memory.writeByte(0xC000, 1);
    memory.writeBanked(0, true, false, 0x1234, 0xC000);
    EXPECT_FALSE(memory.imagesAllocated());
}

}  // namespace
