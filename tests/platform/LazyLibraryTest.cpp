#include "platform/LazyLibrary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kavo {
namespace {

struct StringApi
{
    decltype(&::strlen) length;
    bool Bind(const DynamicLibrary& library, std::string& error)
    {
        return BindFunction(library, "strlen", length, error);
    }
};

struct MissingApi
{
    decltype(&::strlen) length;
    void (*absent)();
    bool Bind(const DynamicLibrary& library, std::string& error)
    {
        return BindFunction(library, "strlen", length, error) &&
               BindFunction(library, "kavo_no_such_symbol", absent, error);
    }
};

TEST(LazyLibrary, LoadsOnceOrSaysWhyNot)
{
    LazyLibrary<StringApi> libc("libc.so.6");
    const StringApi* api = libc.Get();
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->length("kavo"), 4u);
    EXPECT_EQ(libc.Get(), api);

    // A library that is not there, or lacks a function, gives no functions and a reason.
    LazyLibrary<StringApi> absent("libkavo-no-such-library.so.1");
    EXPECT_EQ(absent.Get(), nullptr);
    EXPECT_NE(absent.Error().find("libkavo-no-such-library"), std::string::npos);
    LazyLibrary<MissingApi> incomplete("libc.so.6");
    EXPECT_EQ(incomplete.Get(), nullptr);
    EXPECT_NE(incomplete.Error().find("kavo_no_such_symbol"), std::string::npos);
}

} // namespace
} // namespace kavo
