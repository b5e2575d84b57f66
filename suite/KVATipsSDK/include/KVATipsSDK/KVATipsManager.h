// The process's tips: creates tips, sends them to the message centre (0x40000) and hands the
// user's answers to each tip's reply callback. Answers arrive from the message centre over IPC and
// run on the library's own thread, one at a time, in arrival order; a callback may show, update
// or close tips. Every call may come from any thread.
//
// The library connects to the hub on the first Show and stays connected; Disconnect ends that
// (pending answers are dropped) and the next Show connects again, to the hub the process names
// then. Answers for a tip that was closed are dropped.
#pragma once

#include <memory>
#include <string>

#include "KVATipsSDK/KVATips.h"

namespace vtr::tips_sdk {

class KVATipsManager {
public:
    static KVATipsManager* GetInstance();

    // A normal tip (kind 0) or a progress tip (kind 2, a TipsProcess); null for another kind.
    std::shared_ptr<TipsNormal> CreateTips(const std::wstring& owner, int kind);
    // False when the tip is null or cannot reach the message centre.
    bool Show(const std::shared_ptr<TipsBase>& tip);
    // Sends the tip's current content again; false for a tip that is not shown.
    bool Update(const std::shared_ptr<TipsBase>& tip);
    // False for a tip that is not shown.
    bool CloseTips(const std::shared_ptr<TipsBase>& tip);
    bool IsShown(const std::shared_ptr<TipsBase>& tip) const;
    void Disconnect();

    // For a process that answers by itself (tests): what the message centre's answer does.
    void DeliverReply(int tipId, int event, const std::wstring& text);

    struct Impl;
    ~KVATipsManager();

private:
    KVATipsManager();
    std::unique_ptr<Impl> m_impl;
};

}  // namespace vtr::tips_sdk
