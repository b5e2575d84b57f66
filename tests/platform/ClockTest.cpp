#include <atomic>
#include <thread>

#include "TestMachine.h"
#include "kva/platform/Clock.h"

namespace {

using plat::CClock;
using plat::CEvent;
using Ms = std::chrono::milliseconds;

class ClockTest : public kvatest::CTestMachine {};

// The shape of the service's loops: sleep a long period, do a round, until stopped.
TEST_F(ClockTest, FakeClockStepsALoopThatSleeps120Seconds) {
    auto& clock = CClock::Get();
    CEvent stop;
    std::atomic<int> rounds{0};
    std::thread loop([&] {
        while (clock.Sleep(120000, &stop)) rounds++;
    });
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(clock.WaitForSleepers(1));
        EXPECT_EQ(clock.NextDeadlineIn(), 120000);
        clock.Advance(Ms(119999));
        EXPECT_EQ(clock.Sleepers(), 1u) << "woke before its time";
        clock.Advance(Ms(1));
        ASSERT_TRUE(clock.WaitForSleepers(1));
        EXPECT_EQ(rounds.load(), i);
    }
    stop.Set();
    loop.join();
    EXPECT_EQ(rounds.load(), 5);
}

TEST_F(ClockTest, StopEndsALongWaitAtOnceAndLaterWaitsReturnImmediately) {
    auto& clock = CClock::Get();
    CEvent stop;
    std::atomic<bool> slept{true};
    std::thread t([&] { slept = clock.Sleep(3600000, &stop); });
    ASSERT_TRUE(clock.WaitForSleepers(1));
    stop.Set();
    t.join();
    EXPECT_FALSE(slept.load());
    EXPECT_FALSE(clock.Sleep(CClock::kInfinite, &stop));
    EXPECT_EQ(clock.Sleepers(), 0u);
}

TEST_F(ClockTest, WaitReportsWhichEventAndTimesOutWithFakeTime) {
    auto& clock = CClock::Get();
    CEvent a, b;
    int which = -1;
    std::atomic<plat::WaitResult> result{plat::WaitResult::Timeout};
    std::thread t([&] { result = clock.Wait({&a, &b}, 10000, &which); });
    ASSERT_TRUE(clock.WaitForSleepers(1));
    b.Set();
    t.join();
    EXPECT_EQ(result.load(), plat::WaitResult::Signaled);
    EXPECT_EQ(which, 1);

    b.Reset();
    std::thread t2([&] { result = clock.Wait({&a, &b}, 10000, &which); });
    ASSERT_TRUE(clock.WaitForSleepers(1));
    clock.Advance(Ms(10000));
    t2.join();
    EXPECT_EQ(result.load(), plat::WaitResult::Timeout);
}

TEST_F(ClockTest, FakeTimeMovesTicksAndWallTogetherAndTheTickWraps) {
    auto& clock = CClock::Get();
    clock.UseFake(1000);
    const auto tick0 = clock.TickCount64();
    clock.Advance(Ms(5000));
    EXPECT_EQ(clock.TickCount64() - tick0, 5000u);
    EXPECT_EQ(clock.WallMs(), 6000);
    EXPECT_EQ(clock.PerformanceCounter(), static_cast<std::int64_t>(clock.TickCount64()) * 1000);
    clock.Advance(Ms(0x100000000LL));
    EXPECT_EQ(clock.TickCount(), static_cast<std::uint32_t>(tick0 + 5000));
}

TEST_F(ClockTest, SeveralSleepersWakeInDeadlineOrder) {
    auto& clock = CClock::Get();
    std::atomic<int> order{0}, first{-1}, second{-1};
    std::thread late([&] { clock.Sleep(2000); second = order++; });
    std::thread early([&] { clock.Sleep(1000); first = order++; });
    ASSERT_TRUE(clock.WaitForSleepers(2));
    clock.Advance(Ms(1000));
    early.join();
    EXPECT_EQ(first.load(), 0);
    EXPECT_EQ(clock.Sleepers(), 1u);
    clock.Advance(Ms(1000));
    late.join();
    EXPECT_EQ(second.load(), 1);
}

// A tracked thread is busy from its creation (before it has run) until it ends, except while it
// waits; the wake-up that Advance or an event brings makes it busy before Advance/Set returns. The
// thread holds after each wake-up until `release`, so the test sees it busy.
TEST_F(ClockTest, TrackedThreadsAreBusyUnlessTheyWaitOnTheClock) {
    auto& clock = CClock::Get();
    CEvent stop, poke;
    std::atomic<int> rounds{0};
    std::atomic<bool> release{false};
    auto hold = [&] {
        while (!release.exchange(false)) std::this_thread::yield();
    };
    const std::size_t before = clock.BusyThreads();
    std::thread loop(clock.Tracked([&] {
        hold();
        for (;;) {
            int which = -1;
            if (clock.Wait({&stop, &poke}, 60000, &which) == plat::WaitResult::Signaled && which == 0) break;
            poke.Reset();
            rounds++;
            hold();
        }
    }));
    std::thread untracked([&] { clock.Sleep(CClock::kInfinite, &stop); });
    EXPECT_EQ(clock.BusyThreads(), before + 1) << "counted before it runs";
    EXPECT_FALSE(clock.WaitUntilIdle(Ms(0)));
    release = true;
    ASSERT_TRUE(clock.WaitUntilIdle());
    EXPECT_EQ(clock.BusyThreads(), before);

    clock.Advance(Ms(60000));
    EXPECT_EQ(clock.BusyThreads(), before + 1) << "woken by time";
    release = true;
    ASSERT_TRUE(clock.WaitUntilIdle());
    EXPECT_EQ(rounds.load(), 1);
    poke.Set();
    EXPECT_EQ(clock.BusyThreads(), before + 1) << "woken by an event";
    release = true;
    ASSERT_TRUE(clock.WaitUntilIdle());
    EXPECT_EQ(rounds.load(), 2);
    ASSERT_TRUE(clock.WaitForSleepers(2)) << "the untracked thread never counted";

    stop.Set();
    loop.join();
    untracked.join();
    EXPECT_EQ(clock.BusyThreads(), before) << "an ended thread is no longer busy";
}

TEST(RealClockTest, ScaledClockRunsServiceTimeFasterThanRealTime) {
    auto& clock = CClock::Get();
    clock.UseScaled(100000);
    const auto before = clock.TickCount64();
    EXPECT_TRUE(clock.Sleep(600000));  // ten service minutes, a few real milliseconds
    EXPECT_GE(clock.TickCount64() - before, 600000u);
    clock.UseReal();
}

// Real and scaled waits are the backend's own (a waitable timer on Windows): a stop event must end
// an hour's real wait, and a change of mode must re-time a wait that is already asleep.
TEST(RealClockTest, AStopEndsARealWaitAndAScaledClockReTimesWaitsAlreadyAsleep) {
    auto& clock = CClock::Get();
    clock.UseReal();
    CEvent stop;
    std::atomic<bool> slept{true};
    std::thread stopped([&] { slept = clock.Sleep(3600000, &stop); });
    ASSERT_TRUE(clock.WaitForSleepers(1));
    stop.Set();
    stopped.join();
    EXPECT_FALSE(slept.load()) << "ended by the stop event, not by time";

    std::atomic<bool> timedOut{false};
    std::thread hour([&] { timedOut = clock.Sleep(3600000); });
    ASSERT_TRUE(clock.WaitForSleepers(1));
    clock.UseScaled(1e7);  // the hour left is now a third of a real second
    hour.join();
    EXPECT_TRUE(timedOut.load());
    clock.UseReal();
}

}  // namespace
