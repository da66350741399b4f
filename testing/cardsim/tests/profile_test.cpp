// Card descriptions: options, description files, and the index layout the library searches.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "card_profile.h"
#include "issuer_keys.h"

namespace cardsim {
namespace {

TEST(Index, EntriesFollowAnElevenByteHeader) {
    Bytes index = buildIndex({{"ABCD", 0x05}, {"XY", 0x3F}});
    ASSERT_EQ(index.size(), kIndexSize);
    // Key, '=', mask byte at offset 5 of the occurrence, ';'.
    EXPECT_EQ(std::string(index.begin() + 11, index.begin() + 25),
              std::string("ABCD=\x05;XY  =?;"));
    EXPECT_TRUE(std::all_of(index.begin() + 25, index.end(), [](std::uint8_t b) { return !b; }));
}

TEST(Options, AcceptedAndRefusedValues) {
    const struct {
        const char* name;
        const char* value;
        bool ok;
    } cases[] = {
        {"kind", "starcos", true},
        {"kind", "java", false},
        {"entry", "ABCD=3F", true},
        {"entry", "ABCDE=01", false},
        {"entry", "ABCD=100", false},
        {"records", "6", true},
        {"records", "7", false},
        {"record", "2=0102", true},
        {"record", "0=01", false},
        {"record-size", "1=300", true},
        {"declared-size", "AC01=2000", true},
        {"pin-df", "5030", true},
        {"pin-df", "0900", false},
        {"key-b", "00112233445566778899AABBCCDDEEFF", true},
        {"key-b", "0011", false},
        {"fault", "80B0#2=short:3", true},
        {"fault", "80B0#0=short:3", false},
        {"fault", "80B0=explode", false},
        {"fault", "zz=drop", false},
        {"tries", "0", false},
        {"atr", "3B", false},
        {"port", "35000", true},
        {"verify-reply", "protected-bad-mac", true},
        {"colour", "blue", false},
    };
    for (const auto& c : cases) {
        SimOptions options;
        EXPECT_EQ(applyOption(options, c.name, c.value).empty(), c.ok) << c.name << " " << c.value;
    }
}

TEST(Options, DescriptionFileSetsTheCard) {
    std::string path = ::testing::TempDir() + "card-" + std::to_string(getpid()) + ".txt";
    {
        std::ofstream f(path);
        f << "# a STARCOS card with two records\n"
          << "kind starcos\n\n"
          << "pin 987654\n"
          << "entry K1=02\n"
          << "record-size 2=300\n"
          << "tries-left 1\n";
    }
    SimOptions options;
    EXPECT_EQ(applyOption(options, "card", path), "");
    EXPECT_EQ(options.card.kind, CardKind::Starcos);
    EXPECT_EQ(options.card.pin, Bytes({'9', '8', '7', '6', '5', '4'}));
    ASSERT_EQ(options.card.entries.size(), 1u);
    EXPECT_EQ(options.card.entries[0].mask, 0x02);
    EXPECT_EQ(options.card.records.at(2).size(), 300u);
    EXPECT_EQ(options.card.triesLeft, 1);

    std::ofstream(path, std::ios::app) << "entry broken\n";
    SimOptions again;
    EXPECT_NE(applyOption(again, "card", path).find(":8:"), std::string::npos);
    std::remove(path.c_str());
}

TEST(Keys, TheBuildsKeyFileGivesKeyBAndTheAuthenticationKey) {
    // The simulator deciphers key B from the stored block itself; the file's clear copy agrees.
    CardKeys keys = loadCardKeys(defaultKeyFile());
    EXPECT_EQ(keys.keyB.size(), 16u);
    EXPECT_EQ(keys.authKey.size(), 16u);
    EXPECT_NE(keys.keyB, keys.authKey);
    EXPECT_THROW(loadCardKeys("/nonexistent/keys.txt"), std::runtime_error);
}

}  // namespace
}  // namespace cardsim
