// Reads the emails a run comes to next while it writes the current one: one
// reader thread reads and parses them (IMessage::ReadAhead) in the run's order,
// a bounded number and size ahead, and the run takes them in that order.
//
// The run's thread keeps everything that touches a store: it opens each
// message (the store's index and last error are its own) and hands the
// reader the opened message, which nobody else uses until it is read.  A
// store that cannot read on another thread does nothing there, and the run
// reads the message when it comes to it, as without read-ahead.  Nothing the
// reader does is reported: a failure is met again, and reported, when the
// run uses the email.
//
// The same thread also frees the messages the run is done with: freeing a
// parsed message takes as long as a tenth of what the run does per email, and
// a message's destruction touches nothing of its store (the Maildir and IMAP
// messages free only their own memory and drop a reference to the store,
// which the session keeps).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qf {

class EmailMessage;
namespace mapi {
class IMessage;
}

class EmailReadAhead {
public:
    struct Limits {
        // Emails read and not yet taken, at most; at least one is always
        // read, unless this is 0: then nothing is read ahead.
        std::size_t emails = 32;
        // ... and of at most this many bytes together (their listed sizes):
        // a parsed email takes about three times its size in memory.
        std::size_t bytes = 4u << 20;
    };
    // Told about an email once it has been read ahead, on the run's thread and
    // in the run's order, before the run comes to it: its attachments can be
    // listed and read then without reading the email again.
    using ReadHook = std::function<void(EmailMessage& email)>;
    // Whether an email is to be read at all (a run skips some unread).
    using WantFn = std::function<bool(const EmailMessage& email)>;

    // `emails` are the run's emails in the order it processes them; each
    // stays in place until the run has taken it (Take) and may be released
    // after that.  The thread starts with the first Take.
    EmailReadAhead(std::vector<std::unique_ptr<EmailMessage>>& emails, Limits limits,
                   WantFn want = {}, ReadHook onReadAhead = {});
    // Stops the reader after the email in hand and waits for it.
    ~EmailReadAhead();
    EmailReadAhead(const EmailReadAhead&) = delete;
    EmailReadAhead& operator=(const EmailReadAhead&) = delete;

    // Called with 0, 1, 2... in turn as the run comes to each email (the
    // run may stop early, never skip one): waits until email `index` has
    // been read (when it was handed out; with a hook, the one after it too),
    // tells the hook about every email read so far, and hands out the next
    // ones as far as the limits allow.
    void Take(std::size_t index);

    // Frees `message` on the reader's thread (at once, without read-ahead).
    // The run hands over only a message it is done with, and nothing else
    // uses.
    void Release(std::shared_ptr<mapi::IMessage> message);

    // Emails handed to the reader so far (for tests).
    std::size_t HandedOut() const { return next_; }

private:
    struct Slot {
        std::shared_ptr<mapi::IMessage> message; // null: nothing to read ahead
        std::size_t bytes = 0;
    };
    void HandOut();
    void TellHook(std::size_t readUpTo);
    void ReaderLoop();

    std::vector<std::unique_ptr<EmailMessage>>& emails_;
    Limits limits_;
    WantFn want_;
    ReadHook onReadAhead_;

    // Used by the run's thread only.
    std::size_t next_ = 0;  // the next email to hand out
    std::size_t taken_ = 0; // the next email to take
    std::size_t told_ = 0;  // the next email to tell the hook about
    std::size_t bytesOut_ = 0;

    // Shared with the reader, under mutex_.  slots_ holds the emails from
    // taken_ to next_; the run's thread adds and removes them and owns their
    // messages (the reader frees only the messages given to Release).
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Slot> slots_;
    std::size_t readUpTo_ = 0; // the emails before this one are read
    std::vector<std::shared_ptr<mapi::IMessage>> releases_;
    bool stop_ = false;
    std::thread reader_;
};

} // namespace qf
