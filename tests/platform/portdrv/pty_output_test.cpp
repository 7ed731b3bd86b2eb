// The ring of application output on its way to the runtime, alone: order
// across the wrap, the reader's stall and wake-up, the drain a closing
// session waits for, and the end of delivery.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "portdrv/pty_output.h"

namespace {

using kolm::platform::portdrv::OutputRing;

std::string take(OutputRing& ring, size_t max, bool* wake = nullptr)
{
    std::string out(max, '\xbd');
    bool w = false;
    const size_t n = ring.take(out.data(), max, w);
    if (wake)
        *wake = w;
    EXPECT_TRUE(out.find_first_not_of('\xbd', n) == std::string::npos) << "written past what was taken";
    out.resize(n);
    return out;
}

TEST(OutputRing, KeepsOrderAcrossTheWrap)
{
    OutputRing ring(10);
    ASSERT_TRUE(ring.append("abcdefg", 7));
    EXPECT_EQ(take(ring, 5), "abcde");
    ASSERT_TRUE(ring.append("hijklmno", 8)); // wraps round the end
    EXPECT_EQ(ring.count(), 10u);
    EXPECT_EQ(take(ring, 4), "fghi");
    EXPECT_EQ(take(ring, 100), "jklmno");
    EXPECT_EQ(ring.count(), 0u);
    EXPECT_TRUE(ring.append("xyz", 3)); // never more than fits
    EXPECT_TRUE(ring.append("0123456789", 10));
    EXPECT_EQ(take(ring, 100), "xyz0123456");
}

TEST(OutputRing, ReaderWaitsForAWholeReadWhileTheRuntimeHasBytes)
{
    const size_t cap = 3 * OutputRing::kMasterRead;
    OutputRing ring(cap);
    struct Row {
        const char* name;
        size_t held;
        size_t reserved;
        size_t room; // 0: the reader stalls
    } rows[] = {
        {"empty", 0, 0, cap},
        {"empty with a carry kept back", 0, 100, cap - 100},
        {"a whole read free", cap - OutputRing::kMasterRead, 0, OutputRing::kMasterRead},
        {"less than a whole read free while bytes wait", cap - OutputRing::kMasterRead + 1, 0, 0},
        {"full", cap, 0, 0},
        {"the carry fills what is left", cap - 10, 10, 0},
    };
    const std::vector<char> fill(cap, 'x');
    for (const Row& r : rows) {
        ring.clear();
        ring.append(fill.data(), r.held);
        EXPECT_EQ(ring.read_room(r.reserved), r.room) << r.name;
        EXPECT_EQ(ring.drained(), r.held == 0 && r.room > 0) << r.name;
    }
    // An empty ring with too small a room left by the carry is still read.
    OutputRing small(OutputRing::kMasterRead);
    EXPECT_EQ(small.read_room(10), OutputRing::kMasterRead - 10);
}

TEST(OutputRing, TakingWakesAStalledReaderOnlyOnceAWholeReadIsFree)
{
    const size_t cap = 2 * OutputRing::kMasterRead;
    OutputRing ring(cap);
    const std::vector<char> fill(cap, 'x');
    ring.append(fill.data(), cap);
    ASSERT_EQ(ring.read_room(0), 0u);
    bool wake = true;
    take(ring, 10, &wake);
    EXPECT_FALSE(wake) << "10 bytes free";
    take(ring, OutputRing::kMasterRead - 10, &wake);
    EXPECT_TRUE(wake) << "a whole read free";
    take(ring, 10, &wake);
    EXPECT_FALSE(wake) << "woken once per stall";
}

TEST(OutputRing, DrainIsConfirmedByAReadThatFindsNothing)
{
    OutputRing ring(64);
    ring.append("abc", 3);
    const OutputRing::CloseState s = ring.begin_close(true, true);
    EXPECT_TRUE(s.wait);
    EXPECT_FALSE(s.unread);
    EXPECT_EQ(take(ring, 64), "abc");
    EXPECT_FALSE(ring.read_done(3)) << "the runtime has not yet come back";
    EXPECT_FALSE(ring.drained());
    EXPECT_TRUE(ring.read_done(0));
    EXPECT_TRUE(ring.drained());
    ring.set_drain_watch(false);
    EXPECT_FALSE(ring.read_done(0)) << "nobody waits any more";
}

TEST(OutputRing, WhenAClosingSessionWaits)
{
    struct Row {
        const char* name;
        const char* held;
        bool stalled;
        bool connected;
        bool eof;
        bool wait;
    } rows[] = {
        {"bytes held", "abc", false, true, true, true},
        {"nothing held, the slave's close not yet seen", "", false, true, false, true},
        {"nothing held, all read", "", false, true, true, false},
        {"not connected: nobody takes them", "abc", false, false, true, false},
        {"reader stalled", "", true, true, true, true},
    };
    for (const Row& r : rows) {
        OutputRing ring(OutputRing::kMasterRead);
        if (r.stalled) {
            const std::vector<char> fill(OutputRing::kMasterRead, 'x');
            ring.append(fill.data(), fill.size());
            ASSERT_EQ(ring.read_room(0), 0u) << r.name;
            bool wake = false;
            std::vector<char> sink(1);
            ring.take(sink.data(), 1, wake);
            ring.read_done(0);
        } else {
            ring.append(r.held, std::string(r.held).size());
        }
        const OutputRing::CloseState s = ring.begin_close(r.connected, r.eof);
        EXPECT_EQ(s.wait, r.wait) << r.name;
        EXPECT_EQ(s.unread, r.stalled) << r.name;
    }
}

TEST(OutputRing, NothingMovesOnceTheRuntimeEnded)
{
    OutputRing ring(64);
    ring.append("abc", 3);
    ring.begin_close(true, false);
    ring.stop_delivering();
    EXPECT_FALSE(ring.delivering());
    EXPECT_EQ(take(ring, 64), "");
    EXPECT_FALSE(ring.append("def", 3));
    EXPECT_FALSE(ring.read_done(0)) << "no drain is watched after the end";
}

TEST(OutputRing, LoadReplacesWhatWasHeld)
{
    OutputRing ring(8);
    ring.append("abcdef", 6);
    take(ring, 5);
    ring.load({'1', '2', '3', '4', '5', '6', '7', '8', '9'});
    EXPECT_EQ(ring.count(), 8u);
    EXPECT_EQ(take(ring, 64), "12345678");
}

} // namespace

namespace {

// After a purge the output is held until the runtime fetches its commands
// a second time: the first fetch brings FlushToNet, the next one comes
// only once it has been carried out.
TEST(OutputRing, APurgeHoldsTheOutputUntilTheFetchAfterTheOneThatBroughtIt)
{
    OutputRing ring(64);
    ring.hold_for_flush();
    ring.append("after", 5);
    EXPECT_EQ(take(ring, 64), "") << "held before any fetch";

    OutputRing::FetchStep step = ring.commands_fetched(false);
    EXPECT_FALSE(step.fetch_again) << "a fetch without the purge";
    EXPECT_FALSE(step.wake_pump);
    EXPECT_TRUE(ring.flush_held());

    step = ring.commands_fetched(true);
    EXPECT_TRUE(step.fetch_again) << "the fetch that brought the purge";
    EXPECT_FALSE(step.wake_pump);
    EXPECT_EQ(take(ring, 64), "") << "fetched, not yet carried out";

    step = ring.commands_fetched(false);
    EXPECT_FALSE(step.fetch_again);
    EXPECT_TRUE(step.wake_pump) << "carried out, bytes wait";
    EXPECT_FALSE(ring.flush_held());
    EXPECT_EQ(take(ring, 64), "after");

    step = ring.commands_fetched(true);
    EXPECT_FALSE(step.fetch_again) << "nothing held: a later fetch changes nothing";
    EXPECT_FALSE(step.wake_pump);

    ring.hold_for_flush();
    ring.commands_fetched(true);
    step = ring.commands_fetched(false);
    EXPECT_FALSE(step.wake_pump) << "nothing waits after an empty hold";

    ring.hold_for_flush();
    ring.append("x", 1);
    ring.clear();
    EXPECT_FALSE(ring.flush_held()) << "a session's end drops the hold";
    ring.append("y", 1);
    EXPECT_EQ(take(ring, 64), "y");
}

} // namespace
