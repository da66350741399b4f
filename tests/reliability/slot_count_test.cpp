// GetSlotID over a module that answers CKR_OK while reporting more slots than the caller's array
// holds (on the second call, after a first call that said they fit). The module cannot have
// written them all, and a caller that reads as many entries as the count says would read past
// its array. Found by the token layer fuzzer
// (fuzz/corpus/token_layer_fuzzer/crash-slot-count-beyond-array).
#include <gtest/gtest.h>

#include "layer.h"

namespace reliability {
namespace {

// The slot counts the module reports, one per C_GetSlotList call.
CK_ULONG g_counts[2];
int g_call;

CK_RV lyingSlotList(CK_BBOOL, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    const CK_ULONG reported = g_counts[g_call++ % 2];
    if (list) {
        for (CK_ULONG i = 0; i < reported && i < *count; ++i) list[i] = 100 + i;
    }
    *count = reported;
    return CKR_OK;
}

TEST(SlotCount, NeverReportsMoreSlotsThanTheArrayHolds) {
    const struct {
        const char* name;
        CK_ULONG first, second;
        TokenResult result;
        CK_ULONG count;  // the caller's count afterwards; capacity 10 on entry
    } cases[] = {
        {"honest module", 3, 3, 0, 3},
        {"more slots on the second call", 3, 12, token::kTextTooSmall, 10},
        {"exactly the capacity", 10, 10, 0, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CK_FUNCTION_LIST functions{};
        functions.C_GetSlotList = lyingSlotList;
        token::LibraryBinding binding{nullptr, &functions};
        TokenContext ctx{&binding, nullptr, 0};
        g_counts[0] = c.first;
        g_counts[1] = c.second;
        g_call = 0;

        CK_SLOT_ID slots[10] = {};
        CK_ULONG count = 10;
        EXPECT_EQ(GetSlotID(&ctx, slots, &count), c.result);
        EXPECT_EQ(count, c.count);
    }
}

}  // namespace
}  // namespace reliability
