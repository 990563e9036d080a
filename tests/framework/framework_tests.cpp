// The window framework with real windows: attachment from the first message, the modal
// loop and its pre-translation, reflection of child notifications, nesting.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/escaped_exception.h"
#include "framework/text.h"

namespace {

const UINT kTestDialog = 1;

// Records what reaches it; ends on demand from inside its own messages.
class RecordingDialog : public CDialog {
public:
    explicit RecordingDialog(CWnd* parent = nullptr) : CDialog(kTestDialog, parent) {}

    std::vector<UINT> seen;
    std::vector<UINT> pretranslated;
    bool swallowReturn = false;
    std::function<void(RecordingDialog&)> onInit;
    std::function<void(RecordingDialog&)> onTimer;
    std::function<void(const MSG&)> onPretranslate;
    bool okCalled = false;

    BOOL PreTranslateMessage(MSG* message) override {
        pretranslated.push_back(message->message);
        if (onPretranslate) onPretranslate(*message);
        if (swallowReturn && message->message == WM_KEYDOWN && message->wParam == VK_RETURN) return FALSE;
        return CDialog::PreTranslateMessage(message);
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        seen.push_back(message);
        if (message == WM_TIMER && onTimer) {
            onTimer(*this);
            return 0;
        }
        return CDialog::WindowProc(message, wParam, lParam);
    }
    BOOL OnInitDialog() override {
        if (onInit) onInit(*this);
        return TRUE;
    }
    void OnOK() override {
        okCalled = true;
        CDialog::OnOK();
    }
};

bool Saw(const std::vector<UINT>& messages, UINT message) {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

// An owner-drawn button that paints itself from the reflected WM_DRAWITEM.
class SelfDrawingButton : public CWnd {
public:
    int drawn = 0;

protected:
    void PreSubclassWindow() override { ModifyStyle(BS_TYPEMASK, BS_OWNERDRAW); }
    bool OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT* result) override {
        if (message != WM_DRAWITEM) return false;
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        FillRect(item->hDC, &item->rcItem, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        ++drawn;
        *result = TRUE;
        return true;
    }
};

TEST(Dialog, ModalDialogIsOursFromTheFirstMessageAndEndsWithItsResult) {
    RecordingDialog dialog;
    dialog.onInit = [](RecordingDialog& d) { d.SetTimer(7, 10); };
    dialog.onTimer = [](RecordingDialog& d) {
        d.KillTimer(7);
        d.EndDialog(42);
    };
    EXPECT_EQ(42, dialog.DoModal());
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    ASSERT_FALSE(dialog.seen.empty());
    // WM_SETFONT and WM_INITDIALOG come before anything a dialog procedure would see
    // first; WM_NCCREATE/WM_CREATE show that the window was ours from its creation.
    EXPECT_TRUE(Saw(dialog.seen, WM_NCCREATE));
    EXPECT_TRUE(Saw(dialog.seen, WM_CREATE));
    EXPECT_TRUE(Saw(dialog.seen, WM_INITDIALOG));
    EXPECT_EQ(static_cast<UINT>(WM_NCDESTROY), dialog.seen.back());
}

TEST(Dialog, ReturnGoesThroughPreTranslationAndCanBeKeptFromTheDialog) {
    for (bool swallow : {false, true}) {
        RecordingDialog dialog;
        dialog.swallowReturn = swallow;
        dialog.onInit = [](RecordingDialog& d) {
            SetFocus(d.GetDlgItem(100));
            d.PostMessage(WM_NULL);
            PostMessageW(d.GetDlgItem(100), WM_KEYDOWN, VK_RETURN, 0);
            d.SetTimer(7, 300);
        };
        dialog.onTimer = [](RecordingDialog& d) {
            d.KillTimer(7);
            d.EndDialog(5);
        };
        INT_PTR result = dialog.DoModal();
        EXPECT_TRUE(Saw(dialog.pretranslated, WM_KEYDOWN)) << swallow;
        if (swallow) {
            EXPECT_FALSE(dialog.okCalled);
            EXPECT_EQ(5, result);
        } else {
            EXPECT_TRUE(dialog.okCalled);
            EXPECT_EQ(IDOK, result);
        }
    }
}

TEST(Dialog, ChildNotificationsAreReflectedToTheChildObject) {
    RecordingDialog dialog;
    SelfDrawingButton button;
    dialog.onInit = [&button](RecordingDialog& d) {
        ASSERT_TRUE(button.SubclassDlgItem(101, &d));
        d.SetTimer(7, 200);
    };
    dialog.onTimer = [](RecordingDialog& d) {
        d.KillTimer(7);
        d.EndDialog(1);
    };
    dialog.DoModal();
    EXPECT_GT(button.drawn, 0);
    EXPECT_EQ(nullptr, button.m_hWnd);  // detached when the window went
}

TEST(Dialog, ModalLoopsNestAndTheOwnerIsDisabledMeanwhile) {
    RecordingDialog outer;
    RecordingDialog inner(&outer);
    BOOL outerEnabledDuringInner = TRUE;
    INT_PTR innerResult = 0;
    outer.onInit = [](RecordingDialog& d) { d.SetTimer(1, 10); };
    outer.onTimer = [&](RecordingDialog& d) {
        d.KillTimer(1);
        innerResult = inner.DoModal();
        d.EndDialog(2);
    };
    inner.onInit = [&](RecordingDialog& d) {
        outerEnabledDuringInner = IsWindowEnabled(outer.m_hWnd);
        d.SetTimer(1, 10);
    };
    inner.onTimer = [](RecordingDialog& d) {
        d.KillTimer(1);
        d.EndDialog(3);
    };
    EXPECT_EQ(2, outer.DoModal());
    EXPECT_EQ(3, innerResult);
    EXPECT_FALSE(outerEnabledDuringInner);
}

TEST(Dialog, EndingInInitialisationNeverShowsTheDialogAndReuseCreatesItAgain) {
    RecordingDialog dialog;
    bool shown = true;
    dialog.onInit = [&](RecordingDialog& d) {
        d.EndDialog(9);
        shown = d.IsWindowVisible();
    };
    EXPECT_EQ(9, dialog.DoModal());
    EXPECT_FALSE(shown);
    dialog.seen.clear();
    EXPECT_EQ(9, dialog.DoModal());
    EXPECT_TRUE(Saw(dialog.seen, WM_INITDIALOG));
}

TEST(Dialog, QuitMessageEndsTheLoopAndIsPassedOutward) {
    RecordingDialog dialog;
    dialog.onInit = [](RecordingDialog&) { PostQuitMessage(4); };
    EXPECT_EQ(-1, dialog.DoModal());
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(4u, message.wParam);
}

std::vector<std::string>& Reports() {
    static std::vector<std::string> reports;
    return reports;
}

void RecordReport(const char* boundary, const char* what) { Reports().push_back(std::string(boundary) + ": " + what); }

// Out of memory in a timer handler and in a message's pre-translation: each is caught where
// the system called us, reported once, and the dialog goes on to its end.
TEST(Dialog, AnExceptionOfAHandlerStopsAtTheSystemsBoundaryAndTheDialogGoesOn) {
    Reports().clear();
    SetEscapedExceptionReporter(RecordReport);
    const UINT kPoisoned = WM_APP + 1;
    RecordingDialog dialog;
    int timers = 0;
    dialog.onInit = [&](RecordingDialog& d) {
        d.PostMessage(kPoisoned);
        d.SetTimer(7, 10);
    };
    dialog.onPretranslate = [&](const MSG& message) {
        if (message.message == kPoisoned) throw std::bad_alloc();
    };
    dialog.onTimer = [&](RecordingDialog& d) {
        if (++timers == 1) throw std::bad_alloc();
        d.KillTimer(7);
        d.EndDialog(6);
    };
    EXPECT_EQ(6, dialog.DoModal());
    SetEscapedExceptionReporter(nullptr);
    std::vector<std::string> reports = Reports();
    std::sort(reports.begin(), reports.end());
    EXPECT_EQ(std::vector<std::string>({"a window procedure: std::bad_alloc",
                                        "the pre-translation of a message: std::bad_alloc"}),
              reports);
    EXPECT_FALSE(Saw(dialog.seen, kPoisoned));  // a message whose pre-translation failed goes no further
}

}  // namespace

// A caller that breaks one of the framework's rules ends the test build at once, and the
// message names the rule; the shipped build leaves these checks out.
TEST(ContractChecks, ABrokenRuleEndsTheTestBuildAndSaysWhich) {
    struct Case {
        const char* what;
        std::function<void()> breakRule;
        const char* rule;
    };
    const RECT rect = {0, 0, 20, 20};
    const Case cases[] = {
        {"a wrapper on a window that does not exist", [] { CWnd window; window.ShowWindow(SW_SHOW); },
         "IsWindow"},
        {"a wrapper on a window already destroyed",
         [&rect] {
             CWnd window;
             window.CreateEx(0, L"STATIC", L"", WS_POPUP, rect, nullptr, 0);
             HWND gone = window.m_hWnd;
             ::DestroyWindow(gone);
             window.m_hWnd = gone;
             window.SetWindowText(L"late");
         },
         "IsWindow"},
        {"CreateEx on an object that has a window",
         [&rect] {
             CWnd window;
             window.CreateEx(0, L"STATIC", L"", WS_POPUP, rect, nullptr, 0);
             window.CreateEx(0, L"STATIC", L"", WS_POPUP, rect, nullptr, 0);
         },
         "m_hWnd == nullptr"},
        {"EndDialog on a dialog neither shown nor running", [] { RecordingDialog().EndDialog(IDOK); },
         "modalRunning_"},
        {"ToWide off the thread that owns its buffer",
         [] {
             ToWide("main", true);
             HANDLE other = CreateThread(
                 nullptr, 0, [](void*) -> DWORD { return ToWide("other", true)[0]; }, nullptr, 0, nullptr);
             WaitForSingleObject(other, INFINITE);
         },
         "g_bufferThread"},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(c.breakRule(), ::testing::ExitedWithCode(3), std::string("contract broken: .*") + c.rule)
            << c.what;
    }
}

TEST(TextConversions, RoundTripsAndReplacements) {
    const std::string chinese = "\xE5\x90\xAF\xE5\x8A\xA8\xE5\xA4\xB1\xE8\xB4\xA5";  // 启动失败
    struct Case {
        const char* name;
        std::string utf8;
        std::wstring wide;
    } cases[] = {
        {"empty", "", L""},
        {"plain", "config/cg.txt", L"config/cg.txt"},
        {"Chinese", chinese, L"\x542F\x52A8\x5931\x8D25"},
        {"outside the basic plane", "\xF0\x9F\x8E\xAE", L"\xD83C\xDFAE"},
        {"embedded NUL", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.wide, WideFromUtf8(c.utf8)) << c.name;
        EXPECT_EQ(c.utf8, Utf8FromWide(c.wide)) << c.name;
    }
    // Bytes that are no UTF-8 become U+FFFD each; nothing is dropped silently.
    EXPECT_EQ(L"a\xFFFD" L"b", WideFromUtf8("a\xFF" "b"));
    EXPECT_EQ(L"\xFFFD", WideFromUtf8("\xE5\x90"));
    EXPECT_EQ("\xEF\xBF\xBD", Utf8FromWide(L"\xD800"));
}

// Into a buffer of a given capacity: the whole text and its terminator, or empty text and
// false; never a part of the text.
TEST(TextConversions, BoundedConversionsFitWhollyOrFail) {
    const std::string chinese = "\xE5\x90\xAF\xE5\x8A\xA8";  // 启动
    const std::string game = "\xF0\x9F\x8E\xAE";                // U+1F3AE, a surrogate pair
    const auto kFail = Unconvertible::kFail;
    const auto kReplace = Unconvertible::kReplace;
    struct ToWideCase {
        const char* name;
        std::string text;
        Encoding from;
        Unconvertible unconvertible;
        size_t capacity;
        bool converted;
        std::wstring out;
        size_t measured;
    } toWide[] = {
        {"empty", "", Encoding::kUtf8, kFail, 1, true, L"", 0},
        {"no room for a terminator", "", Encoding::kUtf8, kFail, 0, false, L"", 0},
        {"fits", "abc", Encoding::kUtf8, kFail, 4, true, L"abc", 3},
        {"short by one", "abc", Encoding::kUtf8, kFail, 3, false, L"", 3},
        {"Chinese fits", chinese, Encoding::kUtf8, kFail, 3, true, L"\x542F\x52A8", 2},
        {"Chinese short by one", chinese, Encoding::kUtf8, kFail, 2, false, L"", 2},
        {"pair fits", game, Encoding::kUtf8, kFail, 3, true, L"\xD83C\xDFAE", 2},
        {"pair never split", game, Encoding::kUtf8, kReplace, 2, false, L"", 2},
        {"embedded NUL", std::string("a\0b", 3), Encoding::kUtf8, kFail, 4, true, std::wstring(L"a\0b", 3), 3},
        {"invalid refused", "a\xFF" "b", Encoding::kUtf8, kFail, 8, false, L"", 0},
        {"invalid replaced", "a\xFF" "b", Encoding::kUtf8, kReplace, 8, true, L"a\xFFFD" L"b", 3},
        {"cut sequence refused", "\xE5\x90", Encoding::kUtf8, kFail, 8, false, L"", 0},
        {"ANSI fits", "C:\\a b", Encoding::kAnsi, kFail, 7, true, L"C:\\a b", 6},
        {"ANSI short by one", "C:\\a b", Encoding::kAnsi, kReplace, 6, false, L"", 6},
    };
    for (const ToWideCase& c : toWide) {
        wchar_t out[16];
        std::fill(std::begin(out), std::end(out), L'x');
        size_t length = 99;
        EXPECT_EQ(c.converted, WideFromNarrow(c.text, c.from, c.unconvertible, out, c.capacity, &length)) << c.name;
        if (c.capacity > 0) {
            EXPECT_EQ(c.out, std::wstring(out, length)) << c.name;
            EXPECT_EQ(L'\0', out[length]) << c.name;
        }
        EXPECT_EQ(c.out.size(), length) << c.name;
        EXPECT_EQ(c.measured, WideLength(c.text, c.from, c.unconvertible)) << c.name;
    }

    // A character the ANSI code page lacks.
    const std::wstring foreign = GetACP() == 874 ? L"\x6E38" : L"\x0E01";
    struct ToNarrowCase {
        const char* name;
        std::wstring text;
        Encoding to;
        Unconvertible unconvertible;
        size_t capacity;
        bool converted;
        std::string out;
        size_t measured;
    } toNarrow[] = {
        {"empty", L"", Encoding::kUtf8, kFail, 1, true, "", 0},
        {"no room for a terminator", L"", Encoding::kUtf8, kFail, 0, false, "", 0},
        {"fits", L"abc", Encoding::kUtf8, kFail, 4, true, "abc", 3},
        {"short by one", L"abc", Encoding::kUtf8, kFail, 3, false, "", 3},
        {"Chinese fits", L"\x542F\x52A8", Encoding::kUtf8, kFail, 7, true, chinese, 6},
        {"Chinese short by one", L"\x542F\x52A8", Encoding::kUtf8, kFail, 6, false, "", 6},
        {"embedded NUL", std::wstring(L"a\0b", 3), Encoding::kUtf8, kFail, 4, true, std::string("a\0b", 3), 3},
        {"lone surrogate refused", L"a\xD800", Encoding::kUtf8, kFail, 8, false, "", 0},
        {"lone surrogate replaced", L"a\xD800", Encoding::kUtf8, kReplace, 8, true, "a\xEF\xBF\xBD", 4},
        {"OEM fits", L"abc", Encoding::kOem, kReplace, 4, true, "abc", 3},
        {"OEM short by one", L"abcd", Encoding::kOem, kReplace, 4, false, "", 4},
        {"ANSI fits", L"C:\\a b", Encoding::kAnsi, kFail, 7, true, "C:\\a b", 6},
        {"ANSI lacks a character", L"x" + foreign, Encoding::kAnsi, kFail, 8, false, "", 0},
    };
    for (const ToNarrowCase& c : toNarrow) {
        char out[16];
        std::fill(std::begin(out), std::end(out), 'x');
        size_t length = 99;
        EXPECT_EQ(c.converted, NarrowFromWide(c.text, c.to, c.unconvertible, out, c.capacity, &length)) << c.name;
        if (c.capacity > 0) {
            EXPECT_EQ(c.out, std::string(out, length)) << c.name;
            EXPECT_EQ('\0', out[length]) << c.name;
        }
        EXPECT_EQ(c.out.size(), length) << c.name;
        EXPECT_EQ(c.measured, NarrowLength(c.text, c.to, c.unconvertible)) << c.name;
    }
}

TEST(TextConversions, AnsiKeepsWhatTheCodePageHasAndExactRefusesTheRest) {
    EXPECT_EQ(L"C:\\a b\\x.exe", WideFromAnsi("C:\\a b\\x.exe"));
    EXPECT_EQ("C:\\a b\\x.exe", AnsiFromWide(L"C:\\a b\\x.exe"));
    EXPECT_EQ(std::wstring(L"a\0b", 3), WideFromAnsi(std::string("a\0b", 3)));
    std::string ansi = "left over";
    ASSERT_TRUE(ExactAnsiFromWide(L"", &ansi));
    EXPECT_EQ("", ansi);
    ASSERT_TRUE(ExactAnsiFromWide(L"C:\\a b\\x.exe", &ansi));
    EXPECT_EQ("C:\\a b\\x.exe", ansi);
    if (GetACP() != CP_UTF8) {
        // Characters the code page lacks would turn into '?' and name no file at all.
        const wchar_t* foreign = GetACP() == 874 ? L"C:\\\x6E38\\x.exe" : L"C:\\\x0E01\\x.exe";
        EXPECT_FALSE(ExactAnsiFromWide(foreign, &ansi));
        EXPECT_EQ("", ansi);
        EXPECT_NE(std::string::npos, AnsiFromWide(foreign).find("x.exe"));
    }
}
