// The Big5 message texts against the texts the service shows, through the C library's own
// converter, and through the program's toUtf8.
#include "messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "code_page_950.h"
#include "platform/text.h"

namespace {

// Plain Big5 here, where the program reads code page 950: two converters must agree.
std::string big5ToUtf8(const std::string& big5) {
    return testsupport::convertText("UTF-8", "BIG5", big5);
}

const char* const kTableUtf8[pincheck::messages::kTableSize] = {
    "初始化函式庫失敗!!!",
    "取得讀卡機失敗!!!",
    "登入卡片失敗",
    "登出錯誤",
    "卡片未插入",
    "PIN碼錯誤",
    "取得金鑰數目發生錯誤",
    "取得金鑰ID發生錯誤",
    "取得憑證數目發生錯誤",
    "取得憑證ID發生錯誤",
    "取得指定憑證失敗",
    "取得公開金鑰失敗",
    "取得簽章金鑰失敗",
    "進行簽章",
    "驗章失敗",
    "加密失敗",
    "取得解密金鑰失敗",
    "解密失敗",
    "解析憑證資料失敗",
    "編碼憑證資料失敗",
};

TEST(MessageTable, EveryEntryIsTheBig5OfItsText) {
    for (std::size_t i = 0; i < pincheck::messages::kTableSize; ++i) {
        const char* big5 = pincheck::messages::kTable[i];
        EXPECT_EQ(big5ToUtf8(big5), kTableUtf8[i]) << "entry " << i + 1;
        EXPECT_EQ(pincheck::toUtf8(big5), kTableUtf8[i]) << "entry " << i + 1;
    }
}

TEST(MessageTable, LoginAndFailureTexts) {
    namespace m = pincheck::messages;
    const struct {
        const char* big5;
        const char* utf8;
    } cases[] = {{m::kFirstWrongEntry, "第一次密碼輸入錯誤"},
                 {m::kSecondWrongEntry, "第二次密碼輸入錯誤"},
                 {m::kPinTooShort, "密碼長度不足"},
                 {m::kDataError, "資料錯誤"}};
    for (const auto& c : cases) {
        EXPECT_EQ(big5ToUtf8(c.big5), c.utf8);
        EXPECT_EQ(pincheck::toUtf8(c.big5), c.utf8);
        // Byte for byte: the failure reply sends the data error text as Big5 without conversion.
        EXPECT_EQ(testsupport::convertText("BIG5", "UTF-8", c.utf8), c.big5);
    }
}

TEST(ToUtf8, KeepsAsciiAndMarksBytesBig5DoesNotDefine) {
    EXPECT_EQ(pincheck::toUtf8(""), "");
    EXPECT_EQ(pincheck::toUtf8("PIN 1234 !!!"), "PIN 1234 !!!");
    // A lead byte cut off at the end, and one followed by a byte that cannot trail it.
    EXPECT_EQ(pincheck::toUtf8("ab\xA4"), "ab\xEF\xBF\xBD");
    EXPECT_EQ(pincheck::toUtf8("\xA4\x01z"), "\xEF\xBF\xBD\x01z");
    // Longer than one conversion chunk: nothing is lost at the seams.
    std::string longBig5;
    std::string longUtf8;
    for (int i = 0; i < 300; ++i) {
        longBig5 += "\xA5\x64x";
        longUtf8 += "卡x";
    }
    EXPECT_EQ(pincheck::toUtf8(longBig5.c_str()), longUtf8);
}

}  // namespace
