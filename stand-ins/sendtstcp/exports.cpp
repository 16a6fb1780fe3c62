// The eight exported functions of the stand-in TCP sender library (C linkage, undecorated names,
// the C calling convention) and the table of its senders.
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "sender.h"

#if defined(_WIN32)
#define SENDER_EXPORT extern "C" __declspec(dllexport)
#else
#define SENDER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace standin {
namespace {

constexpr int32_t kMaxSenders = 64;

/// The senders of the process by id. Its destructor, run when the library is unloaded, stops
/// senders that were never stopped, so that no thread outlives the library.
class SenderTable {
public:
    ~SenderTable()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& entry : senders_) {
            entry.second->stop();
        }
    }

    int32_t create()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (senders_.size() >= static_cast<size_t>(kMaxSenders) || !start_sockets()) {
            return -1;
        }
        // Ids are not reused within a process: a stale id never reaches a newer sender.
        const int32_t id = next_id_;
        next_id_ = next_id_ == INT32_MAX ? 0 : next_id_ + 1;
        senders_[id] = std::make_shared<Sender>();
        return id;
    }

    std::shared_ptr<Sender> find(int32_t id)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = senders_.find(id);
        return found == senders_.end() ? nullptr : found->second;
    }

    std::shared_ptr<Sender> take(int32_t id)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = senders_.find(id);
        if (found == senders_.end()) {
            return nullptr;
        }
        std::shared_ptr<Sender> sender = found->second;
        senders_.erase(found);
        return sender;
    }

private:
    std::mutex mutex_;
    std::map<int32_t, std::shared_ptr<Sender>> senders_;
    int32_t next_id_ = 0;
};

SenderTable& senders()
{
    static SenderTable table;
    return table;
}

}  // namespace
}  // namespace standin

using standin::senders;

SENDER_EXPORT int32_t InitializeDLL()
{
    return senders().create();
}

SENDER_EXPORT void UnInitializeDLL(int32_t sender_id)
{
    if (auto sender = senders().take(sender_id)) {
        sender->stop();
        sender->report(stderr);
    }
}

SENDER_EXPORT void AddSendAddrDLL(int32_t sender_id, const char16_t* host, int32_t port)
{
    if (auto sender = senders().find(sender_id)) {
        sender->add_destination(standin::utf16_to_utf8(host), port);
    }
}

SENDER_EXPORT void ClearSendAddrDLL(int32_t sender_id)
{
    if (auto sender = senders().find(sender_id)) {
        sender->clear_destinations();
    }
}

SENDER_EXPORT void StartSendDLL(int32_t sender_id)
{
    if (auto sender = senders().find(sender_id)) {
        sender->start();
    }
}

SENDER_EXPORT void StopSendDLL(int32_t sender_id)
{
    if (auto sender = senders().find(sender_id)) {
        sender->stop();
    }
}

SENDER_EXPORT void AddSendDataDLL(uint32_t sender_id, const uint8_t* data, uint32_t length)
{
    if (auto sender = senders().find(static_cast<int32_t>(sender_id))) {
        sender->add_data(data, length);
    }
}

SENDER_EXPORT void ClearSendBuffDLL(int32_t sender_id)
{
    if (auto sender = senders().find(sender_id)) {
        sender->clear_queues();
    }
}
