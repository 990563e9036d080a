// The owned wide and narrow strings.
#include "ravlib/strings.h"

#include <gtest/gtest.h>

#include <memory>

using ravlib::string::CAnsiString;
using ravlib::string::CWideString;

namespace {

TEST(Strings, CopiesAndEmptyStrings) {
    wchar_t text[] = L"game.example.com";
    CWideString wide(text);
    text[0] = L'X';
    EXPECT_STREQ(wide.c_str(), L"game.example.com");
    EXPECT_EQ(wide.Length(), 16u);

    CWideString none(nullptr);
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_EQ(none.Text(), nullptr);
    EXPECT_STREQ(none.c_str(), L"");

    CAnsiString narrow("abc");
    EXPECT_STREQ(narrow.c_str(), "abc");
    EXPECT_TRUE(narrow.Assign("longer text"));
    EXPECT_STREQ(narrow.c_str(), "longer text");
    EXPECT_TRUE(narrow.Assign(nullptr));
    EXPECT_EQ(narrow.Text(), nullptr);
    EXPECT_TRUE(narrow.Assign(""));
    EXPECT_TRUE(narrow.IsEmpty());
}

TEST(Strings, ToAnsi) {
    // Into a new string, which the caller deletes.
    CWideString host(L"cdn.example.com");
    std::unique_ptr<CAnsiString> created(host.ToAnsi());
    ASSERT_TRUE(created);
    EXPECT_STREQ(created->c_str(), "cdn.example.com");

    // Into a given string, replacing what it held.
    CAnsiString target("old contents that are longer");
    EXPECT_EQ(host.ToAnsi(&target), &target);
    EXPECT_STREQ(target.c_str(), "cdn.example.com");

    // An empty or absent source leaves the target empty.
    CWideString empty(L"");
    EXPECT_EQ(empty.ToAnsi(&target), &target);
    EXPECT_TRUE(target.IsEmpty());
    CWideString absent;
    std::unique_ptr<CAnsiString> fromAbsent(absent.ToAnsi());
    ASSERT_TRUE(fromAbsent);
    EXPECT_TRUE(fromAbsent->IsEmpty());
}

}  // namespace
