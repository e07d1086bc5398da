// Effekt's effects keep no state between calls, so two threads may run effects at
// the same time as long as each works on its own block. Under ThreadSanitizer this
// test shows any state the effects share; without it, wrong results from such
// sharing.
#include "EffektLibrary.h"

#include <gtest/gtest.h>

#include <array>
#include <latch>
#include <random>
#include <thread>

using reference::Picture;

namespace {

constexpr int kRounds = 4;

// Every effect in both phases, `kRounds` times over, in the order given.
template <typename Run> Picture runAll(Picture picture, const std::array<int, 9>& order, Run run)
{
    for (int round = 0; round < kRounds; ++round)
        for (const int index : order)
            for (const int phase : {0, 1})
                picture = run(index, std::move(picture), phase);
    return picture;
}

} // namespace

TEST(EffektThreads, TwoThreadsRunEffectsOnTheirOwnBlocks)
{
    REQUIRE_EFFEKT();
    std::mt19937 random(3);
    const Picture first = reference::randomPicture(67, 45, reference::Values::Full, random);
    const Picture second = reference::randomPicture(40, 71, reference::Values::Close, random);
    constexpr std::array<int, 9> kForwards{0, 1, 2, 3, 4, 5, 6, 7, 8};
    constexpr std::array<int, 9> kBackwards{8, 7, 6, 5, 4, 3, 2, 1, 0};

    Picture firstResult = first;
    Picture secondResult = second;
    std::latch start(2);
    const auto work = [&start](Picture& picture, const std::array<int, 9>& order) {
        start.arrive_and_wait();
        picture = runAll(picture, order, runEffekt);
    };
    std::thread one(work, std::ref(firstResult), std::cref(kForwards));
    std::thread other(work, std::ref(secondResult), std::cref(kBackwards));
    one.join();
    other.join();

    EXPECT_TRUE(reference::samePixels(runAll(first, kForwards, reference::run), firstResult));
    EXPECT_TRUE(reference::samePixels(runAll(second, kBackwards, reference::run), secondResult));
}
