// Test helpers that GoogleTest lacks: byte-exact comparison with the first differing offset, and
// checking a Result's error code and message together.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "error.h"

namespace tessary::testing {

// Fails with the first differing offset and some context of both texts.
inline void expect_bytes(std::string_view got, std::string_view want) {
    if (got == want) return;
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    size_t from = at > 40 ? at - 40 : 0;
    ADD_FAILURE() << "bytes differ at offset " << at << " (got " << got.size() << " bytes, want "
                  << want.size() << ")\n  got:  ..." << got.substr(from, 100) << "\n  want: ..."
                  << want.substr(from, 100);
}

template <class R>
void expect_error(const R& result, ErrorCode code, std::string_view message) {
    ASSERT_FALSE(result.ok()) << "expected " << code_name(code) << ": " << message;
    EXPECT_EQ(code_name(result.error().code), code_name(code));
    EXPECT_EQ(result.error().message, message);
}

}  // namespace tessary::testing
