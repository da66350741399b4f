// The Chinese texts are typed as code page 950 bytes; iconv, an independent converter, must turn
// each back into exactly the characters the product shows (including its odd ones).
#include "messages.h"

#include <gtest/gtest.h>

#include <string>

#include "code_page_950.h"
#include "text_buffer.h"

namespace servicectl {
namespace {

using testsupport::cp950ToUtf8;

struct ChineseCase {
    const char* name;
    const Text* text;
    const char* utf8;
};

const ChineseCase kChineseCases[] = {
    {"stopped", &messages::kStopped, "跨平台元件已停止"},
    {"stopFailed", &messages::kStopFailed, "跨平台元件無法停止"},
    // 末 (end), not 未 (not): the product shows it this way.
    {"notRunning", &messages::kNotRunning, "跨平台元件末執行"},
    {"alreadyRunning", &messages::kAlreadyRunning, "跨平台元件已在執行中"},
    {"starts", &messages::kStarts, "跨平台元件已啟動"},
    {"cannotInitialize", &messages::kCannotInitialize, "無法啟動跨平台元件"},
    {"usage", &messages::kUsage,
     "請輸入參數\n/start:啟動\n/stop:停止\n/debugBegin:開始偵錯\n/debugEnd:結束偵錯"},
    {"troubleshootingEnded", &messages::kTroubleshootingEnded, "跨平台網頁元件偵錯結束"},
    {"beginBox", &messages::kBeginBox,
     "跨平台網頁元件偵錯開始 (偵錯元件版本1.0.3.1013)。\n\n相關記錄檔將出現在您的『桌面』上，"
     "檔名為『VemraLog_』開頭的檔案。\n\n若在按結束偵錯模式或重新開機後這些記錄檔仍存在的話，"
     "請自行刪除。\n\n注意：由於部分電腦權限問題，先按『停止元件服務』再按『啟動元件服務』然後再按"
     "本『進行元件偵錯(開始)』(有時甚至要再接著按停止和啟動元件一次)，才有可能寫入記錄檔debug.log"
     "和exceptions.log"},
    {"versionBox", &messages::kVersionBox, "跨平台網頁元件偵錯工具，版本1.0.3.1013"},
    {"installed", &messages::kInstalled, "已安裝跨平台網頁元件"},
    {"runningAppended", &messages::kRunningAppended, "\r\n跨平台元件執行中\r\n"},
    {"restartingAppended", &messages::kRestartingAppended,
     "\r\n跨平台元件未執行，重新啟動跨平台元件\r\n"},
    {"notInstalled", &messages::kNotInstalled, "未安裝跨平台網頁元件 (代碼:%d)"},
};

TEST(MessagesTest, ChineseTextsAreTheListedCharactersInCodePage950) {
    for (const ChineseCase& c : kChineseCases) {
        EXPECT_EQ(cp950ToUtf8(c.text->chinese), c.utf8) << c.name;
    }
}

TEST(MessagesTest, LanguageTraditionalChineseSelectsChineseEveryOtherEnglish) {
    const std::uint16_t otherLanguages[] = {0x0409, 0x0804, 0x0C04, 0x0411, 0x0000, 0x0405};
    EXPECT_STREQ(messages::kStopped.in(0x0404), messages::kStopped.chinese);
    for (std::uint16_t language : otherLanguages) {
        EXPECT_STREQ(messages::kStopped.in(language), "IC Card component has been stopped")
            << std::hex << language;
    }
}

TEST(TextBufferTest, RefusesWholeTextsThatWouldNotFitWithTheirTerminator) {
    struct Case {
        std::size_t first;
        std::size_t second;
        bool secondFits;
        std::size_t resultingSize;
    };
    const Case cases[] = {
        {0, 259, true, 259},  // 259 bytes and the NUL fill the buffer exactly
        {0, 260, false, 0},   // one byte too many
        {200, 59, true, 259}, {200, 60, false, 200},  // refused whole, the first part stays
        {259, 0, true, 259},  {259, 1, false, 259},
    };
    for (const Case& c : cases) {
        TextBuffer buffer;
        ASSERT_TRUE(buffer.append(std::string(c.first, 'a')));
        EXPECT_EQ(buffer.append(std::string(c.second, 'b')), c.secondFits)
            << c.first << "+" << c.second;
        EXPECT_EQ(buffer.size(), c.resultingSize);
        EXPECT_EQ(std::strlen(buffer.c_str()), c.resultingSize);
    }
}

}  // namespace
}  // namespace servicectl
