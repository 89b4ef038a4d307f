// The retrieval module's thread rules abort the program where they are checked: in debug and
// sanitizer builds.
#include "net/CycleFixture.h"

#include "settings/IniFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace kavo {
namespace {

using namespace std::chrono_literals;
using test::HttpReply;
using test::Id;
using test::IndexLine;

class ThreadRulesTest : public test::CycleFixture
{
protected:
    void SetUp() override
    {
#ifndef KAVO_THREAD_CHECKS
        GTEST_SKIP() << "the thread rules are checked in debug and sanitizer builds";
#endif
        // The module has threads of its own: the child process starts the test afresh.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        CycleFixture::SetUp();
        MakeNet();
    }

    static void OnAnotherThread(const std::function<void()>& call)
    {
        std::thread(call).join();
    }
};

TEST_F(ThreadRulesTest, CallsFromAnotherThreadAbort)
{
    EXPECT_DEATH(OnAnotherThread([this] { net->StartRetrieval(); }),
                 "thread rule broken: on the main thread, in .*TkavoNet::StartRetrieval");
    EXPECT_DEATH(OnAnotherThread([this] { net->ClearLog(); }), "on the main thread, in .*TkavoNet::ClearLog");
}

TEST_F(ThreadRulesTest, WhatCannotWaitForARunningRefreshAborts)
{
    HttpReply slow = HttpReply::Ok(IndexLine("ch", Id(1)));
    slow.Delay = 1s;
    server.Route("/yp/index.txt", slow);
    AddYp("/yp/");
    net->Manual = true;
    net->StartRetrieval();

    EXPECT_DEATH(net->Yps(), "thread rule broken: no refresh running, in .*TkavoNet::Yps");
    EXPECT_DEATH(net->Prepare(IniFile()), "no refresh running, in .*TkavoNet::Prepare");
    EXPECT_DEATH(net->SetVisitedUrls(nullptr), "no refresh running, in .*TkavoNet::SetVisitedUrls");
    ASSERT_TRUE(loop.RunUntil([this] { return !net->Running(); }, 60s));
    EXPECT_EQ(net->Yps().Count(), 1);
}

} // namespace
} // namespace kavo
