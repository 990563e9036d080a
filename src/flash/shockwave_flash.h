// The Shockwave Flash control as a child window of a dialog: the wrapper of its dispatch
// members, the stream over a movie in memory that the control loads from, the loading
// sequence, and the delivery of the control's FSCommand and FlashCall events.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <stdint.h>

#include <string>

#include "framework/activex.h"

// {D27CDB6E-AE6D-11CF-96B8-444553540000}
extern const CLSID CLSID_ShockwaveFlash;
// IShockwaveFlash {D27CDB6C-AE6D-11CF-96B8-444553540000}
extern const IID IID_IShockwaveFlash;
// _IShockwaveFlashEvents {D27CDB6D-AE6D-11CF-96B8-444553540000}
extern const IID DIID_IShockwaveFlashEvents;

enum : DISPID {
    DISPID_FLASH_PLAY = 0x70,
    DISPID_FLASH_STOP = 0x71,
    DISPID_FLASH_ISPLAYING = 0x81,
    DISPID_FLASH_CALLFUNCTION = 0xC6,
    DISPID_FLASH_DISABLELOCALSECURITY = 0xC8,
    DISPID_FLASH_FSCOMMAND = 0x96,
    DISPID_FLASH_FLASHCALL = 0xC5,
};

// An IStream in the form the control loads a movie from: the signature "fUfU", the
// movie's length as a 32-bit little-endian value, then the movie bytes. Only Read works.
// The stream neither copies nor frees the movie and has no reference count: its owner
// keeps it and the movie alive until the control's Load has returned.
class FlashMemoryStream : public IStream {
public:
    enum : uint32_t { kHeaderSize = 8 };

    FlashMemoryStream(const uint8_t* data, uint32_t length);
    virtual ~FlashMemoryStream() = default;
    FlashMemoryStream(const FlashMemoryStream&) = delete;
    FlashMemoryStream& operator=(const FlashMemoryStream&) = delete;

    // IUnknown: no interfaces, no reference count (both answer E_NOTIMPL).
    STDMETHODIMP QueryInterface(REFIID id, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // Serves up to `count` bytes of header and movie from the current position: S_OK
    // when it copied any, S_FALSE at the end. `bytesRead` (may be null) gets the number.
    STDMETHODIMP Read(void* buffer, ULONG count, ULONG* bytesRead) override;
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override;
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override;
    STDMETHODIMP SetSize(ULARGE_INTEGER) override;
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override;
    STDMETHODIMP Commit(DWORD) override;
    STDMETHODIMP Revert() override;
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    STDMETHODIMP Stat(STATSTG*, DWORD) override;
    STDMETHODIMP Clone(IStream**) override;

private:
    const uint8_t* data_;
    uint32_t length_;    // movie bytes at data_
    uint64_t position_;  // in header and movie together
    uint8_t header_[kHeaderSize];
};

// The control hosted as a child window; one method per dispatch member the launcher
// calls. A failed call throws CDispatchException.
class CShockwaveFlash : public CAxWnd {
public:
    // False when no control could be made (no Flash Player installed).
    BOOL Create(const wchar_t* windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id);

    void Play();
    void Stop();
    BOOL IsPlaying();
    // Passes an ExternalInterface request to the movie and returns its answer.
    std::wstring CallFunction(const wchar_t* request);
    void DisableLocalSecurity();

private:
    void CallMethod(DISPID id);
};

// Loads the movie behind `stream` into the control (InitNew, then Load), starts it and
// shows the control. False when the control has no object or cannot load from a stream;
// a failing Play leaves the movie loaded and the call successful.
bool LoadMovieFromStream(CShockwaveFlash& control, IStream* stream);

// What a hosting dialog implements to receive the control's events. Texts are never
// null: an event without its command or request text is not delivered, missing
// arguments of FSCommand arrive as an empty text.
class IFlashEventHandler {
public:
    virtual void OnFSCommand(UINT controlId, const wchar_t* command, const wchar_t* arguments) = 0;
    virtual void OnFlashCall(UINT controlId, const wchar_t* request) = 0;

protected:
    ~IFlashEventHandler() = default;
};

// Advised on a control's _IShockwaveFlashEvents; routes FSCommand and FlashCall of the
// control with `controlId` to the handler. No other event is looked at.
class CFlashEventSink : private IControlEventHandler {
public:
    CFlashEventSink(IFlashEventHandler* handler, UINT controlId);
    CFlashEventSink(const CFlashEventSink&) = delete;
    CFlashEventSink& operator=(const CFlashEventSink&) = delete;

    bool Advise(const CShockwaveFlash& control) { return sink_.Advise(control.GetControlUnknown()); }
    void Unadvise() { sink_.Unadvise(); }

private:
    void OnControlEvent(UINT controlId, DISPID id, DISPPARAMS* parameters) override;

    IFlashEventHandler* handler_;
    CEventSink sink_;
};
