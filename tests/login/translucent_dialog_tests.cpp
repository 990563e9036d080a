// The translucent dialog pair with a small drawn skin: size and place, the two layers
// covering each other on screen (alpha, key colour, moves, drags), closing through the
// control layer, painters over the skin, and the pair's clean-up.
#include <gtest/gtest.h>

#include <ole2.h>
#include <gdiplus.h>

#include <memory>

#include "login_test_support.h"
#include "res/resource.h"
#include "support/test_support.h"
#include "ui/translucent_dialog.h"

using namespace login_testing;

namespace {

const COLORREF kKey = RGB(0, 255, 0);
const int kSkinWidth = 240;
const int kSkinHeight = 160;
const COLORREF kSkinColor = RGB(200, 60, 30);
// Regions of the skin: fully transparent, half transparent white, and the button.
const RECT kClearArea = {0, 0, 40, 40};
const RECT kHalfArea = {200, 120, 240, 160};
const RECT kButtonArea = {120, 10, 180, 40};

std::unique_ptr<Gdiplus::Bitmap> DrawSkin() {
    auto skin = std::make_unique<Gdiplus::Bitmap>(kSkinWidth, kSkinHeight, PixelFormat32bppARGB);
    for (int y = 0; y < kSkinHeight; ++y) {
        for (int x = 0; x < kSkinWidth; ++x) {
            POINT p = {x, y};
            Gdiplus::Color color(255, GetRValue(kSkinColor), GetGValue(kSkinColor), GetBValue(kSkinColor));
            if (PtInRect(&kClearArea, p)) color = Gdiplus::Color(0, 0, 0, 0);
            if (PtInRect(&kHalfArea, p)) color = Gdiplus::Color(128, 255, 255, 255);
            skin->SetPixel(x, y, color);
        }
    }
    return skin;
}

class TestControlLayer : public CStandardDialog {
public:
    explicit TestControlLayer(CWnd* parent) : CStandardDialog(IDD_STANDARD_LAYER, kKey, parent) {}
    int released = 0;
    void ReleaseControls() override { ++released; }

protected:
    BOOL OnInitDialog() override {
        CStandardDialog::OnInitDialog();
        CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, kButtonArea.left,
                        kButtonArea.top, kButtonArea.right - kButtonArea.left,
                        kButtonArea.bottom - kButtonArea.top, m_hWnd, reinterpret_cast<HMENU>(IDOK),
                        GetModuleHandleW(nullptr), nullptr);
        return TRUE;
    }
};

class TestSkinLayer : public CTranslucentDialog {
public:
    explicit TestSkinLayer(bool withControls = true)
        : CTranslucentDialog(IDD_TRANSLUCENT_LAYER, DrawSkin()), withControls_(withControls) {}
    int built = 0;
    int childrenInitialised = 0;
    DWORD styleAtCreation = 0;

    TestControlLayer* controls() const { return static_cast<TestControlLayer*>(controlLayer()); }

protected:
    CStandardDialog* BuildControlLayer() override {
        styleAtCreation = GetStyle();
        ++built;
        if (!withControls_) return nullptr;
        auto* layer = new TestControlLayer(this);
        layer->SetPartner(this);
        return layer;
    }
    void InitLayerChildren() override { ++childrenInitialised; }

private:
    bool withControls_;
};

RECT Offset(const RECT& area, const RECT& window) {
    RECT moved = area;
    OffsetRect(&moved, window.left, window.top);
    return moved;
}

POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// Where the skin layer must be: centred in the work area by its caption-grown size.
POINT CentredPosition(DWORD style) {
    RECT grown = {0, 0, kSkinWidth, kSkinHeight};
    AdjustWindowRect(&grown, style, FALSE);
    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return {((work.right - work.left) - (grown.right - grown.left)) / 2 + work.left,
            ((work.bottom - work.top) - (grown.bottom - grown.top)) / 2 + work.top};
}

TEST(TranslucentPair, SkinSizedCentredAndCoveredByItsControlLayer) {
    TestSkinLayer skin;
    RECT skinRect = {}, controlRect = {};
    DWORD style = 0, skinEx = 0, controlEx = 0;
    HWND owner = nullptr, skinWindow = nullptr;
    bool controlVisible = false;
    INT_PTR result = RunModalScript(skin, {Do([&] {
                                        skinRect = skin.GetWindowRect();
                                        controlRect = skin.controls()->GetWindowRect();
                                        style = skin.GetStyle();
                                        skinEx = skin.GetExStyle();
                                        controlEx = skin.controls()->GetExStyle();
                                        owner = GetWindow(skin.controls()->m_hWnd, GW_OWNER);
                                        skinWindow = skin.m_hWnd;
                                        controlVisible = skin.controls()->IsWindowVisible();
                                    })});
    EXPECT_EQ(kLeftOpen, result);
    EXPECT_EQ(kSkinWidth, skinRect.right - skinRect.left);
    EXPECT_EQ(kSkinHeight, skinRect.bottom - skinRect.top);
    ASSERT_TRUE(skin.styleAtCreation & WS_CAPTION);
    POINT expected = CentredPosition(skin.styleAtCreation);
    EXPECT_EQ(expected.x, skinRect.left);
    EXPECT_EQ(expected.y, skinRect.top);
    EXPECT_TRUE(EqualRect(&skinRect, &controlRect));
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_TRUE(skinEx & WS_EX_LAYERED);
    EXPECT_TRUE(controlEx & WS_EX_LAYERED);
    EXPECT_EQ(skinWindow, owner);
    EXPECT_TRUE(controlVisible);
    EXPECT_EQ(1, skin.built);
    EXPECT_EQ(1, skin.childrenInitialised);
}

TEST(TranslucentPair, WithoutCentringTheSkinKeepsItsTemplatePlace) {
    TestSkinLayer skin(false);
    skin.SetCenterOnCreate(false);
    RECT skinRect = {};
    RunModalScript(skin, {Do([&] { skinRect = skin.GetWindowRect(); })});
    EXPECT_EQ(nullptr, skin.controlLayer());
    EXPECT_EQ(kSkinWidth, skinRect.right - skinRect.left);
    EXPECT_EQ(kSkinHeight, skinRect.bottom - skinRect.top);
    POINT centred = CentredPosition(skin.styleAtCreation);
    EXPECT_NE(centred.x, skinRect.left);
}

TEST(TranslucentPair, AlphaAndKeyColourShowOnScreen) {
    TestSkinLayer skin;
    COLORREF clearBefore = 0, halfBefore = 0;
    COLORREF clear = 0, opaque = 0, half = 0, button = 0, opaqueAfterClose = 0;
    RECT window = {};
    // Where the pair will be, before it shows.
    POINT place = CentredPosition(WS_POPUP | WS_CAPTION | WS_SYSMENU);
    RECT expected = {place.x, place.y, place.x + kSkinWidth, place.y + kSkinHeight};
    clearBefore = ScreenPixel(Centre(Offset(kClearArea, expected)).x, Centre(Offset(kClearArea, expected)).y);
    halfBefore = ScreenPixel(Centre(Offset(kHalfArea, expected)).x, Centre(Offset(kHalfArea, expected)).y);
    auto buttonShows = [&] {
        window = skin.GetWindowRect();
        POINT p = Centre(Offset(kButtonArea, window));
        button = ScreenPixel(p.x, p.y);
        return !Near(button, kSkinColor, 10) && !Near(button, kKey, 10);
    };
    RunModalScript(skin, {WaitFor(buttonShows, 5000, "the control layer's button on the screen"), Do([&] {
                              testing_support::SaveWindowShot(skin.m_hWnd, L"translucent_pair.png");
                              POINT p = Centre(Offset(kClearArea, window));
                              clear = ScreenPixel(p.x, p.y);
                              p = Centre(Offset(kHalfArea, window));
                              half = ScreenPixel(p.x, p.y);
                              opaque = ScreenPixel(window.left + 100, window.top + 100);
                          })});
    ASSERT_TRUE(EqualRect(&window, &expected));
    opaqueAfterClose = ScreenPixel(window.left + 100, window.top + 100);
    EXPECT_TRUE(Near(clear, clearBefore)) << std::hex << clear << " " << clearBefore;
    // The control layer lies over the whole skin: its key colour lets the skin through.
    EXPECT_TRUE(Near(opaque, kSkinColor)) << std::hex << opaque;
    COLORREF halfExpected = RGB((255 + GetRValue(halfBefore)) / 2, (255 + GetGValue(halfBefore)) / 2,
                                (255 + GetBValue(halfBefore)) / 2);
    EXPECT_TRUE(Near(half, halfExpected, 3)) << std::hex << half << " " << halfExpected;
    EXPECT_FALSE(Near(opaqueAfterClose, kSkinColor));
}

TEST(TranslucentPair, ControlLayerFollowsMovesAndSizes) {
    TestSkinLayer skin;
    RECT afterMove = {}, controlAfterMove = {}, afterSize = {}, controlAfterSize = {};
    RunModalScript(skin, {Do([&] {
                              skin.MoveWindow(33, 44, kSkinWidth, kSkinHeight);
                              afterMove = skin.GetWindowRect();
                              controlAfterMove = skin.controls()->GetWindowRect();
                              skin.SetWindowPos(nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
                              afterSize = skin.GetWindowRect();
                              controlAfterSize = skin.controls()->GetWindowRect();
                          })});
    EXPECT_EQ(33, afterMove.left);
    EXPECT_EQ(44, afterMove.top);
    EXPECT_TRUE(EqualRect(&afterMove, &controlAfterMove));
    EXPECT_EQ(300, afterSize.right - afterSize.left);
    EXPECT_TRUE(EqualRect(&afterSize, &controlAfterSize));
}

// Wine hit-tests the control layer's key colour as part of that layer, so the press is
// handed to the skin layer as the system would; the drag then follows the real mouse.
TEST(TranslucentPair, DraggingTheSkinMovesThePair) {
    TestSkinLayer skin;
    RECT before = {}, after = {}, controlAfter = {};
    POINT start = {}, end = {};
    auto move = [](LONG dx, LONG dy) {
        INPUT input = {};
        input.type = INPUT_MOUSE;
        input.mi.dx = dx;
        input.mi.dy = dy;
        input.mi.dwFlags = MOUSEEVENTF_MOVE;
        SendInput(1, &input, sizeof input);
    };
    RunModalScript(skin, {Do([&] {
                              before = skin.GetWindowRect();
                              SetCursorPos(before.left + 60, before.top + 100);
                          }),
                          Do([&] {
                              GetCursorPos(&start);
                              skin.PostMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, 100));
                          }),
                          Do([&] { move(15, 10); }), Do([&] { move(10, 10); }), Do([&] {
                              GetCursorPos(&end);
                              INPUT input = {};
                              input.type = INPUT_MOUSE;
                              input.mi.dwFlags = MOUSEEVENTF_LEFTUP;
                              SendInput(1, &input, sizeof input);
                          }),
                          Do([] {}), Do([&] {
                              after = skin.GetWindowRect();
                              controlAfter = skin.controls()->GetWindowRect();
                          })});
    EXPECT_NE(start.x, end.x);
    EXPECT_EQ(before.left + (end.x - start.x), after.left);
    EXPECT_EQ(before.top + (end.y - start.y), after.top);
    EXPECT_TRUE(EqualRect(&after, &controlAfter));
}

TEST(TranslucentPair, EndingTheControlLayerEndsTheModalLoop) {
    for (WORD command : {IDOK, IDCANCEL}) {
        TestSkinLayer skin;
        HWND controls = nullptr;
        bool allRan = false;
        INT_PTR result = RunModalScript(skin,
                                        {Do([&] {
                                             controls = skin.controls()->m_hWnd;
                                             if (command == IDOK)
                                                 SendMessageW(GetDlgItem(controls, IDOK), BM_CLICK, 0, 0);
                                             else
                                                 PostMessageW(controls, WM_COMMAND, IDCANCEL, 0);
                                         }),
                                         Do([] {})},
                                        &allRan);
        EXPECT_NE(kLeftOpen, result) << command;
        EXPECT_EQ(IDCANCEL, result) << command;
        EXPECT_FALSE(allRan) << command;
        EXPECT_FALSE(IsWindow(controls)) << command;
        EXPECT_EQ(nullptr, skin.m_hWnd);
    }
}

class SquarePainter : public ILayerPainter {
public:
    bool visible = true;
    Gdiplus::Color color{255, 0, 0, 255};
    bool IsPainterVisible() const override { return visible; }
    void PaintOnLayer(Gdiplus::Graphics& graphics) override {
        Gdiplus::SolidBrush brush(color);
        graphics.FillRectangle(&brush, 60, 60, 40, 40);
    }
};

TEST(TranslucentPair, PaintersDrawOverTheSkinWhileVisibleAndNotHeld) {
    TestSkinLayer skin;
    SquarePainter painter;
    COLORREF painted = 0, held = 0, hidden = 0;
    RECT window = {};
    auto square = [&] {
        window = skin.GetWindowRect();
        return ScreenPixel(window.left + 80, window.top + 80);
    };
    RunModalScript(skin, {Do([&] {
                              skin.AddLayerPainter(&painter);
                              skin.AddLayerPainter(&painter);
                              skin.OnRenderRequest();
                          }),
                          WaitFor([&] { return Near(painted = square(), RGB(0, 0, 255)); }, 5000, "the painter"),
                          Do([&] {
                              skin.HoldRedraw(true);
                              painter.color = Gdiplus::Color(255, 255, 255, 0);
                              skin.OnRenderRequest();
                          }),
                          Do([] {}), Do([] {}), Do([] {}),
                          Do([&] {
                              held = square();
                              skin.HoldRedraw(false);
                              painter.visible = false;
                              skin.OnRenderRequest();
                          }),
                          WaitFor([&] { return Near(hidden = square(), kSkinColor); }, 5000, "the bare skin"),
                          Do([&] { skin.RemoveLayerPainter(&painter); })});
    EXPECT_TRUE(Near(painted, RGB(0, 0, 255))) << std::hex << painted;
    EXPECT_TRUE(Near(held, RGB(0, 0, 255))) << std::hex << held;
    EXPECT_TRUE(Near(hidden, kSkinColor)) << std::hex << hidden;
}

TEST(TranslucentPair, RunAgainItBuildsAFreshControlLayerAndReleasesTheOld) {
    TestSkinLayer skin;
    RunModalScript(skin, {Do([] {})});
    TestControlLayer* first = skin.controls();
    ASSERT_NE(nullptr, first);
    EXPECT_GE(first->released, 1);  // when its window went with the skin layer's
    INT_PTR again = RunModalScript(skin, {Do([&] { EXPECT_TRUE(skin.controls()->IsWindowVisible()); })});
    EXPECT_EQ(kLeftOpen, again);
    EXPECT_EQ(2, skin.built);
}

TEST(TranslucentPair, DestroyingTheObjectTakesTheOpenPairDown) {
    auto skin = std::make_unique<TestSkinLayer>();
    ASSERT_TRUE(skin->Create(IDD_TRANSLUCENT_LAYER, nullptr));
    HWND skinWindow = skin->m_hWnd;
    HWND controlWindow = skin->controls()->m_hWnd;
    ASSERT_TRUE(IsWindow(controlWindow));
    skin.reset();
    EXPECT_FALSE(IsWindow(controlWindow));
    EXPECT_FALSE(IsWindow(skinWindow));
}

}  // namespace
