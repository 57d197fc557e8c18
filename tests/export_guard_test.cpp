// No exception leaves the library: whatever an export's body throws becomes
// a status code and this thread's message (the seven calls: 0 and their
// process-wide text), through the one guard every export uses.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "api/export_guard.h"

namespace {

TEST(ExportGuard, AnExceptionBecomesAStatusAndAMessage) {
    using namespace imgtext;
    const auto out_of_memory = [] {
        std::vector<char> huge;
        huge.reserve(SIZE_MAX);  // past max_size(): the standard library throws length_error
        return IMGTEXT_OK;
    };
    EXPECT_EQ(api_call(out_of_memory), IMGTEXT_ERROR_MEMORY);
    EXPECT_STREQ(error_text(), "out of memory");
    EXPECT_EQ(api_call([]() -> imgtext_status { throw std::runtime_error("boom"); }), IMGTEXT_ERROR_MEMORY);
    EXPECT_STREQ(error_text(), "internal error: an unexpected exception");
    EXPECT_EQ(api_call([] { return IMGTEXT_OK; }), IMGTEXT_OK);
    EXPECT_STREQ(error_text(), "");  // cleared on entry

    EXPECT_EQ(seven_call(out_of_memory), 0);
    EXPECT_STREQ(s_err, "out of memory");
    EXPECT_EQ(seven_call([] { return IMGTEXT_OK; }), 1);
    EXPECT_STREQ(s_err, "");

    EXPECT_EQ(api_value(-1, []() -> int { throw std::bad_alloc(); }), -1);
    api_void([] { throw 7; });  // swallowed: a void export has no way to fail
}

}  // namespace
