// A plain top-level window to put controls on, and helpers to read what they show.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <vector>

#include "framework/window.h"

namespace ui_testing {

// A visible top-level window at (x, y) that reflects its children's notifications and
// records the commands they send.
class HostWindow : public CWnd {
public:
    struct Command {
        WORD id;
        WORD code;
    };

    HostWindow(int x, int y, int width, int height);
    ~HostWindow() override;

    std::vector<Command> commands;
    int Clicks(WORD id) const;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// A test whose controls sit on one host window shared by the whole suite: taking a
// window off the display costs seconds under Wine.
class HostedTest : public ::testing::Test {
protected:
    static const int kHostX = 40;
    static const int kHostY = 40;
    static void SetUpTestSuite() { host_ = new HostWindow(kHostX, kHostY, 400, 300); }
    static void TearDownTestSuite() {
        delete host_;
        host_ = nullptr;
    }
    void SetUp() override { host_->commands.clear(); }
    HostWindow& host() { return *host_; }

private:
    static HostWindow* host_;
};

// Dispatches what is queued for this thread.
void PumpPending();
// Pumps until `done` holds or `timeoutMs` passed; the result of `done` at the end.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 3000);

// Paints `window` at once and reads a pixel of its client area.
COLORREF PixelAt(HWND window, int x, int y);
// How many pixels of the client rectangle `area` have exactly `color`.
int CountPixels(HWND window, const RECT& area, COLORREF color, int tolerance = 0);

// A new bitmap of one colour; the caller owns it.
HBITMAP SolidBitmap(int width, int height, COLORREF color);
// A new bitmap painted by `paint` on a device context of its size.
HBITMAP PaintedBitmap(int width, int height, const std::function<void(HDC)>& paint);

}  // namespace ui_testing
