#include "flash/shockwave_flash.h"

#include <oleauto.h>
#include <string.h>

const CLSID CLSID_ShockwaveFlash = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID IID_IShockwaveFlash = {0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const IID DIID_IShockwaveFlashEvents = {0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

FlashMemoryStream::FlashMemoryStream(const uint8_t* data, uint32_t length)
    : data_(data), length_(data ? length : 0), position_(0) {
    header_[0] = 'f';
    header_[1] = 'U';
    header_[2] = 'f';
    header_[3] = 'U';
    header_[4] = static_cast<uint8_t>(length_);
    header_[5] = static_cast<uint8_t>(length_ >> 8);
    header_[6] = static_cast<uint8_t>(length_ >> 16);
    header_[7] = static_cast<uint8_t>(length_ >> 24);
}

STDMETHODIMP FlashMemoryStream::QueryInterface(REFIID, void** object) {
    if (object) *object = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP_(ULONG) FlashMemoryStream::AddRef() { return static_cast<ULONG>(E_NOTIMPL); }
STDMETHODIMP_(ULONG) FlashMemoryStream::Release() { return static_cast<ULONG>(E_NOTIMPL); }

STDMETHODIMP FlashMemoryStream::Read(void* buffer, ULONG count, ULONG* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    const uint64_t total = kHeaderSize + static_cast<uint64_t>(length_);
    const uint64_t available = position_ < total ? total - position_ : 0;
    const uint32_t wanted = static_cast<uint32_t>(count < available ? count : available);
    if (wanted == 0) return S_FALSE;
    if (!buffer) return STG_E_INVALIDPOINTER;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    uint32_t copied = 0;
    if (position_ < kHeaderSize) {
        uint32_t fromHeader = kHeaderSize - static_cast<uint32_t>(position_);
        if (fromHeader > wanted) fromHeader = wanted;
        memcpy(out, header_ + position_, fromHeader);
        copied = fromHeader;
        position_ += fromHeader;
    }
    if (copied < wanted) {
        const uint32_t fromMovie = wanted - copied;
        memcpy(out + copied, data_ + (position_ - kHeaderSize), fromMovie);
        copied += fromMovie;
        position_ += fromMovie;
    }
    if (bytesRead) *bytesRead = copied;
    return S_OK;
}

STDMETHODIMP FlashMemoryStream::Write(const void*, ULONG, ULONG*) { return E_NOTIMPL; }
STDMETHODIMP FlashMemoryStream::Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) { return E_NOTIMPL; }
STDMETHODIMP FlashMemoryStream::SetSize(ULARGE_INTEGER) { return E_NOTIMPL; }
STDMETHODIMP FlashMemoryStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) {
    return E_NOTIMPL;
}
STDMETHODIMP FlashMemoryStream::Commit(DWORD) { return E_NOTIMPL; }
STDMETHODIMP FlashMemoryStream::Revert() { return E_NOTIMPL; }
STDMETHODIMP FlashMemoryStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
STDMETHODIMP FlashMemoryStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
STDMETHODIMP FlashMemoryStream::Stat(STATSTG*, DWORD) { return E_NOTIMPL; }
STDMETHODIMP FlashMemoryStream::Clone(IStream**) { return E_NOTIMPL; }

BOOL CShockwaveFlash::Create(const wchar_t* windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    return CreateControl(CLSID_ShockwaveFlash, windowName, style, rect, parent, id);
}

void CShockwaveFlash::CallMethod(DISPID id) { InvokeHelper(id, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr, 0); }

void CShockwaveFlash::Play() { CallMethod(DISPID_FLASH_PLAY); }
void CShockwaveFlash::Stop() { CallMethod(DISPID_FLASH_STOP); }
void CShockwaveFlash::DisableLocalSecurity() { CallMethod(DISPID_FLASH_DISABLELOCALSECURITY); }

namespace {

// A VARIANT cleared when it goes out of scope.
struct OwnedVariant {
    VARIANT value;
    OwnedVariant() { VariantInit(&value); }
    ~OwnedVariant() { VariantClear(&value); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;
};

}  // namespace

BOOL CShockwaveFlash::IsPlaying() {
    OwnedVariant answer;
    InvokeHelper(DISPID_FLASH_ISPLAYING, DISPATCH_METHOD, VT_BOOL, &answer.value, nullptr, 0);
    return answer.value.boolVal != VARIANT_FALSE;
}

std::wstring CShockwaveFlash::CallFunction(const wchar_t* request) {
    OwnedVariant argument;
    argument.value.bstrVal = SysAllocString(request ? request : L"");
    if (!argument.value.bstrVal) throw CDispatchException(E_OUTOFMEMORY);
    argument.value.vt = VT_BSTR;
    OwnedVariant answer;
    InvokeHelper(DISPID_FLASH_CALLFUNCTION, DISPATCH_METHOD, VT_BSTR, &answer.value, &argument.value, 1);
    const BSTR text = answer.value.bstrVal;
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

bool LoadMovieFromStream(CShockwaveFlash& control, IStream* stream) {
    IUnknown* unknown = control.GetControlUnknown();
    if (!unknown || !stream) return false;
    CComPtr<IPersistStreamInit> persist;
    if (FAILED(unknown->QueryInterface(IID_IPersistStreamInit, persist.ReceiveVoid())) || !persist) return false;
    // The control reports nothing useful here: a movie it cannot parse simply shows nothing.
    persist->InitNew();
    persist->Load(stream);
    persist.Reset();
    try {
        control.Play();
    } catch (const CDispatchException&) {
        // The movie is loaded all the same; the control decides when it plays.
    }
    control.ShowWindow(SW_SHOW);
    return true;
}

CFlashEventSink::CFlashEventSink(IFlashEventHandler* handler, UINT controlId)
    : handler_(handler), sink_(this, controlId, DIID_IShockwaveFlashEvents) {}

void CFlashEventSink::OnControlEvent(UINT controlId, DISPID id, DISPPARAMS* parameters) {
    if (!handler_) return;
    switch (id) {
    case DISPID_FLASH_FSCOMMAND: {
        const wchar_t* command = EventStringArgument(parameters, 0);
        const wchar_t* arguments = EventStringArgument(parameters, 1);
        if (command) handler_->OnFSCommand(controlId, command, arguments ? arguments : L"");
        break;
    }
    case DISPID_FLASH_FLASHCALL: {
        const wchar_t* request = EventStringArgument(parameters, 0);
        if (request) handler_->OnFlashCall(controlId, request);
        break;
    }
    default:
        break;
    }
}
