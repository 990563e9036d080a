// The Flash stand-in as the launcher meets it: hosted by atl.dll's AtlAxWin in a real
// window, movies loaded through a stream that behaves like the launcher's, dispatch
// calls by id, events on the connection point; and FlashStandin.dll registered in the
// prefix's registry and found by CoCreateInstance.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "standins/flash/flash_standin.h"
#include "support/test_support.h"

namespace {

const wchar_t kClassText[] = L"{D27CDB6E-AE6D-11CF-96B8-444553540000}";

// ---------------------------------------------------------------------------------
// Movies

// Appends values most significant bit first, as the SWF header packs them.
class BitWriter {
public:
    void Put(uint32_t value, uint32_t count) {
        for (uint32_t i = count; i-- > 0;) {
            if (bit_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1u) bytes_.back() |= static_cast<uint8_t>(0x80u >> (bit_ % 8));
            ++bit_;
        }
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    uint32_t bit_ = 0;
};

struct MovieShape {
    bool compressed;
    uint32_t bits;  // width of each rectangle field
    int32_t xMin, xMax, yMin, yMax;
    uint16_t frameRate;
    uint16_t frameCount;
    size_t bodyBytes;  // tag bytes after the header
};

void PutLittleEndian(std::vector<uint8_t>* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> MakeMovie(const MovieShape& shape) {
    BitWriter rect;
    rect.Put(shape.bits, 5);
    for (int32_t value : {shape.xMin, shape.xMax, shape.yMin, shape.yMax})
        rect.Put(static_cast<uint32_t>(value) & (shape.bits == 32 ? ~0u : (1u << shape.bits) - 1), shape.bits);
    std::vector<uint8_t> rest = rect.bytes();
    PutLittleEndian(&rest, shape.frameRate, 2);
    PutLittleEndian(&rest, shape.frameCount, 2);
    for (size_t i = 0; i < shape.bodyBytes; ++i) rest.push_back(static_cast<uint8_t>(i * 7 + 1));

    std::vector<uint8_t> movie = {static_cast<uint8_t>(shape.compressed ? 'C' : 'F'), 'W', 'S', 10};
    PutLittleEndian(&movie, static_cast<uint32_t>(8 + rest.size()), 4);
    if (shape.compressed) {
        uLongf packedLength = compressBound(static_cast<uLong>(rest.size()));
        std::vector<uint8_t> packed(packedLength);
        EXPECT_EQ(Z_OK, compress(packed.data(), &packedLength, rest.data(), static_cast<uLong>(rest.size())));
        packed.resize(packedLength);
        rest = packed;
    }
    movie.insert(movie.end(), rest.begin(), rest.end());
    return movie;
}

std::vector<uint8_t> Bytes(const char* text) { return std::vector<uint8_t>(text, text + strlen(text)); }

// ---------------------------------------------------------------------------------
// Streams

// Serves a movie the way the launcher's memory stream does: the signature and the
// length on two reads of 4 bytes (whose counts it does not report), then the movie, then
// S_FALSE. With `raw` it serves `content` as it is instead; a read that reaches past
// `failAt` fails.
// It answers nothing but Read, not even AddRef, and counts every other call.
class TestStream : public IStream {
public:
    explicit TestStream(const std::vector<uint8_t>& movie) : content_(movie) {}
    static TestStream Raw(const std::vector<uint8_t>& content, size_t failAt = SIZE_MAX) {
        TestStream stream(content);
        stream.raw_ = true;
        stream.failAt_ = failAt;
        return stream;
    }

    const std::vector<ULONG>& reads() const { return reads_; }
    int otherCalls() const { return otherCalls_; }

    STDMETHODIMP QueryInterface(REFIID, void**) override { return Other(); }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(Other()); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(Other()); }

    STDMETHODIMP Read(void* buffer, ULONG count, ULONG* got) override {
        reads_.push_back(count);
        return raw_ ? ReadRaw(buffer, count, got) : ReadLikeTheLauncher(buffer, count, got);
    }

    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return Other(); }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return Other(); }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return Other(); }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return Other(); }
    STDMETHODIMP Commit(DWORD) override { return Other(); }
    STDMETHODIMP Revert() override { return Other(); }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return Other(); }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return Other(); }
    STDMETHODIMP Stat(STATSTG*, DWORD) override { return Other(); }
    STDMETHODIMP Clone(IStream**) override { return Other(); }

private:
    HRESULT Other() {
        ++otherCalls_;
        return E_NOTIMPL;
    }

    HRESULT ReadLikeTheLauncher(void* buffer, ULONG count, ULONG* got) {
        uint8_t* out = static_cast<uint8_t*>(buffer);
        if (position_ == 0 && count == 4) {
            memcpy(out, "fUfU", 4);
            position_ = 4;
            return S_OK;
        }
        if (position_ == 4 && count == 4) {
            uint32_t length = static_cast<uint32_t>(size_);
            memcpy(out, &length, 4);
            size_ += 8;
            position_ = 8;
            return S_OK;
        }
        if (position_ + count > size_) count = static_cast<ULONG>(size_ - position_);
        if (count == 0) return S_FALSE;
        memcpy(out, content_.data() + (position_ - 8), count);
        if (got) *got = count;
        position_ += count;
        return S_OK;
    }

    HRESULT ReadRaw(void* buffer, ULONG count, ULONG* got) {
        if (got) *got = 0;
        if (position_ + count > failAt_) return STG_E_READFAULT;
        size_t left = content_.size() - position_;
        if (left == 0) return S_FALSE;
        ULONG taken = count < left ? count : static_cast<ULONG>(left);
        memcpy(buffer, content_.data() + position_, taken);
        position_ += taken;
        if (got) *got = taken;
        return taken == count ? S_OK : S_FALSE;
    }

    std::vector<uint8_t> content_;
    size_t size_ = content_.size();
    size_t position_ = 0;
    bool raw_ = false;
    size_t failAt_ = SIZE_MAX;
    std::vector<ULONG> reads_;
    int otherCalls_ = 0;
};

// "fUfU", the length and the movie, as one plain byte sequence.
std::vector<uint8_t> FramedMovie(const std::vector<uint8_t>& movie, uint32_t announced) {
    std::vector<uint8_t> framed = Bytes("fUfU");
    PutLittleEndian(&framed, announced, 4);
    framed.insert(framed.end(), movie.begin(), movie.end());
    return framed;
}

// ---------------------------------------------------------------------------------
// Dispatch and events

struct Variant {
    VARIANT value;
    Variant() { VariantInit(&value); }
    explicit Variant(const wchar_t* text) {
        VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = SysAllocString(text);
    }
    ~Variant() { VariantClear(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    std::wstring text() const { return value.vt == VT_BSTR && value.bstrVal ? value.bstrVal : L"<not a string>"; }
};

HRESULT Call(IUnknown* control, DISPID id, VARIANT* arguments, UINT count, VARIANT* result,
             EXCEPINFO* exception = nullptr, WORD flags = DISPATCH_METHOD) {
    CComPtr<IDispatch> dispatch;
    HRESULT hr = control->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid());
    if (FAILED(hr)) return hr;
    DISPPARAMS parameters = {arguments, nullptr, count, 0};
    UINT badArgument = 0;
    return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result, exception, &badArgument);
}

bool IsPlaying(IUnknown* control) {
    Variant result;
    EXPECT_EQ(S_OK, Call(control, FlashStandin::kIsPlaying, nullptr, 0, &result.value));
    EXPECT_EQ(VT_BOOL, result.value.vt);
    return result.value.vt == VT_BOOL && result.value.boolVal == VARIANT_TRUE;
}

struct ReceivedEvent {
    DISPID id;
    std::vector<std::wstring> arguments;  // in call order
};

// An event sink. What it answers to decides how the control can take it.
class RecordingSink : public IDispatch {
public:
    enum Answers { kEventsInterface, kDispatchOnly, kNothing };
    explicit RecordingSink(Answers answers) : answers_(answers) {}

    std::vector<ReceivedEvent> events;
    std::function<void()> onEvent;

    STDMETHODIMP QueryInterface(REFIID id, void** object) override {
        bool yes = IsEqualIID(id, IID_IUnknown) ||
                   (answers_ != kNothing && IsEqualIID(id, IID_IDispatch)) ||
                   (answers_ == kEventsInterface && IsEqualIID(id, FlashStandin::kEventsId));
        *object = yes ? static_cast<IDispatch*>(this) : nullptr;
        if (!yes) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        ReceivedEvent event = {id, {}};
        for (UINT i = parameters->cArgs; i-- > 0;) {
            const VARIANT& argument = parameters->rgvarg[i];
            event.arguments.push_back(argument.vt == VT_BSTR ? argument.bstrVal : L"<not a string>");
        }
        events.push_back(event);
        if (onEvent) onEvent();
        return S_OK;
    }

    ULONG references = 1;

private:
    Answers answers_;
};

CComPtr<IConnectionPoint> EventPoint(IUnknown* control) {
    CComPtr<IConnectionPointContainer> container;
    CComPtr<IConnectionPoint> point;
    EXPECT_EQ(S_OK, control->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid()));
    if (container) {
        EXPECT_EQ(S_OK, container->FindConnectionPoint(FlashStandin::kEventsId, point.Receive()));
    }
    return point;
}

// ---------------------------------------------------------------------------------
// Hosting

using AtlAxWinInitFunction = BOOL(WINAPI*)();
using AtlAxGetControlFunction = HRESULT(WINAPI*)(HWND, IUnknown**);

// atl.dll registers AtlAxWin once per process and stays loaded.
AtlAxGetControlFunction AtlHost() {
    static AtlAxGetControlFunction getControl = [] {
        HMODULE atl = LoadLibraryW(L"atl.dll");
        if (!atl) return AtlAxGetControlFunction(nullptr);
        auto init = reinterpret_cast<AtlAxWinInitFunction>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
        auto get = reinterpret_cast<AtlAxGetControlFunction>(
            reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
        return init && get && init() ? get : nullptr;
    }();
    return getControl;
}

// One top-level window for the whole run: Wine takes about two seconds to destroy a
// visible top-level window on a display without a window manager.
HWND Frame() {
    static HWND frame = [] {
        WNDCLASSW frameClass = {};
        frameClass.lpfnWndProc = DefWindowProcW;
        frameClass.hInstance = GetModuleHandleW(nullptr);
        frameClass.lpszClassName = L"StandinTestFrame";
        RegisterClassW(&frameClass);
        return CreateWindowExW(0, L"StandinTestFrame", L"stand-in test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                               640, 480, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }();
    return frame;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// An AtlAxWin window at (10, 20), 400 x 300 in the frame, made the way the launcher's
// dialogs make their control windows.
struct HostWindow {
    HWND host = nullptr;
    CComPtr<IUnknown> control;

    bool Create() {
        AtlAxGetControlFunction getControl = AtlHost();
        if (!getControl || !Frame()) return false;
        host = CreateWindowExW(0, L"AtlAxWin", kClassText, WS_CHILD | WS_VISIBLE, 10, 20, 400, 300, Frame(),
                               reinterpret_cast<HMENU>(170), GetModuleHandleW(nullptr), nullptr);
        if (!host) return false;
        PumpMessages();
        return SUCCEEDED(getControl(host, control.Receive())) && control;
    }
    ~HostWindow() {
        control.Reset();
        if (host) DestroyWindow(host);
        PumpMessages();
    }
};

class HostedStandinTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_EQ(S_OK, RegisterFlashStandin());
        window_.reset(new HostWindow());
        ASSERT_TRUE(window_->Create());
        standin_ = FlashStandinFromUnknown(window_->control.get());
        ASSERT_NE(nullptr, standin_);
    }
    void TearDown() override {
        window_.reset();
        RevokeFlashStandin();
        OleUninitialize();
    }

    IUnknown* control() const { return window_->control.get(); }

    HRESULT Load(TestStream* stream) {
        CComPtr<IPersistStreamInit> persist;
        HRESULT hr = control()->QueryInterface(IID_IPersistStreamInit, persist.ReceiveVoid());
        if (FAILED(hr)) return hr;
        hr = persist->InitNew();
        return SUCCEEDED(hr) ? persist->Load(stream) : hr;
    }

    std::unique_ptr<HostWindow> window_;
    FlashStandin* standin_ = nullptr;
};

std::wstring WindowText(HWND window) {
    wchar_t text[256] = L"";
    GetWindowTextW(window, text, 256);
    return text;
}

// ---------------------------------------------------------------------------------

TEST_F(HostedStandinTest, ChildWindowFillsItsHostAndFollowsItsSize) {
    HWND window = standin_->window();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(window_->host, GetParent(window));
    LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(WS_CHILD | WS_VISIBLE), style & (WS_CHILD | WS_VISIBLE | WS_POPUP));
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, window_->host, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(0, rect.left);
    EXPECT_EQ(0, rect.top);
    EXPECT_EQ(400, rect.right);
    EXPECT_EQ(300, rect.bottom);
    EXPECT_EQ(L"no movie", WindowText(window));

    MoveWindow(window_->host, 0, 0, 520, 250, TRUE);
    PumpMessages();
    GetClientRect(window, &rect);
    EXPECT_EQ(520, rect.right);
    EXPECT_EQ(250, rect.bottom);

    // It paints its background, and its text across the middle.
    UpdateWindow(window);
    HDC dc = GetDC(window);
    COLORREF background = GetPixel(dc, 2, 2);
    int textPixels = 0;
    for (int y = 115; y < 135; ++y)
        for (int x = 200; x < 320; ++x) textPixels += GetPixel(dc, x, y) != background;
    ReleaseDC(window, dc);
    EXPECT_EQ(GetSysColor(COLOR_APPWORKSPACE), background);
    EXPECT_GT(textPixels, 20);
}

TEST_F(HostedStandinTest, LoadsPlainAndCompressedMoviesThroughTheLauncherStream) {
    struct Case {
        MovieShape shape;
        const wchar_t* description;  // the byte count follows
    };
    const Case cases[] = {
        {{false, 15, 0, 11000, 0, 8000, 24 << 8, 120, 1000}, L"movie 550 x 400 px, 24 fps, "},
        {{true, 16, 0, 16000, 0, 12000, 12 << 8 | 0x80, 1, 200000}, L"movie 800 x 600 px, 12.5 fps, "},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> movie = MakeMovie(c.shape);
        TestStream stream(movie);
        EXPECT_EQ(S_OK, Load(&stream));
        EXPECT_EQ(movie, standin_->movie());
        EXPECT_TRUE(standin_->movieIsSwf());
        EXPECT_EQ(c.shape.compressed, standin_->swf().compressed);
        EXPECT_EQ(c.shape.frameCount, standin_->swf().frameCount);
        std::wstring expected = c.description + std::to_wstring(movie.size()) + L" bytes";
        EXPECT_EQ(expected, WindowText(standin_->window()));
        EXPECT_EQ(expected, standin_->Description());
        // Header first, as two reads of four bytes; nothing asked of the stream but Read.
        ASSERT_GE(stream.reads().size(), 3u);
        EXPECT_EQ(4u, stream.reads()[0]);
        EXPECT_EQ(4u, stream.reads()[1]);
        EXPECT_EQ(0, stream.otherCalls());
    }
}

TEST_F(HostedStandinTest, WhatIsNotASwfMovieLoadsAsNothing) {
    std::vector<uint8_t> good = MakeMovie({false, 15, 0, 11000, 0, 8000, 24 << 8, 1, 0});
    std::vector<uint8_t> packed = MakeMovie({true, 15, 0, 11000, 0, 8000, 24 << 8, 1, 50});
    std::vector<uint8_t> damaged = packed;
    for (size_t i = 8; i < damaged.size(); ++i) damaged[i] ^= 0x5A;
    std::vector<uint8_t> lowerCase = good;
    lowerCase[0] = 'f';
    struct Case {
        const char* name;
        std::vector<uint8_t> movie;
        const wchar_t* description;
    };
    const Case cases[] = {
        {"empty", {}, L"no movie"},
        {"picture", Bytes("GIF89a, not a movie"), L"not a SWF movie"},
        {"header cut before the frame count", std::vector<uint8_t>(good.begin(), good.end() - 1), L"not a SWF movie"},
        {"compressed body that does not inflate", damaged, L"not a SWF movie"},
        {"lower-case signature", lowerCase, L"not a SWF movie"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestStream stream(c.movie);
        EXPECT_EQ(S_OK, Load(&stream));
        EXPECT_EQ(c.movie, standin_->movie());
        EXPECT_FALSE(standin_->movieIsSwf());
        EXPECT_EQ(c.description, WindowText(standin_->window()));
        EXPECT_TRUE(IsWindow(standin_->window()));
    }
}

TEST_F(HostedStandinTest, BrokenStreamsFailAndLeaveNoMovie) {
    std::vector<uint8_t> movie = MakeMovie({false, 15, 0, 11000, 0, 8000, 24 << 8, 1, 300});
    std::vector<uint8_t> framed = FramedMovie(movie, static_cast<uint32_t>(movie.size()));
    std::vector<uint8_t> wrongSignature = framed;
    wrongSignature[0] = 'F';
    struct Case {
        const char* name;
        TestStream stream;
    };
    Case cases[] = {
        {"no header", TestStream::Raw(Bytes("fUf"))},
        {"another signature", TestStream::Raw(wrongSignature)},
        {"fewer bytes than announced", TestStream::Raw(FramedMovie(movie, static_cast<uint32_t>(movie.size() + 1)))},
        {"4 GiB announced, a few bytes there", TestStream::Raw(FramedMovie(movie, 0xFFFFFFFFu))},
        {"read error inside the movie", TestStream::Raw(framed, 100)},
        {"read error in the header", TestStream::Raw(framed, 4)},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(FAILED(Load(&c.stream)));
        EXPECT_TRUE(standin_->movie().empty());
        EXPECT_EQ(L"no movie", WindowText(standin_->window()));
    }
    // The same bytes, complete, load.
    TestStream whole = TestStream::Raw(framed);
    EXPECT_EQ(S_OK, Load(&whole));
    EXPECT_EQ(movie, standin_->movie());
}

TEST_F(HostedStandinTest, DispatchMembersAnswerAndAreRecordedInOrder) {
    EXPECT_FALSE(IsPlaying(control()));
    EXPECT_EQ(S_OK, Call(control(), FlashStandin::kPlay, nullptr, 0, nullptr));
    EXPECT_TRUE(IsPlaying(control()));
    EXPECT_EQ(S_OK, Call(control(), FlashStandin::kStop, nullptr, 0, nullptr));
    EXPECT_FALSE(IsPlaying(control()));
    EXPECT_EQ(S_OK, Call(control(), FlashStandin::kDisableLocalSecurity, nullptr, 0, nullptr));

    const wchar_t request[] = L"<invoke name=\"ClientCallJs\" returntype=\"xml\"><arguments><string>5</string>"
                              L"</arguments></invoke>";
    Variant argument(request);
    Variant answer;
    EXPECT_EQ(S_OK, Call(control(), FlashStandin::kCallFunction, &argument.value, 1, &answer.value));
    EXPECT_EQ(L"<string></string>", answer.text());
    standin_->SetCallFunctionAnswer(L"<string>ok</string>");
    Variant second;
    EXPECT_EQ(S_OK, Call(control(), FlashStandin::kCallFunction, &argument.value, 1, &second.value));
    EXPECT_EQ(L"<string>ok</string>", second.text());

    const std::vector<std::wstring> expected = {
        L"IsPlaying", L"Play", L"IsPlaying", L"Stop", L"IsPlaying", L"DisableLocalSecurity",
        std::wstring(L"CallFunction:") + request, std::wstring(L"CallFunction:") + request,
    };
    EXPECT_EQ(expected, standin_->calls());
}

TEST_F(HostedStandinTest, NamesOfTheMembersGiveTheirIds) {
    CComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, control()->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid()));
    const struct {
        const wchar_t* name;
        HRESULT result;
        DISPID id;
    } cases[] = {
        {L"Play", S_OK, FlashStandin::kPlay},
        {L"stop", S_OK, FlashStandin::kStop},
        {L"IsPlaying", S_OK, FlashStandin::kIsPlaying},
        {L"CallFunction", S_OK, FlashStandin::kCallFunction},
        {L"DisableLocalSecurity", S_OK, FlashStandin::kDisableLocalSecurity},
        {L"LoadMovie", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
    };
    for (const auto& c : cases) {
        LPOLESTR name = const_cast<LPOLESTR>(c.name);
        DISPID id = 12345;
        EXPECT_EQ(c.result, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)) << c.name;
        EXPECT_EQ(c.id, id) << c.name;
    }
}

TEST_F(HostedStandinTest, CallFunctionFailsWhenToldAndStillRecordsTheRequest) {
    for (HRESULT failure : {DISP_E_EXCEPTION, E_FAIL}) {
        standin_->SetCallFunctionFailure(failure);
        Variant argument(L"<invoke name=\"_InitGameParams\"/>");
        Variant answer;
        EXCEPINFO exception = {};
        EXPECT_EQ(failure, Call(control(), FlashStandin::kCallFunction, &argument.value, 1, &answer.value, &exception));
        EXPECT_EQ(VT_EMPTY, answer.value.vt);
        if (failure == DISP_E_EXCEPTION) {
            EXPECT_TRUE(FAILED(exception.scode));
        }
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
    EXPECT_EQ(2u, standin_->calls().size());
    standin_->SetCallFunctionFailure(S_OK);
    Variant argument(L"x");
    Variant answer;
    EXPECT_EQ(S_OK, Call(control(), FlashStandin::kCallFunction, &argument.value, 1, &answer.value));
    EXPECT_EQ(L"<string></string>", answer.text());
}

TEST_F(HostedStandinTest, MalformedDispatchCallsAreRefusedAndNotRecorded) {
    Variant text(L"a");
    Variant object;
    object.value.vt = VT_UNKNOWN;
    object.value.punkVal = nullptr;
    VARIANT two[2];
    two[0] = text.value;
    two[1] = text.value;
    struct Case {
        const char* name;
        DISPID id;
        VARIANT* arguments;
        UINT count;
        WORD flags;
        HRESULT result;
    };
    const Case cases[] = {
        {"unknown member", 0x9E, nullptr, 0, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND},
        {"property read of a method", FlashStandin::kIsPlaying, nullptr, 0, DISPATCH_PROPERTYGET,
         DISP_E_MEMBERNOTFOUND},
        {"Play with an argument", FlashStandin::kPlay, &text.value, 1, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT},
        {"CallFunction without a request", FlashStandin::kCallFunction, nullptr, 0, DISPATCH_METHOD,
         DISP_E_BADPARAMCOUNT},
        {"CallFunction with two", FlashStandin::kCallFunction, two, 2, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT},
        {"CallFunction with an object", FlashStandin::kCallFunction, &object.value, 1, DISPATCH_METHOD,
         DISP_E_TYPEMISMATCH},
    };
    for (const Case& c : cases) {
        Variant result;
        EXPECT_EQ(c.result, Call(control(), c.id, c.arguments, c.count, &result.value, nullptr, c.flags)) << c.name;
    }
    EXPECT_TRUE(standin_->calls().empty());
    EXPECT_FALSE(standin_->isPlaying());
}

TEST_F(HostedStandinTest, EventsReachEveryAdvisedSinkInArgumentOrder) {
    CComPtr<IConnectionPoint> point = EventPoint(control());
    ASSERT_TRUE(point);
    RecordingSink events(RecordingSink::kEventsInterface);
    RecordingSink dispatchOnly(RecordingSink::kDispatchOnly);
    RecordingSink deaf(RecordingSink::kNothing);
    DWORD first = 0, second = 0, refused = 99;
    ASSERT_EQ(S_OK, point->Advise(&events, &first));
    ASSERT_EQ(S_OK, point->Advise(&dispatchOnly, &second));
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&deaf, &refused));
    EXPECT_EQ(0u, refused);
    EXPECT_NE(first, second);

    EXPECT_EQ(2u, standin_->FireFSCommand(L"quit", L"now"));
    const wchar_t request[] = L"<invoke name=\"JsCallClient\" returntype=\"xml\"><arguments><string>6</string>"
                              L"<string>标题</string></arguments></invoke>";
    EXPECT_EQ(2u, standin_->FireFlashCall(request));
    for (RecordingSink* sink : {&events, &dispatchOnly}) {
        ASSERT_EQ(2u, sink->events.size());
        EXPECT_EQ(FlashStandin::kFSCommandEvent, sink->events[0].id);
        EXPECT_EQ((std::vector<std::wstring>{L"quit", L"now"}), sink->events[0].arguments);
        EXPECT_EQ(FlashStandin::kFlashCallEvent, sink->events[1].id);
        EXPECT_EQ(std::vector<std::wstring>{request}, sink->events[1].arguments);
    }

    EXPECT_EQ(S_OK, point->Unadvise(first));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(first));
    EXPECT_EQ(1u, standin_->FireFlashCall(L"<invoke name=\"end\"/>"));
    EXPECT_EQ(2u, events.events.size());
    EXPECT_EQ(3u, dispatchOnly.events.size());
    EXPECT_EQ(S_OK, point->Unadvise(second));
    EXPECT_EQ(1u, events.references);
    EXPECT_EQ(1u, dispatchOnly.references);

    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, control()->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid()));
    CComPtr<IConnectionPoint> other;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IPropertyNotifySink, other.Receive()));
}

// A splash dialog ends inside the event: its sink unadvises, and the host window with
// the control's last outside reference goes away, while the control is still firing.
TEST_F(HostedStandinTest, ASinkMayUnadviseAndDropTheControlInsideAnEvent) {
    CComPtr<IConnectionPoint> point = EventPoint(control());
    ASSERT_TRUE(point);
    RecordingSink closing(RecordingSink::kEventsInterface);
    RecordingSink later(RecordingSink::kEventsInterface);
    DWORD closingCookie = 0, laterCookie = 0;
    ASSERT_EQ(S_OK, point->Advise(&closing, &closingCookie));
    ASSERT_EQ(S_OK, point->Advise(&later, &laterCookie));
    FlashStandin* standin = standin_;
    closing.onEvent = [&] {
        point->Unadvise(closingCookie);
        point.Reset();
        DestroyWindow(window_->host);
        window_->host = nullptr;
        window_->control.Reset();
    };
    // The test's own reference keeps the object for the checks after the event.
    standin->AddRef();
    EXPECT_EQ(2u, standin->FireFSCommand(L"quit", L""));
    EXPECT_EQ(1u, closing.events.size());
    EXPECT_EQ(1u, later.events.size());
    EXPECT_EQ(nullptr, standin->window());
    EXPECT_EQ(1u, standin->sinkCount());
    EXPECT_EQ(1u, standin->FireFlashCall(L"x"));
    standin->Release();
}

TEST(SwfHeader, ReadsTheFrameRectangleRateAndCount) {
    struct Case {
        MovieShape shape;
        int32_t width, height;
    };
    const Case cases[] = {
        {{false, 15, 0, 11000, 0, 8000, 24 << 8, 120, 0}, 550, 400},
        {{true, 15, 0, 11000, 0, 8000, 30 << 8, 2, 64}, 550, 400},
        // Negative origin, fields of one width for all four values.
        {{false, 13, -2000, 2000, -1000, 1000, 0x0C80, 7, 3}, 200, 100},
        // The widest fields the header allows.
        {{false, 31, -1073741824, 1073741823, 0, 20, 1, 65535, 0}, 107374182, 1},
        // No bits at all: a zero frame.
        {{false, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> movie = MakeMovie(c.shape);
        SwfHeader header = {};
        ASSERT_TRUE(ParseSwfHeader(movie.data(), movie.size(), &header)) << c.shape.bits;
        EXPECT_EQ(c.shape.compressed, header.compressed);
        EXPECT_EQ(10, header.version);
        EXPECT_EQ(c.shape.xMin, header.xMin);
        EXPECT_EQ(c.shape.xMax, header.xMax);
        EXPECT_EQ(c.shape.yMin, header.yMin);
        EXPECT_EQ(c.shape.yMax, header.yMax);
        EXPECT_EQ(c.width, (header.xMax - header.xMin) / 20);
        EXPECT_EQ(c.height, (header.yMax - header.yMin) / 20);
        EXPECT_EQ(c.shape.frameRate, header.frameRate);
        EXPECT_EQ(c.shape.frameCount, header.frameCount);
    }
}

TEST(SwfHeader, EveryCutThroughTheHeaderIsRefused) {
    std::vector<uint8_t> movie = MakeMovie({false, 31, 1, 2, 3, 4, 24 << 8, 9, 0});
    SwfHeader header = {};
    for (size_t length = 0; length < movie.size(); ++length)
        EXPECT_FALSE(ParseSwfHeader(movie.data(), length, &header)) << length;
    EXPECT_TRUE(ParseSwfHeader(movie.data(), movie.size(), &header));
    // A compressed movie cut inside its zlib header.
    std::vector<uint8_t> packed = MakeMovie({true, 31, 1, 2, 3, 4, 24 << 8, 9, 0});
    for (size_t length : {size_t(8), size_t(9), size_t(10)})
        EXPECT_FALSE(ParseSwfHeader(packed.data(), length, &header)) << length;
}

TEST(SwfHeader, FrameRatesAreShownWithUpToTwoPlaces) {
    struct Case {
        uint16_t rate;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {24 << 8, L"24 fps"}, {12 << 8 | 0x80, L"12.5 fps"}, {29 << 8 | 248, L"29.97 fps"}, {0x00FF, L"1 fps"},
        {0x0003, L"0.01 fps"}, {0, L"0 fps"},
    };
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    for (const Case& c : cases) {
        std::vector<uint8_t> movie = MakeMovie({false, 15, 0, 20, 0, 20, c.rate, 1, 0});
        TestStream stream(movie);
        CComPtr<IPersistStreamInit> persist;
        ASSERT_EQ(S_OK,
                  FlashStandinClassFactory()->CreateInstance(nullptr, IID_IPersistStreamInit, persist.ReceiveVoid()));
        ASSERT_EQ(S_OK, persist->Load(&stream));
        FlashStandin* standin = FlashStandinFromUnknown(persist.get());
        ASSERT_NE(nullptr, standin);
        std::wstring description = standin->Description();
        std::wstring tail = std::wstring(L"px, ") + c.shown;
        EXPECT_NE(std::wstring::npos, description.find(tail)) << Utf8FromWide(description);
    }
    OleUninitialize();
}

// ---------------------------------------------------------------------------------
// FlashStandin.dll

class StandinDllTest : public ::testing::Test {
protected:
    using Entry = HRESULT(WINAPI*)();
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        dll_ = LoadLibraryW(testing_support::FixturePath(L"standins/FlashStandin.dll").c_str());
        ASSERT_NE(nullptr, dll_);
        registerServer_ = Function<Entry>("DllRegisterServer");
        unregisterServer_ = Function<Entry>("DllUnregisterServer");
        canUnloadNow_ = Function<Entry>("DllCanUnloadNow");
        ASSERT_TRUE(registerServer_ && unregisterServer_ && canUnloadNow_ && Function<GetClassObject>("DllGetClassObject"));
        wchar_t path[MAX_PATH] = L"";
        GetModuleFileNameW(dll_, path, MAX_PATH);
        path_ = path;
        classKey_ = std::wstring(L"Software\\Classes\\CLSID\\") + kClassText;
    }
    void TearDown() override {
        if (unregisterServer_) unregisterServer_();
        RegDeleteTreeW(HKEY_CURRENT_USER, classKey_.c_str());
        CoFreeUnusedLibraries();
        if (dll_) FreeLibrary(dll_);
        OleUninitialize();
    }

    template <class F>
    F Function(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll_, name)));
    }

    std::wstring RegistryText(const wchar_t* subkey, const wchar_t* name, HKEY root = HKEY_CURRENT_USER) {
        wchar_t value[MAX_PATH * 2] = L"";
        DWORD size = sizeof value - sizeof(wchar_t);
        std::wstring key = classKey_ + subkey;
        if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
            return L"<missing>";
        return value;
    }

    HMODULE dll_ = nullptr;
    Entry registerServer_ = nullptr;
    Entry unregisterServer_ = nullptr;
    Entry canUnloadNow_ = nullptr;
    std::wstring path_;
    std::wstring classKey_;
};

HMODULE ModuleOf(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<const wchar_t*>(address), &module);
    return module;
}

TEST_F(StandinDllTest, RegistersForTheUserAndIsFoundByItsClassId) {
    ASSERT_EQ(S_OK, registerServer_());
    EXPECT_EQ(path_, RegistryText(L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"Apartment", RegistryText(L"\\InprocServer32", L"ThreadingModel"));

    {
        CComPtr<IOleObject> object;
        ASSERT_EQ(S_OK, CoCreateInstance(FlashStandin::kClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                         object.ReceiveVoid()));
        // Made by the DLL, not by the copy linked into this program.
        EXPECT_EQ(dll_, ModuleOf(*reinterpret_cast<void**>(object.get())));
        EXPECT_EQ(nullptr, FlashStandinFromUnknown(object.get()));
        CLSID id = {};
        EXPECT_EQ(S_OK, object->GetUserClassID(&id));
        EXPECT_TRUE(IsEqualCLSID(FlashStandin::kClassId, id));
        EXPECT_FALSE(IsPlaying(object.get()));
        EXPECT_EQ(S_FALSE, canUnloadNow_());
    }
    EXPECT_EQ(S_OK, canUnloadNow_());

    // Hosted by AtlAxWin as Launcher.exe hosts it: the DLL's window in the host.
    {
        HostWindow window;
        ASSERT_TRUE(window.Create());
        EXPECT_EQ(dll_, ModuleOf(*reinterpret_cast<void**>(window.control.get())));
        HWND child = GetWindow(window.host, GW_CHILD);
        ASSERT_NE(nullptr, child);
        EXPECT_EQ(L"no movie", WindowText(child));
    }

    EXPECT_EQ(S_OK, unregisterServer_());
    EXPECT_EQ(L"<missing>", RegistryText(L"", nullptr));
    EXPECT_EQ(L"<missing>", RegistryText(L"", nullptr, HKEY_LOCAL_MACHINE));
    CComPtr<IUnknown> gone;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(FlashStandin::kClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, gone.ReceiveVoid()));
}

TEST_F(StandinDllTest, UnregisteringLeavesAnotherServersRegistration) {
    const wchar_t other[] = L"C:\\Program Files\\Other\\player.ocx";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, (classKey_ + L"\\InprocServer32").c_str(), 0, nullptr,
                                             0, KEY_WRITE, nullptr, &key, nullptr));
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other), sizeof other);
    RegCloseKey(key);

    EXPECT_EQ(S_FALSE, unregisterServer_());
    EXPECT_EQ(other, RegistryText(L"\\InprocServer32", nullptr));
}

// ---------------------------------------------------------------------------------
// Movie scripts

void PutTag(std::vector<uint8_t>* movie, uint16_t code, const std::vector<uint8_t>& body) {
    PutLittleEndian(movie, static_cast<uint32_t>(code << 6 | 0x3F), 2);
    PutLittleEndian(movie, static_cast<uint32_t>(body.size()), 4);
    movie->insert(movie->end(), body.begin(), body.end());
}

// A plain movie carrying `data` in a DefineBinaryData tag (code 87), then the End tag.
std::vector<uint8_t> MovieWithBinaryData(const std::string& data) {
    std::vector<uint8_t> movie = MakeMovie({false, 15, 0, 11000, 0, 8000, 24 << 8, 1, 0});
    std::vector<uint8_t> body = {1, 0, 0, 0, 0, 0};
    body.insert(body.end(), data.begin(), data.end());
    PutTag(&movie, 87, body);
    PutLittleEndian(&movie, 0, 2);
    const uint32_t length = static_cast<uint32_t>(movie.size());
    for (int i = 0; i < 4; ++i) movie[4 + i] = static_cast<uint8_t>(length >> (8 * i));
    return movie;
}

TEST(MovieScript, IsFoundInItsTagAndReadStepByStep) {
    std::vector<ScriptStep> steps;
    std::string error;
    std::vector<uint8_t> movie = MovieWithBinaryData(
        "flash-standin-script\r\n# comment\n\nconnect ${connectPort}\naddresses D:\\Game cdn/res\n"
        "get res/a.swf\nwait\n  title   two  words \t\nclientinfo\nquit 250");
    ASSERT_EQ(ScriptSearch::kFound, FindMovieScript(movie.data(), movie.size(), &steps, &error)) << error;
    const ScriptStep::Kind kinds[] = {ScriptStep::kConnect, ScriptStep::kAddresses, ScriptStep::kGet,
                                      ScriptStep::kWait, ScriptStep::kTitle, ScriptStep::kClientInfo,
                                      ScriptStep::kQuit};
    ASSERT_EQ(7u, steps.size());
    for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(kinds[i], steps[i].kind) << i;
    EXPECT_EQ(std::vector<std::string>({"${connectPort}"}), steps[0].arguments);
    EXPECT_EQ(std::vector<std::string>({"D:\\Game", "cdn/res"}), steps[1].arguments);
    EXPECT_EQ(std::vector<std::string>({"two  words"}), steps[4].arguments);
    EXPECT_EQ(4, steps[0].line);
    EXPECT_EQ(10, steps[6].line);

    // Every cut through the movie before the End tag is read safely and finds no script.
    for (size_t cut = 0; cut < movie.size() - 2; ++cut)
        EXPECT_NE(ScriptSearch::kFound, FindMovieScript(movie.data(), cut, &steps, &error)) << cut;
}

TEST(MovieScript, BrokenScriptsNameTheirLineAndOtherMoviesHaveNone) {
    struct Case {
        const char* data;
        ScriptSearch found;
        const char* error;
    };
    const Case cases[] = {
        {"flash-standin-script\nget a.txt\njump 3", ScriptSearch::kBroken, "line 3: unknown step \"jump\""},
        {"flash-standin-script\naddresses onlyone", ScriptSearch::kBroken, "line 2: addresses takes 2 argument(s)"},
        {"flash-standin-script\nwait now", ScriptSearch::kBroken, "line 2: wait takes 0 argument(s)"},
        {"flash-standin-script\ntitle", ScriptSearch::kBroken, "line 2: title takes 1 argument(s)"},
        {"flash-standin-script\nquit soon", ScriptSearch::kBroken, "line 2: quit needs milliseconds"},
        {"flash-standin-script\nquit ${later}", ScriptSearch::kFound, ""},
        {"some other binary data\nget a.txt", ScriptSearch::kNone, ""},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> movie = MovieWithBinaryData(c.data);
        std::vector<ScriptStep> steps;
        std::string error;
        EXPECT_EQ(c.found, FindMovieScript(movie.data(), movie.size(), &steps, &error)) << c.data;
        EXPECT_EQ(0u, error.find(c.error)) << error;
        if (c.found == ScriptSearch::kBroken) {
            EXPECT_TRUE(steps.empty());
        }
    }
    // A compressed movie keeps its tags out of reach: no script.
    std::vector<uint8_t> compressed = MovieWithBinaryData("flash-standin-script\nwait");
    compressed[0] = 'C';
    std::vector<ScriptStep> steps;
    std::string error;
    EXPECT_EQ(ScriptSearch::kNone, FindMovieScript(compressed.data(), compressed.size(), &steps, &error));
}

TEST(MovieScript, FlashVariablesFillTheArguments) {
    // As the launcher sends them (raw) and as a host that escapes would.
    for (const char* text : {"a=1&dir=C:\\x y&empty=&flag&a=2", "a=1&amp;dir=C:\\x y&amp;empty=&amp;flag&amp;a=2"}) {
        std::map<std::string, std::string> variables = ParseFlashVars(text);
        EXPECT_EQ(4u, variables.size()) << text;
        EXPECT_EQ("1", variables["a"]);  // the first of two wins
        EXPECT_EQ("C:\\x y", variables["dir"]);
        EXPECT_EQ("", variables["empty"]);
        EXPECT_EQ(1u, variables.count("flag"));
    }
    std::map<std::string, std::string> variables = ParseFlashVars("port=9898&base=http://h/");
    struct Case {
        const char* argument;
        const char* expanded;
    };
    const Case cases[] = {
        {"${port}", "9898"},       {"${base}res/${port}.txt", "http://h/res/9898.txt"},
        {"${missing}x", "x"},      {"${port", "${port"},
        {"$port", "$port"},        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expanded, ExpandArgument(c.argument, variables)) << c.argument;
}

// The local resource server as the movie meets it, played by the test: it records what
// the stand-in sends and answers the two GetFile requests in the opposite order, the
// second one as a failed fetch.
class FakeResourceServer {
public:
    FakeResourceServer() {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener_, 4) == 0 &&
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        worker_ = std::thread([this] { Serve(); });
    }
    ~FakeResourceServer() {
        closesocket(listener_);
        worker_.join();
        if (started_) WSACleanup();
    }

    uint16_t port = 0;
    std::vector<uint8_t> policyRequest, handshake, setAddresses, firstGet, secondGet;

private:
    static SOCKET Accept(SOCKET listener) {
        SOCKET s = accept(listener, nullptr, nullptr);
        DWORD timeout = 20000;
        if (s != INVALID_SOCKET)
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        return s;
    }
    static std::vector<uint8_t> Receive(SOCKET s, size_t count) {
        std::vector<uint8_t> bytes(count);
        size_t got = 0;
        while (got < count) {
            int n = recv(s, reinterpret_cast<char*>(bytes.data() + got), static_cast<int>(count - got), 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }
    static std::vector<uint8_t> ReceiveFrame(SOCKET s) {
        std::vector<uint8_t> frame = Receive(s, 8);
        if (frame.size() < 8) return frame;
        uint32_t length = frame[4] | frame[5] << 8 | frame[6] << 16 | static_cast<uint32_t>(frame[7]) << 24;
        std::vector<uint8_t> body = Receive(s, length);
        frame.insert(frame.end(), body.begin(), body.end());
        return frame;
    }
    static void Send(SOCKET s, const std::vector<uint8_t>& bytes) {
        send(s, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
    }
    // A FileReply to `request` (a GetFile frame): its words and token, then the rest.
    static std::vector<uint8_t> Reply(const std::vector<uint8_t>& request, const std::vector<uint8_t>& rest) {
        if (request.size() < 23) return {};
        size_t tokenLength = request[21] | request[22] << 8;
        std::vector<uint8_t> body(request.begin() + 8, request.begin() + 23 + tokenLength + 1);
        body.insert(body.end(), rest.begin(), rest.end());
        std::vector<uint8_t> frame = {0xFF, 0xCC, 0xEE, 0xCC};
        PutLittleEndian(&frame, static_cast<uint32_t>(body.size()), 4);
        frame.insert(frame.end(), body.begin(), body.end());
        return frame;
    }

    void Serve() {
        SOCKET policy = Accept(listener_);
        if (policy == INVALID_SOCKET) return;
        policyRequest = Receive(policy, 23);
        std::string text = "<?xml version=\"1.0\"?><cross-domain-policy><allow-access-from domain=\"*\" "
                           "to-ports=\"*\"/></cross-domain-policy>";
        std::vector<uint8_t> answer = {static_cast<uint8_t>(text.size()), 0};
        answer.insert(answer.end(), text.begin(), text.end());
        answer.push_back(0);
        Send(policy, answer);
        closesocket(policy);

        SOCKET game = Accept(listener_);
        if (game == INVALID_SOCKET) return;
        handshake = Receive(game, 4);
        Send(game, {'P', 'V', 'N', 'L'});
        setAddresses = ReceiveFrame(game);
        firstGet = ReceiveFrame(game);
        secondGet = ReceiveFrame(game);
        // Status 1, the failed body's length, the address.
        std::vector<uint8_t> failed = {1, 3, 0, 0, 0, 3, 0, 'c', 'd', 'n', 0};
        Send(game, Reply(secondGet, failed));
        Send(game, Reply(firstGet, {0, 5, 0, 0, 0, 'A', 'B', 'C', 'D', 'E'}));
        // Open until the stand-in is done with it.
        Receive(game, 1);
        closesocket(game);
    }

    bool started_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    std::thread worker_;
};

std::vector<uint8_t> Frame(std::vector<uint8_t> body) {
    std::vector<uint8_t> frame = {0xFF, 0xCC, 0xEE, 0xCC};
    PutLittleEndian(&frame, static_cast<uint32_t>(body.size()), 4);
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

void PutPacketString(std::vector<uint8_t>* out, const std::string& text) {
    PutLittleEndian(out, static_cast<uint32_t>(text.size()), 2);
    out->insert(out->end(), text.begin(), text.end());
    out->push_back(0);
}

TEST_F(HostedStandinTest, AScriptedMovieTalksToTheLocalServerAndTheBridgeLikeTheGame) {
    testing_support::TempDir folder;
    const std::wstring report = folder.path() + L"report.jsonl";
    ASSERT_TRUE(SetEnvironmentVariableW(L"FLASH_STANDIN_REPORT", report.c_str()));
    // The report is named when the control is made.
    window_.reset(new HostWindow());
    ASSERT_TRUE(window_->Create());
    SetEnvironmentVariableW(L"FLASH_STANDIN_REPORT", nullptr);
    standin_ = FlashStandinFromUnknown(control());
    ASSERT_NE(nullptr, standin_);

    FakeResourceServer server;
    ASSERT_NE(0, server.port);
    std::vector<uint8_t> movie = MovieWithBinaryData(
        "flash-standin-script\ntitle a & <b>\nconnect ${connectPort}\naddresses D:\\Game cdn/res\n"
        "get res/a.swf\nget gone.txt\nwait\nclientinfo\nquit 0\n");
    TestStream stream(movie);
    ASSERT_EQ(S_OK, Load(&stream));
    ASSERT_EQ(8u, standin_->script().size());

    RecordingSink sink(RecordingSink::kEventsInterface);
    DWORD cookie = 0;
    CComPtr<IConnectionPoint> point = EventPoint(control());
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    DWORD eventThread = 0;
    int depth = 0;
    int deepest = 0;
    // The launcher answers the request for the client information at once, from inside the
    // event; a host may also pump messages while it handles an event: the next request
    // still waits until this one has returned.
    sink.onEvent = [&] {
        eventThread = GetCurrentThreadId();
        deepest = std::max(deepest, ++depth);
        const ULONGLONG until = GetTickCount64() + 200;
        while (GetTickCount64() < until) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            PumpMessages();
        }
        if (sink.events.back().arguments[0].find(L"<string>7</string>") != std::wstring::npos) {
            Variant answer(L"<invoke name=\"ClientCallJs\"><arguments><string>5</string><string>00-11</string>"
                           L"<string>127.0.0.1</string><string>demo</string></arguments></invoke>");
            Variant result;
            EXPECT_EQ(S_OK, Call(control(), FlashStandin::kCallFunction, &answer.value, 1, &result.value));
        }
        --depth;
    };
    // The launcher's request, its values unescaped.
    std::wstring init = L"<invoke name=\"_InitGameParams\"><arguments><string>a=1&connectPort=" +
                        std::to_wstring(server.port) + L"</string></arguments></invoke>";
    Variant request(init.c_str());
    Variant result;
    ASSERT_EQ(S_OK, Call(control(), FlashStandin::kCallFunction, &request.value, 1, &result.value));

    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (sink.events.size() < 3 && GetTickCount64() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        PumpMessages();
    }
    point->Unadvise(cookie);
    ASSERT_EQ(3u, sink.events.size());
    EXPECT_EQ(GetCurrentThreadId(), eventThread);
    EXPECT_EQ(1, deepest);
    const wchar_t* requests[] = {
        L"<invoke name=\"JsCallClient\" returntype=\"xml\"><arguments><string>6</string>"
        L"<string>a &amp; &lt;b&gt;</string></arguments></invoke>",
        L"<invoke name=\"JsCallClient\" returntype=\"xml\"><arguments><string>7</string></arguments></invoke>",
        L"<invoke name=\"JsCallClient\" returntype=\"xml\"><arguments><string>1</string></arguments></invoke>",
    };
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(FlashStandin::kFlashCallEvent, sink.events[i].id);
        EXPECT_EQ(std::vector<std::wstring>({requests[i]}), sink.events[i].arguments);
    }

    // The bytes on the wire.
    std::vector<uint8_t> policy = Bytes("<policy-file-request/>");
    policy.push_back(0);
    EXPECT_EQ(policy, server.policyRequest);
    EXPECT_EQ(Bytes("QMTK"), server.handshake);
    std::vector<uint8_t> addresses = {1};
    PutPacketString(&addresses, "D:\\Game");
    PutPacketString(&addresses, "cdn/res");
    EXPECT_EQ(Frame(addresses), server.setAddresses);
    std::vector<uint8_t> get = {2};
    PutLittleEndian(&get, 1, 4);  // request number
    PutLittleEndian(&get, 5, 4);  // script line
    PutLittleEndian(&get, 0, 4);
    PutPacketString(&get, "t1");
    PutPacketString(&get, "res/a.swf");
    EXPECT_EQ(Frame(get), server.firstGet);

    // What it reported: both replies matched to their requests whatever their order.
    std::string text(reinterpret_cast<const char*>(testing_support::ReadFileBytes(report).data()),
                     testing_support::ReadFileBytes(report).size());
    const char* expected[] = {
        "\"event\":\"init\"", "\"flashVars\":\"a=1&connectPort=",
        "\"event\":\"policy\"", "\"bytes\":111",
        "\"event\":\"addresses\"", "\"localDirectory\":\"D:\\\\Game\",\"resourceBase\":\"cdn/res\"",
        "\"name\":\"gone.txt\",\"status\":1,\"size\":3,\"address\":\"cdn\"",
        "\"name\":\"res/a.swf\",\"status\":0,\"size\":5,\"crc32\":\"72d31ad5\",\"head\":\"4142434445\"",
        "\"event\":\"call\"", "\"arguments\":[\"5\",\"00-11\",\"127.0.0.1\",\"demo\"]",
        "\"event\":\"done\"", "\"files\":1,\"failed\":1,\"ok\":1",
    };
    size_t at = 0;
    for (const char* piece : expected) {
        size_t found = text.find(piece, piece[1] == 'e' ? 0 : at);
        EXPECT_NE(std::string::npos, found) << piece << "\n" << text;
        if (found != std::string::npos) at = found;
    }
    EXPECT_EQ(std::string::npos, text.find("\"event\":\"error\"")) << text;

    // And what it shows.
    const std::vector<std::wstring>& lines = standin_->scriptLines();
    auto shown = [&](const wchar_t* piece) {
        for (const std::wstring& line : lines)
            if (line.find(piece) != std::wstring::npos) return true;
        return false;
    };
    for (const wchar_t* piece : {L"policy answer: 111 bytes", L"res/a.swf   5 bytes   CRC-32 72d31ad5",
                                 L"gone.txt   not available: cdn", L"ClientCallJs 5, 00-11, 127.0.0.1, demo",
                                 L"1 file(s) received, 1 failed"})
        EXPECT_TRUE(shown(piece)) << Utf8FromWide(piece);
}

TEST_F(HostedStandinTest, AScriptThatCannotReachTheServerReportsItAndStillEndsTheGame) {
    // A port nobody listens on: taken and given back at once.
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(0, bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length));
    closesocket(probe);
    WSACleanup();

    std::vector<uint8_t> movie =
        MovieWithBinaryData("flash-standin-script\nconnect ${connectPort}\nget a.txt\nwait\nquit 0\n");
    TestStream stream(movie);
    ASSERT_EQ(S_OK, Load(&stream));
    RecordingSink sink(RecordingSink::kEventsInterface);
    DWORD cookie = 0;
    CComPtr<IConnectionPoint> point = EventPoint(control());
    ASSERT_EQ(S_OK, point->Advise(&sink, &cookie));
    std::wstring init = L"<invoke name=\"_InitGameParams\"><arguments><string>connectPort=" +
                        std::to_wstring(ntohs(address.sin_port)) + L"</string></arguments></invoke>";
    Variant request(init.c_str());
    Variant result;
    ASSERT_EQ(S_OK, Call(control(), FlashStandin::kCallFunction, &request.value, 1, &result.value));
    // A second _InitGameParams starts nothing more.
    ASSERT_EQ(S_OK, Call(control(), FlashStandin::kCallFunction, &request.value, 1, &result.value));

    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (sink.events.empty() && GetTickCount64() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        PumpMessages();
    }
    point->Unadvise(cookie);
    ASSERT_EQ(1u, sink.events.size());
    EXPECT_NE(std::wstring::npos, sink.events[0].arguments[0].find(L"<string>1</string>"));
    bool failureShown = false;
    for (const std::wstring& line : standin_->scriptLines())
        failureShown = failureShown || line.find(L"error: the policy connection") == 0;
    EXPECT_TRUE(failureShown);
}

}  // namespace
