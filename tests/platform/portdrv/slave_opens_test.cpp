// The count of applications on a port's slave, driven by sequences of
// inotify reads and slave states as the watcher hands them in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/inotify.h>

#include "portdrv/slave_opens.h"

namespace {

using kolm::platform::portdrv::SlaveEvent;
using kolm::platform::portdrv::SlaveOpenTracker;

constexpr int kWd = 1;
constexpr SlaveEvent O{kWd, IN_OPEN};
constexpr SlaveEvent CW{kWd, IN_CLOSE_WRITE};   // an application's close (it could write)
constexpr SlaveEvent CN{kWd, IN_CLOSE_NOWRITE}; // a read-only close, as ours is
constexpr SlaveEvent OldO{kWd + 1, IN_OPEN};    // on a slave replaced since
constexpr SlaveEvent Lost{-1, IN_Q_OVERFLOW};

class Log final : public SlaveOpenTracker::Listener {
public:
    std::string text;
    void first_open() override { text += "open "; }
    void last_close(bool reopened) override { text += reopened ? "close+reopened " : "close "; }
    void events_lost() override { text += "lost "; }
};

struct Step {
    enum Kind { Read, Settle, Own, OwnFailed, Reopen, GraceOver } kind;
    std::vector<SlaveEvent> events{}; // Read
    bool open_now = false;            // Settle, Reopen, GraceOver
};

Step read(std::vector<SlaveEvent> e) { return {Step::Read, std::move(e)}; }
Step settle(bool open_now) { return {Step::Settle, {}, open_now}; }
const Step own{Step::Own};
const Step own_failed{Step::OwnFailed};
Step reopen_check(bool open_now) { return {Step::Reopen, {}, open_now}; }
Step grace_over(bool open_now) { return {Step::GraceOver, {}, open_now}; }

struct Row {
    const char* name;
    std::vector<Step> steps;
    const char* log;
    int apps;
    bool unsure = false; // reopen_unsure() at the end
};

TEST(SlaveOpenTracker, EventSequences)
{
    const Row rows[] = {
        {"one application opens and closes", {read({O}), settle(true), read({CW}), settle(false)}, "open close ", 0},
        {"only the last of two closes ends the session",
         {read({O, O}), settle(true), read({CW}), settle(true), read({CN}), settle(false)}, "open close ", 0},
        {"a close followed by an open in one read is a reopen",
         {read({O}), settle(true), read({CW, O}), settle(true)}, "open close+reopened open ", 1},
        {"an open after the close in a later read is no reopen",
         {read({O}), read({CW}), read({O}), settle(true)}, "open close open ", 1},
        {"our own open and close are not counted",
         {read({O}), settle(true), own, read({O, CN}), settle(true)}, "open ", 1},
        {"an application's close is not taken for our read-only one",
         {read({O}), settle(true), own, read({O, CW, CN}), settle(false)}, "open close ", 0},
        {"our own open that failed leaves an application's open counted",
         {read({O}), own_failed, read({O}), settle(true)}, "open ", 2},
        {"own opens made while inotify had nothing stay for the next read",
         {read({O}), settle(true), own, read({}), read({O, CN}), settle(true)}, "open ", 1},
        {"closes merged by inotify: the closed slave ends the session",
         {read({O, O}), read({CW}), settle(false)}, "open close ", 0},
        {"an open merged with ours is found from the open slave",
         {own, read({O, CN}), settle(true)}, "open ", 1},
        {"a slave still open right after the last close waits for the grace",
         {read({O}), read({CW}), settle(true)}, "open close ", 0, true},
        {"... and a hang-up seen meanwhile settles it without an open",
         {read({O}), read({CW}), settle(true), reopen_check(false)}, "open close ", 0},
        {"... and data seen meanwhile with the slave open waits on",
         {read({O}), read({CW}), settle(true), reopen_check(true)}, "open close ", 0, true},
        {"... and the slave still open when the grace ends is an open",
         {read({O}), read({CW}), settle(true), grace_over(true)}, "open close open ", 1},
        {"a close of an application that opened before the watch is ignored",
         {read({CW}), settle(false)}, "", 0},
        {"events of a replaced slave are ignored", {read({OldO, OldO}), settle(false)}, "", 0},
        {"a lost queue is told once", {read({Lost}), read({Lost, O}), settle(true)}, "lost open ", 1},
    };
    for (const Row& row : rows) {
        Log log;
        SlaveOpenTracker tracker(log);
        tracker.watch(kWd);
        bool closed = false;
        const auto now = SlaveOpenTracker::Clock::now();
        for (const Step& s : row.steps) {
            switch (s.kind) {
            case Step::Read:
                closed = false;
                tracker.add_read(s.events);
                tracker.handle_reads(closed);
                break;
            case Step::Settle:
                tracker.settle(closed, s.open_now, now);
                break;
            case Step::Own:
                tracker.own_open_begin();
                tracker.own_open_end(true);
                break;
            case Step::OwnFailed:
                tracker.own_open_begin();
                tracker.own_open_end(false);
                break;
            case Step::Reopen:
                tracker.settle_reopen(s.open_now, false);
                break;
            case Step::GraceOver:
                tracker.settle_reopen(s.open_now, true);
                break;
            }
        }
        EXPECT_EQ(log.text, row.log) << row.name;
        EXPECT_EQ(tracker.apps(), row.apps) << row.name;
        EXPECT_EQ(tracker.applications(), row.apps) << row.name;
        EXPECT_EQ(tracker.reopen_unsure(), row.unsure) << row.name;
        if (row.unsure) {
            EXPECT_EQ(tracker.reopen_deadline(), now + SlaveOpenTracker::kReopenGrace) << row.name;
        }
    }
}

// Whether the reads not yet handled show the port closed and opened again:
// the watcher asks before it hands bytes of the master to the session.
TEST(SlaveOpenTracker, ReopenQueuedLooksAheadWithoutHandling)
{
    struct Case {
        const char* name;
        std::vector<SlaveEvent> handled; // read and handled first
        std::vector<std::vector<SlaveEvent>> queued;
        bool own = false; // an own open and close before the queued reads
        bool reopened;
    } cases[] = {
        {"close then open", {O}, {{CW, O}}, false, true},
        {"close then open in separate reads", {O}, {{CW}, {O}}, false, true},
        {"close only", {O}, {{CW}}, false, false},
        {"one of two applications closes and another opens", {O, O}, {{CW, O}}, false, false},
        {"our own open after the close is not an application", {O}, {{CW, O, CN}}, true, false},
        {"nobody had it open: any open is a newcomer", {}, {{O}}, false, true},
        {"a replaced slave's open is not", {}, {{OldO}}, false, false},
    };
    for (const Case& c : cases) {
        Log log;
        SlaveOpenTracker tracker(log);
        tracker.watch(kWd);
        bool closed = false;
        tracker.add_read(c.handled);
        tracker.handle_reads(closed);
        if (c.own) {
            tracker.own_open_begin();
            tracker.own_open_end(true);
        }
        const std::string before = log.text;
        for (const auto& r : c.queued)
            tracker.add_read(r);
        EXPECT_EQ(tracker.reopen_queued(), c.reopened) << c.name;
        EXPECT_EQ(log.text, before) << c.name << ": looking ahead handled something";
        EXPECT_TRUE(tracker.has_unhandled()) << c.name;
    }
}

// A replaced slave starts from nobody; what was counted of the old one and
// our own opens on it are gone.
TEST(SlaveOpenTracker, WatchingAFreshSlaveStartsOver)
{
    Log log;
    SlaveOpenTracker tracker(log);
    tracker.watch(kWd);
    bool closed = false;
    tracker.add_read({O, O});
    tracker.handle_reads(closed);
    tracker.own_open_begin();
    tracker.own_open_end(true);
    tracker.watch(kWd + 1);
    EXPECT_EQ(tracker.apps(), 0);
    EXPECT_EQ(tracker.applications(), 0);
    tracker.add_read({OldO}); // an application's open of the fresh slave, not ours
    tracker.handle_reads(closed);
    EXPECT_EQ(log.text, "open open ");
    EXPECT_EQ(tracker.apps(), 1);
}

} // namespace
