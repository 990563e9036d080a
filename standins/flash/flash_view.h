// The control's window: a child of the host's window that says in plain text what the
// control holds. The text is also the window's text, so it can be read back.
#pragma once

#include <windows.h>

#include <functional>

class FlashStandinView {
public:
    FlashStandinView() = default;
    virtual ~FlashStandinView();
    FlashStandinView(const FlashStandinView&) = delete;
    FlashStandinView& operator=(const FlashStandinView&) = delete;

    // A visible child of `parent` at `position` (parent's client coordinates).
    bool Create(HWND parent, const RECT& position, const wchar_t* text);
    void Destroy();
    HWND window() const { return window_; }

    // Lines end with "\r\n"; the text is centred as a block.
    void SetText(const wchar_t* text);
    void Move(const RECT& position);

    // Another thread posts kWakeMessage to the window; the handler runs on the window's thread.
    static constexpr UINT kWakeMessage = WM_APP + 0x51;
    void SetWakeHandler(std::function<void()> handler) { onWake_ = std::move(handler); }
    // Told of every key message (WM_KEYFIRST … WM_KEYLAST) the window receives.
    void SetKeyHandler(std::function<void(UINT, WPARAM)> handler) { onKey_ = std::move(handler); }

    // The window class lives in the module that holds this code; a DLL that is
    // unloaded takes it away first.
    static void UnregisterWindowClass();

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnPaint();

    HWND window_ = nullptr;
    std::function<void()> onWake_;
    std::function<void(UINT, WPARAM)> onKey_;
};
