// The message centre (0x40000) of `kva suite`: it shows every request that reaches it, a
// message-centre request 0x40003 (a pop-up or the restart reminder) or a tip of the tips library,
// and lets a person or a scenario act as the user:
//   mc show <window-class>                  the window's controls, their texts and visibility
//   mc click <window-class> <control>       a click on a control of a window of any process
//   mc menu <window-class> <item>           choose an item of the window's open menu (or of a menu window)
//   mc message <window-class> <msg> [w] [l] send a window message; prints the result
//   mc button [tip-id]                      press the button of a tip (default: the latest)
//   mc option <index> [tip-id]              pick a close option of a tip
//   mc wait-window <window-class> [ms]      wait (real time, default 10000) until such a window exists
//   mc wait-tip [ms]                        wait until a tip is shown that was not waited for before
//   mc expect <window-class> <control> <text...>   fails unless the control shows that text
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "ClientPeer.h"

namespace kva {

class CMsgCentrePeer : public CClientPeer {
public:
    explicit CMsgCentrePeer(Print print);
    ~CMsgCentrePeer() override;

    // One "mc ..." line without the leading "mc".
    bool Run(std::istringstream& in, std::string* error);

private:
    struct Tip {
        int sender = 0;
        std::string title;
        std::string content;
        std::string button;
    };

    void Bind(CIPCMessageClient& client) override;
    bool Answer(int tipId, int event, const std::string& text, std::string* error);
    bool RunWindowStep(const std::string& what, std::istringstream& in, std::string* error);
    bool RunTipStep(const std::string& what, std::istringstream& in, std::string* error);
    void OnRequest(const char* data, std::size_t length, int sender);
    void OnTip(const std::string& json, int sender, bool closing);

    std::mutex m_mtx;
    std::condition_variable m_cv;
    std::map<int, Tip> m_tips;  // open tips by id
    int m_latestTip = 0;
    std::uint64_t m_tipsShown = 0;
    std::uint64_t m_tipsWaited = 0;
};

}  // namespace kva
