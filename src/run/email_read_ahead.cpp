#include "run/email_read_ahead.h"

#include "mail/email.h"

#include <algorithm>

namespace qf {

EmailReadAhead::EmailReadAhead(std::vector<std::unique_ptr<EmailMessage>>& emails, Limits limits,
                               WantFn want, ReadHook onReadAhead)
    : emails_(emails), limits_(limits), want_(std::move(want)),
      onReadAhead_(std::move(onReadAhead)) {}

EmailReadAhead::~EmailReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) {
        reader_.join();
    }
}

void EmailReadAhead::Take(std::size_t index) {
    if (limits_.emails == 0) {
        return;
    }
    {
        // The emails before are done with (each was read before it was taken).
        std::unique_lock lock(mutex_);
        while (taken_ < index && !slots_.empty()) {
            changed_.wait(lock, [&] { return readUpTo_ > taken_; });
            bytesOut_ -= slots_.front().bytes;
            slots_.pop_front();
            ++taken_;
        }
    }
    HandOut();
    // With a hook, the next email is waited for as well: what the hook starts
    // for it (documents converting) then runs while this one is written.
    const std::size_t wanted = onReadAhead_ && index + 1 < next_ ? index + 1 : index;
    std::size_t readUpTo = 0;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return readUpTo_ > wanted; });
        readUpTo = readUpTo_;
    }
    TellHook(readUpTo);
}

void EmailReadAhead::HandOut() {
    while (next_ < emails_.size() &&
           (next_ == taken_ || (next_ - taken_ < limits_.emails && bytesOut_ < limits_.bytes))) {
        EmailMessage& email = *emails_[next_];
        Slot slot;
        slot.bytes = static_cast<std::size_t>(std::max<std::int32_t>(email.messageSize, 0));
        if (!want_ || want_(email)) {
            try {
                slot.message = email.OpenMessage();
            } catch (const std::exception&) {
                // Met again, and reported, when the run comes to the email.
            }
        }
        bytesOut_ += slot.bytes;
        ++next_;
        {
            std::lock_guard lock(mutex_);
            slots_.push_back(std::move(slot));
        }
        changed_.notify_all();
        if (!reader_.joinable()) {
            reader_ = std::thread([this] { ReaderLoop(); });
        }
    }
}

void EmailReadAhead::TellHook(std::size_t readUpTo) {
    if (!onReadAhead_) {
        told_ = readUpTo;
        return;
    }
    for (told_ = std::max(told_, taken_); told_ < readUpTo; ++told_) {
        bool opened = false;
        {
            std::lock_guard lock(mutex_);
            opened = slots_[told_ - taken_].message != nullptr;
        }
        if (opened) {
            onReadAhead_(*emails_[told_]);
        }
    }
}

void EmailReadAhead::Release(std::shared_ptr<mapi::IMessage> message) {
    if (!reader_.joinable()) {
        return; // freed here
    }
    {
        std::lock_guard lock(mutex_);
        releases_.push_back(std::move(message));
    }
    changed_.notify_all();
}

void EmailReadAhead::ReaderLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] {
            return stop_ || !releases_.empty() || readUpTo_ < taken_ + slots_.size();
        });
        if (stop_) {
            return;
        }
        if (!releases_.empty()) {
            // Freed while the run goes on; the next read waits for them.
            std::vector<std::shared_ptr<mapi::IMessage>> done = std::move(releases_);
            releases_.clear();
            lock.unlock();
            done.clear();
            lock.lock();
            continue;
        }
        mapi::IMessage* message = slots_[readUpTo_ - taken_].message.get();
        lock.unlock();
        if (message != nullptr) {
            message->ReadAhead();
        }
        lock.lock();
        ++readUpTo_;
        changed_.notify_all();
    }
}

} // namespace qf
