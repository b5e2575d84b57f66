#include "KVATipsSDK/KVATipsManager.h"

#include <nlohmann/json.hpp>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "IPCMessage/IPCMessageClient.h"
#include "KVATipsSDK/TipsWire.h"
#include "kva/platform/Log.h"
#include "kva/platform/Text.h"

namespace vtr::tips_sdk {

struct KVATipsManager::Impl {
    struct Answer {
        int tipId;
        ReplyCallback callback;
        int event;
        std::wstring text;
    };

    std::mutex mtx;  // everything below but the client's own calls
    std::condition_variable cv;
    std::map<int, std::weak_ptr<TipsBase>> shown;
    std::deque<Answer> answers;
    int nextId = 1;
    int running = 0;  // the tip whose callback runs now, 0 for none
    bool stop = false;
    std::shared_ptr<CIPCMessageClient> client;
    std::thread worker;  // runs the reply callbacks; started by the first answer

    void Loop() {
        std::unique_lock lock(mtx);
        for (;;) {
            cv.wait(lock, [&] { return stop || !answers.empty(); });
            if (stop) return;
            if (answers.empty()) continue;
            Answer a = std::move(answers.front());
            answers.pop_front();
            running = a.tipId;
            lock.unlock();
            try {
                a.callback(a.event, a.text);
            } catch (const std::exception& e) {
                KVA_LOG_ERROR("tip reply callback failed: " << e.what());
            } catch (...) {
                KVA_LOG_ERROR("tip reply callback failed");
            }
            lock.lock();
            running = 0;
            cv.notify_all();
        }
    }

    void Queue(int id, int event, std::wstring text) {
        std::lock_guard lock(mtx);
        auto it = shown.find(id);
        auto tip = it == shown.end() ? nullptr : it->second.lock();
        if (!tip) {
            KVA_LOG_WARN("answer " << event << " for tip " << id << " that is not shown");
            return;
        }
        auto callback = tip->GetReplyCallback();
        if (!callback) return;
        answers.push_back(Answer{id, std::move(callback), event, std::move(text)});
        // Started by the first answer: a service that never shows a tip pays no thread for it.
        if (!worker.joinable() && !stop) worker = std::thread([this] { Loop(); });
        cv.notify_all();
    }

    void OnReply(tagIPC_MESSAGE_ITEM& item) {
        if (!item.pszMessage || item.nMessageLen <= 0) {
            KVA_LOG_ERROR("empty tip answer");
            return;
        }
        const std::string text(item.pszMessage, strnlen(item.pszMessage, static_cast<std::size_t>(item.nMessageLen)));
        const auto j = nlohmann::json::parse(text, nullptr, false);
        if (!j.is_object() || !j.contains("id") || !j["id"].is_number_integer() || !j.contains("event") ||
            !j["event"].is_number_integer()) {
            KVA_LOG_ERROR("tip answer does not parse: " << text);
            return;
        }
        const auto answerText = j.contains("text") && j["text"].is_string() ? j["text"].get<std::string>() : "";
        Queue(j["id"].get<int>(), j["event"].get<int>(), plat::FromUtf8(answerText));
    }

    std::shared_ptr<CIPCMessageClient> Client() {
        std::lock_guard lock(mtx);
        if (!client) {
            // Its one callback only queues the answer, so one thread receives and runs it.
            client = std::make_shared<CIPCMessageClient>(wire::kTipsClient, true, true);
            client->BindMessageCallback(wire::kTipReply, [this](tagIPC_MESSAGE_ITEM& item) { OnReply(item); });
            if (!client->WaitForHub(std::chrono::milliseconds(5000))) KVA_LOG_ERROR("tips library cannot reach the hub");
        }
        return client;
    }

    bool Post(int messageId, std::string body) {
        tagIPC_MESSAGE_ITEM item;
        item.nReceiverID = wire::kMessageCentre;
        item.nSenderID = wire::kTipsClient;
        item.nMessageID = messageId;
        item.pszMessage = body.data();
        item.nMessageLen = static_cast<std::int32_t>(body.size() + 1);
        return Client()->PostIPCMessage(item);
    }
};

KVATipsManager* KVATipsManager::GetInstance() {
    static KVATipsManager instance;
    return &instance;
}

KVATipsManager::KVATipsManager() : m_impl(std::make_unique<Impl>()) {}

KVATipsManager::~KVATipsManager() {
    Disconnect();
    {
        std::lock_guard lock(m_impl->mtx);
        m_impl->stop = true;
    }
    m_impl->cv.notify_all();
    if (m_impl->worker.joinable()) m_impl->worker.join();
}

std::shared_ptr<TipsNormal> KVATipsManager::CreateTips(const std::wstring& owner, int kind) {
    int id = 0;
    {
        std::lock_guard lock(m_impl->mtx);
        id = m_impl->nextId++;
    }
    if (kind == TIPS_NORMAL) return std::make_shared<TipsNormal>(id, owner, kind);
    if (kind == TIPS_PROCESS) return std::make_shared<TipsProcess>(id, owner, kind);
    KVA_LOG_ERROR("no tip of kind " << kind);
    return nullptr;
}

bool KVATipsManager::Show(const std::shared_ptr<TipsBase>& tip) {
    if (!tip) return false;
    {
        std::lock_guard lock(m_impl->mtx);
        m_impl->shown[tip->GetId()] = tip;
    }
    if (m_impl->Post(wire::kShowTip, tip->Serialize(false))) return true;
    KVA_LOG_ERROR("tip " << tip->GetId() << " did not reach the message centre");
    std::lock_guard lock(m_impl->mtx);
    m_impl->shown.erase(tip->GetId());
    return false;
}

bool KVATipsManager::Update(const std::shared_ptr<TipsBase>& tip) {
    if (!IsShown(tip)) return false;
    return m_impl->Post(wire::kShowTip, tip->Serialize(true));
}

bool KVATipsManager::CloseTips(const std::shared_ptr<TipsBase>& tip) {
    if (!IsShown(tip)) return false;
    {
        // Its answers are dropped, and one that runs now has ended when this returns (unless the
        // callback closes its own tip), so the owner of the callback may go.
        std::unique_lock lock(m_impl->mtx);
        const int id = tip->GetId();
        m_impl->shown.erase(id);
        std::erase_if(m_impl->answers, [id](const Impl::Answer& a) { return a.tipId == id; });
        if (std::this_thread::get_id() != m_impl->worker.get_id()) {
            m_impl->cv.wait(lock, [&] { return m_impl->running != id; });
        }
    }
    return m_impl->Post(wire::kCloseTip, nlohmann::json{{"id", tip->GetId()}}.dump());
}

bool KVATipsManager::IsShown(const std::shared_ptr<TipsBase>& tip) const {
    if (!tip) return false;
    std::lock_guard lock(m_impl->mtx);
    auto it = m_impl->shown.find(tip->GetId());
    return it != m_impl->shown.end() && it->second.lock() == tip;
}

void KVATipsManager::Disconnect() {
    std::shared_ptr<CIPCMessageClient> client;
    {
        std::lock_guard lock(m_impl->mtx);
        client = std::move(m_impl->client);
        m_impl->answers.clear();
        m_impl->shown.clear();
    }
    // Outside the lock: closing waits for a running reply handler, which takes it.
    if (client) client->Close();
}

void KVATipsManager::DeliverReply(int tipId, int event, const std::wstring& text) { m_impl->Queue(tipId, event, text); }

}  // namespace vtr::tips_sdk
