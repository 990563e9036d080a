#include "standins/flash/flash_standin.h"

#include <string.h>
#include <wchar.h>

#include <new>
#include <utility>

#include "standins/flash/module.h"

namespace {

// Answers only inside this module: the way from a control's IUnknown to the object.
// {80F3A69C-2075-4350-B6AF-E1DCFD52FF2F}
constexpr IID kSelfId = {0x80F3A69C, 0x2075, 0x4350, {0xB6, 0xAF, 0xE1, 0xDC, 0xFD, 0x52, 0xFF, 0x2F}};

// "fUfU": the first four bytes of a movie stream, read as a little-endian value.
constexpr uint32_t kStreamSignature = 0x55665566;
constexpr ULONG kReadChunk = 64 * 1024;
// A stream may announce more than it holds: memory is taken as the bytes arrive.
constexpr uint32_t kReserveLimit = 16 * 1024 * 1024;

struct Member {
    const wchar_t* name;
    DISPID id;
};

const Member kMembers[] = {
    {L"Play", FlashStandin::kPlay},
    {L"Stop", FlashStandin::kStop},
    {L"IsPlaying", FlashStandin::kIsPlaying},
    {L"CallFunction", FlashStandin::kCallFunction},
    {L"DisableLocalSecurity", FlashStandin::kDisableLocalSecurity},
};

const wchar_t* MemberName(DISPID id) {
    for (const Member& member : kMembers)
        if (member.id == id) return member.name;
    return nullptr;
}

uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// 8.8 fixed point as a decimal with at most two places: 24, 12.5, 29.97.
std::wstring FrameRateText(uint16_t rate) {
    uint32_t whole = rate >> 8;
    uint32_t hundredths = ((rate & 0xFFu) * 100 + 128) / 256;
    if (hundredths == 100) {
        ++whole;
        hundredths = 0;
    }
    std::wstring text = std::to_wstring(whole);
    if (hundredths) {
        text += L'.';
        text += static_cast<wchar_t>(L'0' + hundredths / 10);
        if (hundredths % 10) text += static_cast<wchar_t>(L'0' + hundredths % 10);
    }
    return text;
}

}  // namespace

FlashStandin::FlashStandin() : events_(this, kEventsId) {
    view_.SetWakeHandler([this]() { OnScriptEvents(); });
    view_.SetKeyHandler([this](UINT message, WPARAM key) { keys_.push_back({KeyRoute::kReceived, message, key}); });
    FlashStandinObjectCreated();
}

FlashStandin::~FlashStandin() {
    runner_.Stop();
    FlashStandinObjectDestroyed();
}

std::wstring FlashStandin::Description() const {
    if (movie_.empty()) return L"no movie";
    if (!movieIsSwf_) return L"not a SWF movie";
    int64_t width = (static_cast<int64_t>(swf_.xMax) - swf_.xMin) / 20;
    int64_t height = (static_cast<int64_t>(swf_.yMax) - swf_.yMin) / 20;
    return L"movie " + std::to_wstring(width) + L" x " + std::to_wstring(height) + L" px, " +
           FrameRateText(swf_.frameRate) + L" fps, " + std::to_wstring(movie_.size()) + L" bytes";
}

size_t FlashStandin::FireFSCommand(const wchar_t* command, const wchar_t* arguments) {
    const wchar_t* texts[] = {command, arguments};
    return FireStrings(kFSCommandEvent, texts, 2);
}

size_t FlashStandin::FireFlashCall(const wchar_t* request) {
    const wchar_t* texts[] = {request};
    return FireStrings(kFlashCallEvent, texts, 1);
}

size_t FlashStandin::FireStrings(DISPID id, const wchar_t* const* texts, UINT count) {
    VARIANT arguments[2];
    if (count > 2) return 0;
    UINT made = 0;
    for (; made < count; ++made) {
        VariantInit(&arguments[made]);
        arguments[made].vt = VT_BSTR;
        arguments[made].bstrVal = SysAllocString(texts[made] ? texts[made] : L"");
        if (!arguments[made].bstrVal) break;
    }
    size_t called = 0;
    if (made == count) {
        // A sink may drop the last outside reference while it handles the event.
        AddRef();
        called = events_.Fire(id, arguments, count);
        Release();
    }
    for (UINT i = 0; i < made; ++i) VariantClear(&arguments[i]);
    return called;
}

// IUnknown

STDMETHODIMP FlashStandin::QueryInterface(REFIID id, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IOleObject) || IsEqualIID(id, kSelfId))
        *object = static_cast<IOleObject*>(this);
    else if (IsEqualIID(id, IID_IOleWindow) || IsEqualIID(id, IID_IOleInPlaceObject))
        *object = static_cast<IOleInPlaceObject*>(this);
    else if (IsEqualIID(id, IID_IOleInPlaceActiveObject))
        *object = static_cast<IOleInPlaceActiveObject*>(this);
    else if (IsEqualIID(id, IID_IOleControl))
        *object = static_cast<IOleControl*>(this);
    else if (IsEqualIID(id, IID_IPersist) || IsEqualIID(id, IID_IPersistStreamInit))
        *object = static_cast<IPersistStreamInit*>(this);
    else if (IsEqualIID(id, IID_IDispatch) || IsEqualIID(id, kInterfaceId))
        *object = static_cast<IDispatch*>(this);
    else if (IsEqualIID(id, IID_IConnectionPointContainer))
        *object = static_cast<IConnectionPointContainer*>(this);
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) FlashStandin::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) FlashStandin::Release() {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

// IOleObject

STDMETHODIMP FlashStandin::SetClientSite(IOleClientSite* site) {
    if (!site) InPlaceDeactivate();
    site_.Assign(site);
    return S_OK;
}

STDMETHODIMP FlashStandin::GetClientSite(IOleClientSite** site) {
    if (!site) return E_POINTER;
    *site = site_.get();
    if (*site) (*site)->AddRef();
    return S_OK;
}

STDMETHODIMP FlashStandin::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

STDMETHODIMP FlashStandin::Close(DWORD) { return InPlaceDeactivate(); }

STDMETHODIMP FlashStandin::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

STDMETHODIMP FlashStandin::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FlashStandin::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

STDMETHODIMP FlashStandin::GetClipboardData(DWORD, IDataObject** data) {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FlashStandin::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND parent,
                                  LPCRECT position) {
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE:
    case OLEIVERB_INPLACEACTIVATE:
        return ActivateInPlace(activeSite, parent, position);
    case OLEIVERB_HIDE:
        if (window()) ShowWindow(window(), SW_HIDE);
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}

STDMETHODIMP FlashStandin::EnumVerbs(IEnumOLEVERB** verbs) {
    if (verbs) *verbs = nullptr;
    return OLE_S_USEREG;
}

STDMETHODIMP FlashStandin::Update() { return S_OK; }

STDMETHODIMP FlashStandin::IsUpToDate() { return S_OK; }

STDMETHODIMP FlashStandin::GetUserClassID(CLSID* id) { return GetClassID(id); }

STDMETHODIMP FlashStandin::GetUserType(DWORD, LPOLESTR* type) {
    if (type) *type = nullptr;
    return OLE_S_USEREG;
}

STDMETHODIMP FlashStandin::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    extent_ = *size;
    return S_OK;
}

STDMETHODIMP FlashStandin::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    *size = extent_;
    return S_OK;
}

STDMETHODIMP FlashStandin::Advise(IAdviseSink*, DWORD* connection) {
    if (connection) *connection = 0;
    return OLE_E_ADVISENOTSUPPORTED;
}

STDMETHODIMP FlashStandin::Unadvise(DWORD) { return OLE_E_NOCONNECTION; }

STDMETHODIMP FlashStandin::EnumAdvise(IEnumSTATDATA** advise) {
    if (advise) *advise = nullptr;
    return OLE_E_ADVISENOTSUPPORTED;
}

STDMETHODIMP FlashStandin::GetMiscStatus(DWORD aspect, DWORD* status) {
    if (!status) return E_POINTER;
    *status = 0;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *status = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE;
    return S_OK;
}

STDMETHODIMP FlashStandin::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// The window goes into the window the in-place site names, at the position it gives.
HRESULT FlashStandin::ActivateInPlace(IOleClientSite* activeSite, HWND parent, LPCRECT position) {
    if (window()) {
        if (position) view_.Move(*position);
        ShowWindow(window(), SW_SHOW);
        return S_OK;
    }
    IOleClientSite* site = site_ ? site_.get() : activeSite;
    if (!site) return E_UNEXPECTED;
    CComPtr<IOleInPlaceSite> inPlaceSite;
    HRESULT hr = site->QueryInterface(IID_IOleInPlaceSite, inPlaceSite.ReceiveVoid());
    if (FAILED(hr) || !inPlaceSite) return FAILED(hr) ? hr : E_NOINTERFACE;
    if (inPlaceSite->CanInPlaceActivate() != S_OK) return E_FAIL;

    HWND host = nullptr;
    if (FAILED(inPlaceSite->GetWindow(&host)) || !host) host = parent;
    RECT rect = {};
    RECT clip = {};
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof frameInfo;
    CComPtr<IOleInPlaceFrame> frame;
    CComPtr<IOleInPlaceUIWindow> document;
    hr = inPlaceSite->GetWindowContext(frame.Receive(), document.Receive(), &rect, &clip, &frameInfo);
    if (FAILED(hr)) {
        if (!position) return hr;
        rect = *position;
    }
    if (!host) return E_UNEXPECTED;

    inPlaceSite->OnInPlaceActivate();
    if (!view_.Create(host, rect, Description().c_str())) {
        inPlaceSite->OnInPlaceDeactivate();
        return HRESULT_FROM_WIN32(GetLastError());
    }
    inPlaceSite_ = inPlaceSite;
    return S_OK;
}

// IOleWindow, IOleInPlaceObject

STDMETHODIMP FlashStandin::GetWindow(HWND* handle) {
    if (!handle) return E_POINTER;
    *handle = window();
    return *handle ? S_OK : E_FAIL;
}

STDMETHODIMP FlashStandin::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP FlashStandin::InPlaceDeactivate() {
    view_.Destroy();
    CComPtr<IOleInPlaceSite> site(inPlaceSite_.Detach());
    if (site) site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP FlashStandin::UIDeactivate() { return S_OK; }

STDMETHODIMP FlashStandin::SetObjectRects(LPCRECT position, LPCRECT) {
    if (!position) return E_POINTER;
    view_.Move(*position);
    return S_OK;
}

STDMETHODIMP FlashStandin::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

// IOleInPlaceActiveObject

STDMETHODIMP FlashStandin::TranslateAccelerator(LPMSG message) {
    if (!message) return E_POINTER;
    bool used = false;
    if (textFieldFocused_ && message->message == WM_KEYDOWN) {
        switch (message->wParam) {
        case VK_TAB:
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
        case VK_RETURN:
        case VK_BACK:
        case VK_DELETE:
            used = true;
            break;
        case 'A':
        case 'C':
        case 'V':
        case 'X':
            used = GetKeyState(VK_CONTROL) < 0;
            break;
        default:
            break;
        }
    }
    keys_.push_back({used ? KeyRoute::kUsed : KeyRoute::kDeclined, message->message, message->wParam});
    return used ? S_OK : S_FALSE;
}

std::string FlashStandin::KeyDownRoute(WPARAM key) const {
    std::string route;
    for (const KeyRecord& record : keys_) {
        if (record.message != WM_KEYDOWN || record.key != key) continue;
        if (!route.empty()) route += ' ';
        route += record.route == KeyRoute::kUsed       ? "used"
                 : record.route == KeyRoute::kDeclined ? "declined"
                                                       : "received";
    }
    return route;
}

STDMETHODIMP FlashStandin::OnFrameWindowActivate(BOOL) { return S_OK; }

STDMETHODIMP FlashStandin::OnDocWindowActivate(BOOL) { return S_OK; }

STDMETHODIMP FlashStandin::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }

STDMETHODIMP FlashStandin::EnableModeless(BOOL) { return S_OK; }

// IOleControl

STDMETHODIMP FlashStandin::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP FlashStandin::OnMnemonic(MSG*) { return E_NOTIMPL; }

STDMETHODIMP FlashStandin::OnAmbientPropertyChange(DISPID) { return S_OK; }

STDMETHODIMP FlashStandin::FreezeEvents(BOOL) { return S_OK; }

// IPersist, IPersistStreamInit

STDMETHODIMP FlashStandin::GetClassID(CLSID* id) {
    if (!id) return E_POINTER;
    *id = kClassId;
    return S_OK;
}

STDMETHODIMP FlashStandin::IsDirty() { return S_FALSE; }

// A movie stream holds "fUfU", the movie's length N (32-bit little-endian), then N
// bytes. A stream that breaks off, or is not such a stream, leaves no movie.
STDMETHODIMP FlashStandin::Load(LPSTREAM stream) {
    if (!stream) return E_POINTER;
    try {
        std::vector<uint8_t> movie;
        HRESULT hr = ReadMovie(stream, &movie);
        if (FAILED(hr)) movie.clear();
        SetMovie(std::move(movie));
        return hr;
    } catch (const std::bad_alloc&) {
        SetMovie(std::vector<uint8_t>());
        return E_OUTOFMEMORY;
    }
}

// Only Read is asked of the stream: the launcher's answers nothing else.
HRESULT FlashStandin::ReadMovie(IStream* stream, std::vector<uint8_t>* movie) {
    // The header comes as two reads of four bytes: the signature, then the length.
    uint8_t header[8];
    for (size_t at = 0; at < sizeof header; at += 4) {
        // A stream may leave the count of a complete header read untouched.
        ULONG got = 4;
        HRESULT hr = stream->Read(header + at, 4, &got);
        if (FAILED(hr)) return hr;
        if (hr != S_OK || got != 4) return E_FAIL;
    }
    if (Read32(header) != kStreamSignature) return E_FAIL;
    uint32_t length = Read32(header + 4);
    movie->reserve(length < kReserveLimit ? length : kReserveLimit);
    while (movie->size() < length) {
        size_t at = movie->size();
        ULONG want = length - at < kReadChunk ? static_cast<ULONG>(length - at) : kReadChunk;
        movie->resize(at + want);
        ULONG got = 0;
        HRESULT hr = stream->Read(movie->data() + at, want, &got);
        if (FAILED(hr)) return hr;
        movie->resize(at + (got < want ? got : want));
        if (hr != S_OK || got == 0) break;
    }
    return movie->size() == length ? S_OK : E_FAIL;
}

void FlashStandin::SetMovie(std::vector<uint8_t> movie) {
    // A new movie ends what the old one's script was doing.
    runner_.Stop();
    runner_.TakeEvents();
    movie_ = std::move(movie);
    movieIsSwf_ = ParseSwfHeader(movie_.data(), movie_.size(), &swf_);
    if (!movieIsSwf_) swf_ = SwfHeader{};
    scriptLines_.clear();
    std::string error;
    if (FindMovieScript(movie_.data(), movie_.size(), &script_, &error) == ScriptSearch::kBroken)
        scriptLines_.push_back(L"script error: " + WideFromUtf8(error));
    else if (!script_.empty())
        scriptLines_.push_back(L"script of " + std::to_wstring(script_.size()) + L" steps, waiting for _InitGameParams");
    ShowText();
}

void FlashStandin::ShowText() {
    std::wstring text = Description();
    for (const std::wstring& line : scriptLines_) text += L"\r\n" + line;
    view_.SetText(text.c_str());
}

void FlashStandin::AddScriptLine(const std::wstring& line) {
    scriptLines_.push_back(line);
    ShowText();
}

// The script starts with the first "_InitGameParams"; the host's events are shown.
void FlashStandin::OnScriptRequest(const std::wstring& request) {
    if (script_.empty()) return;
    std::string text = Utf8FromWide(request);
    std::string name = InvokeName(text);
    if (name == "_InitGameParams" && !runner_.started()) {
        std::string flashVars = FirstInvokeArgument(text);
        AddScriptLine(L"_InitGameParams: " + WideFromUtf8(flashVars));
        if (!window()) {
            report_.Write("error", ScriptReport::Text("message", "the control has no window"));
            return;
        }
        runner_.Start(script_, flashVars, window(), FlashStandinView::kWakeMessage, &report_);
    } else if (name == "ClientCallJs") {
        std::vector<std::string> arguments = InvokeArguments(text);
        report_.Write("call", ScriptReport::TextList("arguments", arguments));
        std::wstring line = L"ClientCallJs";
        for (size_t i = 0; i < arguments.size(); ++i) line += (i ? L", " : L" ") + WideFromUtf8(arguments[i]);
        AddScriptLine(line);
    }
}

void FlashStandin::OnScriptEvents() {
    // A host that pumps messages inside a FlashCall brings the next wake-up here again:
    // the running loop takes those events too, in their order.
    if (drainingScriptEvents_) return;
    drainingScriptEvents_ = true;
    // A FlashCall may make the host let go of the control.
    AddRef();
    for (std::vector<ScriptRunner::Event> events = runner_.TakeEvents(); !events.empty();
         events = runner_.TakeEvents()) {
        for (const ScriptRunner::Event& event : events) {
            if (event.kind == ScriptRunner::Event::kShow)
                AddScriptLine(event.text);
            else
                FireFlashCall(event.text.c_str());
        }
    }
    drainingScriptEvents_ = false;
    Release();
}

STDMETHODIMP FlashStandin::Save(LPSTREAM, BOOL) { return E_NOTIMPL; }

STDMETHODIMP FlashStandin::GetSizeMax(ULARGE_INTEGER*) { return E_NOTIMPL; }

STDMETHODIMP FlashStandin::InitNew() {
    SetMovie(std::vector<uint8_t>());
    return S_OK;
}

// IDispatch

STDMETHODIMP FlashStandin::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP FlashStandin::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP FlashStandin::GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(id, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return S_OK;
    if (!names || !ids) return E_POINTER;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (const Member& member : kMembers)
        if (names[0] && _wcsicmp(names[0], member.name) == 0) ids[0] = member.id;
    // No member has named parameters.
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

STDMETHODIMP FlashStandin::Invoke(DISPID member, REFIID id, LCID, WORD flags, DISPPARAMS* parameters,
                                  VARIANT* result, EXCEPINFO* exception, UINT* badArgument) {
    if (!IsEqualIID(id, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const wchar_t* name = MemberName(member);
    if (!name || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    const DISPPARAMS& given = parameters ? *parameters : none;
    if (given.cNamedArgs) return DISP_E_NONAMEDARGS;
    if (given.cArgs != (member == kCallFunction ? 1u : 0u)) return DISP_E_BADPARAMCOUNT;
    if (result) VariantInit(result);
    try {
        switch (member) {
        case kCallFunction:
            return CallFunction(given, result, exception, badArgument);
        case kPlay:
            if (FAILED(playFailure_)) return playFailure_;
            playing_ = true;
            break;
        case kStop:
            playing_ = false;
            break;
        case kIsPlaying:
            if (result) {
                result->vt = VT_BOOL;
                result->boolVal = playing_ ? VARIANT_TRUE : VARIANT_FALSE;
            }
            break;
        }
        calls_.push_back(name);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT FlashStandin::CallFunction(const DISPPARAMS& parameters, VARIANT* result, EXCEPINFO* exception,
                                   UINT* badArgument) {
    VARIANT request;
    VariantInit(&request);
    if (!parameters.rgvarg || FAILED(VariantChangeType(&request, &parameters.rgvarg[0], 0, VT_BSTR))) {
        if (badArgument) *badArgument = 0;
        return DISP_E_TYPEMISMATCH;
    }
    std::wstring text;
    if (request.bstrVal) text.assign(request.bstrVal, SysStringLen(request.bstrVal));
    VariantClear(&request);
    calls_.push_back(L"CallFunction:" + text);
    OnScriptRequest(text);
    if (FAILED(failure_)) {
        if (failure_ == DISP_E_EXCEPTION && exception) {
            memset(exception, 0, sizeof *exception);
            exception->scode = E_FAIL;
            exception->bstrSource = SysAllocString(L"FlashStandin");
            exception->bstrDescription = SysAllocString(L"CallFunction was told to fail");
        }
        return failure_;
    }
    if (result) {
        BSTR answer = SysAllocStringLen(answer_.data(), static_cast<UINT>(answer_.size()));
        if (!answer) return E_OUTOFMEMORY;
        result->vt = VT_BSTR;
        result->bstrVal = answer;
    }
    return S_OK;
}

// IConnectionPointContainer

STDMETHODIMP FlashStandin::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points) *points = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FlashStandin::FindConnectionPoint(REFIID id, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(id, kEventsId)) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

FlashStandin* FlashStandinFromUnknown(IUnknown* control) {
    if (!control) return nullptr;
    IOleObject* object = nullptr;
    if (FAILED(control->QueryInterface(kSelfId, reinterpret_cast<void**>(&object))) || !object) return nullptr;
    // Another module's stand-in answers too; only this module's class is known here.
    HMODULE owner = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       *reinterpret_cast<const wchar_t* const*>(object), &owner);
    FlashStandin* standin = owner == FlashStandinModule() ? static_cast<FlashStandin*>(object) : nullptr;
    object->Release();
    return standin;
}
