// The web browser host with the real WebBrowser control (under Wine it navigates but
// renders nothing), and the UI controller's answers to the browser and its documents.
#include <gtest/gtest.h>

#include <exdispid.h>

#include <functional>
#include <string>
#include <vector>

#include "login/web_browser.h"
#include "login_test_support.h"
#include "res/resource.h"

namespace {

const IID kCustomDocId = {0x3050F3F0, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
const IID kWebBrowser2Id = {0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

// A document that records the host UI handler it is given.
class FakeDocument : public IDispatch, public ICustomDoc {
public:
    LONG references = 1;
    IDocHostUIHandler* handler = nullptr;
    ~FakeDocument() {
        if (handler) handler->Release();
    }

    STDMETHODIMP QueryInterface(REFIID id, void** object) override {
        if (IsEqualIID(id, kCustomDocId)) {
            *object = static_cast<ICustomDoc*>(this);
        } else if (IsEqualIID(id, IID_IDispatch) || IsEqualIID(id, IID_IUnknown)) {
            *object = static_cast<IDispatch*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP SetUIHandler(IDocHostUIHandler* given) override {
        if (given) given->AddRef();
        if (handler) handler->Release();
        handler = given;
        return S_OK;
    }
};

// A browser (or frame) as NavigateComplete2 names it: only IUnknown and get_Document of
// IWebBrowser2 are ever called, so the object is laid out as a C-style COM object whose
// table has just those entries.
struct FakeBrowser {
    enum { kGetDocumentSlot = 18, kSlots = 19 };
    const void* const* table;
    LONG references;
    FakeDocument* document;

    static HRESULT STDMETHODCALLTYPE QueryInterface(FakeBrowser* self, REFIID id, void** object) {
        if (IsEqualIID(id, kWebBrowser2Id) || IsEqualIID(id, IID_IDispatch) || IsEqualIID(id, IID_IUnknown)) {
            *object = self;
            ++self->references;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    static ULONG STDMETHODCALLTYPE AddRef(FakeBrowser* self) { return static_cast<ULONG>(++self->references); }
    static ULONG STDMETHODCALLTYPE Release(FakeBrowser* self) { return static_cast<ULONG>(--self->references); }
    static HRESULT STDMETHODCALLTYPE GetDocument(FakeBrowser* self, IDispatch** document) {
        *document = self->document;
        if (!self->document) return E_FAIL;
        self->document->AddRef();
        return S_OK;
    }

    explicit FakeBrowser(FakeDocument* doc) : references(1), document(doc) {
        static const void* entries[kSlots] = {};
        entries[0] = reinterpret_cast<const void*>(&QueryInterface);
        entries[1] = reinterpret_cast<const void*>(&AddRef);
        entries[2] = reinterpret_cast<const void*>(&Release);
        entries[kGetDocumentSlot] = reinterpret_cast<const void*>(&GetDocument);
        table = entries;
    }
    IDispatch* dispatch() { return reinterpret_cast<IDispatch*>(this); }
};

// Arguments of an event in call order, handed over last to first like the browser does.
class EventArguments {
public:
    void AddDispatch(IDispatch* object) {
        VARIANT v;
        v.vt = VT_DISPATCH;
        v.pdispVal = object;
        values_.push_back(v);
    }
    void AddString(const wchar_t* text) {
        VARIANT v;
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
        values_.push_back(v);
    }
    DISPPARAMS* parameters() {
        reversed_.assign(values_.rbegin(), values_.rend());
        parameters_ = {reversed_.data(), nullptr, static_cast<UINT>(reversed_.size()), 0};
        return &parameters_;
    }
    ~EventArguments() {
        for (VARIANT& v : values_)
            if (v.vt == VT_BSTR) SysFreeString(v.bstrVal);
    }

private:
    std::vector<VARIANT> values_;
    std::vector<VARIANT> reversed_;
    DISPPARAMS parameters_ = {};
};

IDocHostUIHandler* HandlerOf(CWebUIController& controller) {
    IDocHostUIHandler* handler = nullptr;
    controller.QueryInterface(IID_IDocHostUIHandler, reinterpret_cast<void**>(&handler));
    if (handler) handler->Release();
    return handler;
}

TEST(WebUIController, AnswersForItsTwoFaces) {
    CWebUIController controller;
    IDispatch* sink = static_cast<IDispatch*>(&controller);
    IUnknown* handlerFace = static_cast<IDocHostUIHandler*>(&controller);
    struct Case {
        IID id;
        IUnknown* expected;
    } cases[] = {
        {kWebBrowserEventsId, sink},       {IID_IDispatch, sink},         {IID_IDocHostUIHandler, handlerFace},
        {IID_IUnknown, handlerFace},       {IID_IOleClientSite, nullptr}, {kCustomDocId, nullptr},
    };
    for (const Case& c : cases) {
        void* object = reinterpret_cast<void*>(1);
        ULONG before = controller.AddRef() - 1;
        controller.Release();
        HRESULT hr = controller.QueryInterface(c.id, &object);
        EXPECT_EQ(c.expected ? S_OK : E_NOINTERFACE, hr);
        EXPECT_EQ(static_cast<void*>(c.expected), object);
        ULONG after = controller.AddRef() - 1;
        controller.Release();
        EXPECT_EQ(before + (c.expected ? 1 : 0), after);
        if (c.expected) controller.Release();
    }
    // Embedded: dropping to zero references never frees it.
    EXPECT_EQ(0u, controller.AddRef() - 1);
    EXPECT_EQ(0u, controller.Release());
}

TEST(WebUIController, TakesOverTheDocumentOnEveryCompletedNavigation) {
    CWebUIController controller;
    FakeDocument document;
    FakeBrowser frame(&document);

    // Only NavigateComplete2 is acted on, and only with a browser as its first argument.
    EXPECT_EQ(E_INVALIDARG, controller.Invoke(DISPID_NAVIGATECOMPLETE2, IID_NULL, 0, DISPATCH_METHOD, nullptr,
                                              nullptr, nullptr, nullptr));
    struct Case {
        DISPID id;
        bool browserFirst;
        int count;
        HRESULT expected;
    } ignored[] = {
        {DISPID_BEFORENAVIGATE2, true, 2, S_OK},
        {DISPID_DOCUMENTCOMPLETE, true, 2, S_OK},
        {DISPID_NAVIGATECOMPLETE2, false, 2, E_INVALIDARG},
        {DISPID_NAVIGATECOMPLETE2, true, 1, E_INVALIDARG},
    };
    for (const Case& c : ignored) {
        EventArguments arguments;
        if (c.browserFirst)
            arguments.AddDispatch(frame.dispatch());
        else
            arguments.AddString(L"http://127.0.0.1/page.html");
        if (c.count > 1) arguments.AddString(L"http://127.0.0.1/page.html");
        EXPECT_EQ(c.expected, controller.Invoke(c.id, IID_NULL, 0, DISPATCH_METHOD, arguments.parameters(), nullptr,
                                                nullptr, nullptr))
            << c.id;
        EXPECT_EQ(nullptr, document.handler) << c.id;
    }

    EventArguments arguments;
    arguments.AddDispatch(frame.dispatch());
    arguments.AddString(L"http://127.0.0.1/page.html");
    EXPECT_EQ(S_OK, controller.Invoke(DISPID_NAVIGATECOMPLETE2, IID_NULL, 0, DISPATCH_METHOD,
                                      arguments.parameters(), nullptr, nullptr, nullptr));
    EXPECT_EQ(HandlerOf(controller), document.handler);
    // What it took from the browser and the document it gave back.
    EXPECT_EQ(1, frame.references);
    EXPECT_EQ(1, document.references);

    // A browser without a document is left alone.
    FakeBrowser empty(nullptr);
    EventArguments second;
    second.AddDispatch(empty.dispatch());
    second.AddString(L"about:blank");
    EXPECT_EQ(S_OK, controller.Invoke(DISPID_NAVIGATECOMPLETE2, IID_NULL, 0, DISPATCH_METHOD, second.parameters(),
                                      nullptr, nullptr, nullptr));
    EXPECT_EQ(1, empty.references);
}

// A WebBrowser control on a plain dialog.
class BrowserPage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dialog_.Create(IDD_STANDARD_LAYER, nullptr));
        RECT rect = {10, 10, 310, 210};
        ASSERT_TRUE(page_.Create(WS_CHILD | WS_VISIBLE, rect, &dialog_, 150)) << "no WebBrowser control";
    }
    void TearDown() override { dialog_.DestroyWindow(); }

    CDialog dialog_{IDD_STANDARD_LAYER};
    CWebBrowserEx page_;
};

TEST_F(BrowserPage, HostsTheControlAndDrivesIt) {
    EXPECT_EQ(150, page_.GetDlgCtrlID());
    EXPECT_NE(nullptr, page_.GetControlUnknown());
    EXPECT_TRUE(page_.Navigate(L"about:blank"));
    EXPECT_TRUE(page_.SetSilent(true));
    EXPECT_TRUE(page_.GetSilent());
    EXPECT_TRUE(page_.SetSilent(false));
    EXPECT_FALSE(page_.GetSilent());
}

TEST_F(BrowserPage, HostInfoLosesBorderAndScrollBarsAsAttached) {
    struct Case {
        bool attach;
        bool scrollBars;
        DWORD added;
    } cases[] = {
        {false, false, 0},
        {true, true, DOCHOSTUIFLAG_NO3DBORDER},
        {true, false, DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO},
    };
    for (const Case& c : cases) {
        CWebBrowserEx page;
        RECT rect = {10, 220, 110, 300};
        ASSERT_TRUE(page.Create(WS_CHILD, rect, &dialog_, 151));
        if (c.attach) {
            EXPECT_TRUE(page.AttachUIController(c.scrollBars));
        }
        DOCHOSTUIINFO info = {};
        info.cbSize = sizeof info;
        info.dwFlags = DOCHOSTUIFLAG_DIALOG;
        info.dwDoubleClick = DOCHOSTUIDBLCLK_SHOWCODE;
        IDocHostUIHandler* handler = HandlerOf(page.controller());
        EXPECT_EQ(S_OK, handler->GetHostInfo(&info));
        EXPECT_EQ(static_cast<DWORD>(DOCHOSTUIFLAG_DIALOG) | c.added, info.dwFlags);
        EXPECT_EQ(static_cast<DWORD>(DOCHOSTUIDBLCLK_SHOWCODE), info.dwDoubleClick);
        EXPECT_EQ(S_OK, handler->GetHostInfo(nullptr));
    }
}

TEST_F(BrowserPage, HostUICallbacksLeaveTheRestToTheBrowser) {
    ASSERT_TRUE(page_.AttachUIController(false));
    IDocHostUIHandler* handler = HandlerOf(page_.controller());
    POINT where = {5, 5};
    EXPECT_EQ(S_OK, handler->ShowContextMenu(0, &where, nullptr, nullptr));

    IDispatch* external = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(E_NOTIMPL, handler->GetExternal(&external));
    EXPECT_EQ(nullptr, external);
    wchar_t url[] = L"http://127.0.0.1/";
    wchar_t* translated = url;
    EXPECT_EQ(E_NOTIMPL, handler->TranslateUrl(0, url, &translated));
    EXPECT_EQ(nullptr, translated);

    MSG message = {};
    RECT border = {};
    const std::vector<std::function<HRESULT()>> defaults = {
        [&] { return handler->ShowUI(0, nullptr, nullptr, nullptr, nullptr); },
        [&] { return handler->HideUI(); },
        [&] { return handler->UpdateUI(); },
        [&] { return handler->EnableModeless(TRUE); },
        [&] { return handler->OnDocWindowActivate(TRUE); },
        [&] { return handler->OnFrameWindowActivate(TRUE); },
        [&] { return handler->ResizeBorder(&border, nullptr, TRUE); },
        [&] { return handler->TranslateAccelerator(&message, nullptr, 0); },
        [&] {
            LPOLESTR key = nullptr;
            return handler->GetOptionKeyPath(&key, 0);
        },
        [&] {
            IDropTarget* target = nullptr;
            return handler->GetDropTarget(nullptr, &target);
        },
        [&] {
            IDataObject* filtered = nullptr;
            return handler->FilterDataObject(nullptr, &filtered);
        },
    };
    for (size_t i = 0; i < defaults.size(); ++i) EXPECT_EQ(E_NOTIMPL, defaults[i]()) << i;
}

TEST(WebBrowserEx, AttachingWithoutAControlFails) {
    CWebBrowserEx page;
    EXPECT_FALSE(page.AttachUIController(false));
    EXPECT_FALSE(page.Navigate(L"about:blank"));
    EXPECT_FALSE(page.SetSilent(true));
}

}  // namespace
