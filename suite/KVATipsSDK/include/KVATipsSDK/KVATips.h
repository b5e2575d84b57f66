// Tips of the suite's message centre: a normal tip (title, content, items, a button, close
// options) and a progress tip. A tip is filled with its setters, then shown, updated or closed
// through KVATipsManager. Setters and getters may be called from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vtr::tips_sdk {

enum TipsKind { TIPS_NORMAL = 0, TIPS_PROCESS = 2 };

struct TipsItem {
    std::wstring icon;
    std::wstring name;
    int state = 1;
};

// (event, text): 1 the button was pressed; 3 a close option was chosen, text = its index.
using ReplyCallback = std::function<void(int event, const std::wstring& text)>;

class TipsBase {
public:
    TipsBase(int id, std::wstring owner, int kind);
    TipsBase(const TipsBase&) = delete;
    TipsBase& operator=(const TipsBase&) = delete;
    virtual ~TipsBase();

    int GetId() const { return m_id; }
    int GetKind() const { return m_kind; }
    const std::wstring& GetOwner() const { return m_owner; }

    void SetTitleTxt(const std::wstring& text);
    void SetMode(int mode);
    void SetLevel(int level);
    void SetCloseOption(const std::vector<std::wstring>& options);
    void SetTitleIcon(const std::wstring& icon);
    void SetReplyCallback(ReplyCallback callback);

    std::wstring GetTitleTxt() const;
    std::vector<std::wstring> GetCloseOption() const;
    std::wstring GetTitleIcon() const;
    ReplyCallback GetReplyCallback() const;
    int GetMode() const;
    int GetLevel() const;

    // The tip as the message centre receives it (TipsWire.h).
    std::string Serialize(bool update) const;

protected:
    struct Fields {
        std::wstring title, icon, content, description, button;
        std::vector<std::wstring> closeOptions;
        std::vector<TipsItem> items;
        int mode = 0, level = 0, descriptionLevel = 0, process = 0;
    };
    mutable std::mutex m_mtx;
    Fields m_f;

    // One field of m_f, under the lock.
    template <class T>
    void Put(T Fields::*field, T value) {
        std::lock_guard lock(m_mtx);
        m_f.*field = std::move(value);
    }
    template <class T>
    T Read(T Fields::*field) const {
        std::lock_guard lock(m_mtx);
        return m_f.*field;
    }

private:
    const int m_id;
    const std::wstring m_owner;
    const int m_kind;
    ReplyCallback m_reply;
};

class TipsNormal : public TipsBase {
public:
    using TipsBase::TipsBase;

    void SetContentTxt(const std::wstring& text);
    void SetItems(const std::vector<TipsItem>& items);
    void SetDescription(const std::wstring& text);
    void SetDescriptionLevel(int level);
    void SetBtnTxt(const std::wstring& text);

    std::wstring GetContentTxt() const;
    std::vector<TipsItem> GetItems() const;
    std::wstring GetDescription() const;
    std::wstring GetBtnTxt() const;
};

class TipsProcess : public TipsNormal {
public:
    using TipsNormal::TipsNormal;
    // Percent done, clamped to 0..100.
    void SetProcess(int percent);
    int GetProcess() const;
};

}  // namespace vtr::tips_sdk
