#include <gtest/gtest.h>

#include "Platform/Foundation/PlatformError.h"
#include "Platform/Foundation/ValueSet.h"
#include "tests/support/TestHelpers.h"

using namespace platform;

using testsupport::ErrorCodeOf;

TEST(ValueSet, KindsStayDistinctAndWrongKindIsNoInterface) {
    ValueSet nested{{"uri", Value("corvana:context")}};
    ValueSet set{{"text", Value("a")},
                 {"flag", Value(true)},
                 {"int", Value(int32_t{7})},
                 {"double", Value(0.5)},
                 {"texts", Value(std::vector<std::string>{"x", "y"})},
                 {"nested", Value(nested)}};

    EXPECT_EQ(set.Lookup("text").AsString(), "a");
    EXPECT_TRUE(set.Lookup("flag").AsBoolean());
    EXPECT_EQ(set.Lookup("int").AsInt32(), 7);
    EXPECT_DOUBLE_EQ(set.Lookup("double").AsDouble(), 0.5);
    EXPECT_EQ(set.Lookup("texts").AsStringArray(), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(set.Lookup("nested").AsValueSet().Lookup("uri").AsString(), "corvana:context");

    // Every reading of a value as a kind it is not fails the same way; numbers never convert.
    EXPECT_EQ(ErrorCodeOf([&] { set.Lookup("int").AsDouble(); }), E_NOINTERFACE);
    EXPECT_EQ(ErrorCodeOf([&] { set.Lookup("double").AsInt32(); }), E_NOINTERFACE);
    EXPECT_EQ(ErrorCodeOf([&] { set.Lookup("text").AsBoolean(); }), E_NOINTERFACE);
    EXPECT_EQ(ErrorCodeOf([&] { set.Lookup("flag").AsString(); }), E_NOINTERFACE);
    EXPECT_EQ(ErrorCodeOf([&] { set.Lookup("texts").AsString(); }), E_NOINTERFACE);
    EXPECT_EQ(ErrorCodeOf([&] { set.Lookup("nested").AsStringArray(); }), E_NOINTERFACE);
    EXPECT_EQ(ErrorCodeOf([&] { set.Lookup("text").AsValueSet(); }), E_NOINTERFACE);
}

TEST(ValueSet, MissingKeyIsOutOfBoundsAndInsertReplaces) {
    ValueSet set;
    EXPECT_EQ(ErrorCodeOf([&] { set.Lookup("method"); }), E_BOUNDS);
    EXPECT_FALSE(set.HasKey("method"));

    EXPECT_FALSE(set.Insert("method", Value("me")));
    EXPECT_TRUE(set.Insert("method", Value(int32_t{1})));
    EXPECT_EQ(set.Size(), 1u);
    EXPECT_EQ(set.Lookup("method").Kind(), ValueKind::Int32);
    EXPECT_TRUE(set.Remove("method"));
    EXPECT_EQ(ErrorCodeOf([&] { set.Lookup("method"); }), E_BOUNDS);
}

TEST(ValueSet, CopiesAreIndependentAndCompareByContent) {
    ValueSet inner{{"a", Value(int32_t{1})}};
    ValueSet outer{{"inner", Value(inner)}};
    ValueSet copy = outer;
    copy.Insert("inner", Value(ValueSet{{"a", Value(int32_t{2})}}));
    EXPECT_EQ(outer.Lookup("inner").AsValueSet().Lookup("a").AsInt32(), 1);
    EXPECT_FALSE(copy == outer);
    EXPECT_TRUE((ValueSet{{"inner", Value(inner)}}) == outer);
    // Same number, different kinds: not equal.
    EXPECT_FALSE(Value(int32_t{1}) == Value(1.0));
}

TEST(PlatformError, CarriesCodeAndMessage) {
    PlatformError error(E_UNEXPECTED, "no channel");
    EXPECT_EQ(error.code(), static_cast<int32_t>(0x8000FFFF));
    EXPECT_EQ(error.message(), "no channel");
    EXPECT_STREQ(error.what(), "0x8000FFFF no channel");
}
