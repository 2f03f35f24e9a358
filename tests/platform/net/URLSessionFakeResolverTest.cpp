// The fake resolver the network tests stand on: it must answer numeric hosts and "localhost"
// locally, names from its table, EAI_NONAME for the rest, honour the family hint, and put the
// previous resolver back when its scope ends.

#include "tests/support/FakeResolver.h"

#include <gtest/gtest.h>
#include <netdb.h>

using namespace platform;
using namespace liveapp::test;

namespace {

std::vector<std::string> answer(FakeResolver& resolver, std::string_view host, int family = AF_UNSPEC,
                                int* code = nullptr) {
    std::vector<ResolvedAddress> out;
    ResolveHints hints;
    hints.family = family;
    int result = resolver.resolve(host, "8080", hints, out);
    if (code)
        *code = result;
    std::vector<std::string> texts;
    for (const auto& address : out) {
        EXPECT_EQ(address.port(), 8080);
        texts.push_back(address.numericHost());
    }
    return texts;
}

TEST(URLSessionFakeResolver, AnswersNumericHostsAndLocalhostLocally) {
    FakeResolver resolver;
    EXPECT_EQ(answer(resolver, "127.0.0.1"), std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(answer(resolver, "::1"), std::vector<std::string>{"::1"});
    EXPECT_EQ(answer(resolver, "[::1]"), std::vector<std::string>{"::1"});
    EXPECT_EQ(answer(resolver, "LocalHost"), (std::vector<std::string>{"127.0.0.1", "::1"}));
    EXPECT_EQ(answer(resolver, "localhost", AF_INET), std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(answer(resolver, "localhost", AF_INET6), std::vector<std::string>{"::1"});
}

TEST(URLSessionFakeResolver, NamesComeFromTheTableAndEverythingElseIsUnknown) {
    FakeResolver resolver;
    resolver.add("Api.Example.Test", {"127.0.0.1", "::1"});
    resolver.fail("down.example.test", EAI_AGAIN);
    int code = 0;
    EXPECT_EQ(answer(resolver, "api.example.test"), (std::vector<std::string>{"127.0.0.1", "::1"}));
    EXPECT_TRUE(answer(resolver, "down.example.test", AF_UNSPEC, &code).empty());
    EXPECT_EQ(code, EAI_AGAIN);
    EXPECT_TRUE(answer(resolver, "example.com", AF_UNSPEC, &code).empty());
    EXPECT_EQ(code, EAI_NONAME);
    resolver.remove("api.example.test");
    answer(resolver, "api.example.test", AF_UNSPEC, &code);
    EXPECT_EQ(code, EAI_NONAME);
    EXPECT_EQ(resolver.lookupCount("API.example.test"), 2u);
    EXPECT_EQ(resolver.lookups().front(), "api.example.test");
}

TEST(URLSessionFakeResolver, FamilyHintAndNumericOnlyLookupsAreHonoured) {
    FakeResolver resolver;
    resolver.add("v4only.test", {"127.0.0.1"});
    int code = 0;
    EXPECT_TRUE(answer(resolver, "v4only.test", AF_INET6, &code).empty());
    EXPECT_EQ(code, EAI_NONAME);
    std::vector<ResolvedAddress> out;
    ResolveHints numericOnly;
    numericOnly.flags = AI_NUMERICHOST;
    EXPECT_EQ(resolver.resolve("v4only.test", "80", numericOnly, out), EAI_NONAME);
    EXPECT_EQ(resolver.resolve("127.0.0.1", "http", {}, out), EAI_SERVICE);
    ResolveHints passive;
    passive.flags = AI_PASSIVE;
    passive.family = AF_INET;
    ASSERT_EQ(resolver.resolve("", "80", passive, out), 0);
    EXPECT_EQ(out.at(0).numericHost(), "0.0.0.0");
}

TEST(URLSessionFakeResolver, ScopedResolverPutsThePreviousOneBack) {
    auto before = Resolver::current();
    auto fake = std::make_shared<FakeResolver>();
    {
        ScopedResolver installed(fake);
        EXPECT_EQ(Resolver::current(), fake);
        {
            auto inner = std::make_shared<FakeResolver>();
            ScopedResolver nested(inner);
            EXPECT_EQ(Resolver::current(), inner);
        }
        EXPECT_EQ(Resolver::current(), fake);
    }
    EXPECT_EQ(Resolver::current(), before);
}

} // namespace
