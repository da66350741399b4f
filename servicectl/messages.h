// The tool's message texts. Each text exists in English and in Traditional Chinese; the Chinese
// texts are code page 950 bytes, shown through the ANSI message box on a Traditional Chinese UI.
// The wording is the product's own, odd spellings included, so users and support recognise it.
#pragma once

#include <cstdint>

namespace servicectl {

// User interface language that selects the Chinese texts (Traditional Chinese).
constexpr std::uint16_t kTraditionalChineseUiLanguage = 0x0404;

struct Text {
    const char* english;
    const char* chinese;  // code page 950

    const char* in(std::uint16_t uiLanguage) const {
        return uiLanguage == kTraditionalChineseUiLanguage ? chinese : english;
    }
};

namespace messages {

extern const Text kStopped;
extern const Text kStopFailed;
extern const Text kNotRunning;
extern const Text kAlreadyRunning;
extern const Text kStarts;
extern const Text kCannotInitialize;
extern const Text kUsage;
extern const Text kTroubleshootingEnded;
extern const Text kBeginBox;
extern const Text kVersionBox;
extern const Text kInstalled;
extern const Text kRunningAppended;
extern const Text kRestartingAppended;
extern const Text kNotInstalled;

// Shown alike in both languages: the system error code of a failed process creation.
extern const char* const kCreationFailedFormat;

}  // namespace messages

namespace captions {
extern const char* const kOk;
extern const char* const kError;
extern const char* const kMessage;
extern const char* const kCaption;
extern const char* const kNone;
}  // namespace captions

}  // namespace servicectl
