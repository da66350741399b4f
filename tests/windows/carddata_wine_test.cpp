// carddata.exe reading through Wine's smart-card service, whose context call is a stub that
// answers SCARD_F_INTERNAL_ERROR: the library's PC/SC status goes into the one reply line as it
// is (a negative decimal), nothing reaches standard error, and the exit status stays 0.
#include "carddata_run.h"

namespace carddatatest {
namespace {

const long long kInternalError = static_cast<int>(0x80100001u);

TEST(CarddataUnderWine, ReadThroughTheStubServiceGivesOnePcscErrorLine) {
    const struct {
        const char* name;
        std::string request;
    } cases[] = {
        {"named reader", request("1234", "ABCD", ",\"ReaderSlot\":\"Reader 00 00\"")},
        {"reader chosen in the dialog", request("1234", "ABCD")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const pcsctest::ProgramResult r = runCarddata({c.request});
        EXPECT_EQ(r.out, replyLine("", kInternalError));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitStatus, 0);
    }
}

}  // namespace
}  // namespace carddatatest
