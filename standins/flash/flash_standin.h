// A stand-in for the Shockwave Flash ActiveX control, for tests and the demo; never part
// of Launcher.exe. It answers to the real control's class id and does what the launcher
// asks of that control: it is hosted in place as a child window, loads a movie from a
// "fUfU" stream (and shows what it loaded), answers the dispatch members Play, Stop,
// IsPlaying, CallFunction and DisableLocalSecurity, and fires FSCommand and FlashCall
// on its connection point. A test reaches the object behind a control's IUnknown with
// FlashStandinFromUnknown, reads what it received (dispatch calls, key messages) and fires
// its events.
//
// A movie may carry a script (movie_script.h). The control then acts like the game:
// when CallFunction brings "_InitGameParams", it runs the script with the flash variables
// it was given, shows what it received below the movie's description, makes the script's
// bridge calls as FlashCall events on its own thread, and shows (and reports, see
// script_runner.h) the ClientCallJs requests the host sends it.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
#include <ocidl.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "framework/handles.h"
#include "standins/flash/event_point.h"
#include "standins/flash/flash_view.h"
#include "standins/flash/movie_script.h"
#include "standins/flash/script_runner.h"
#include "standins/flash/swf_header.h"

class FlashStandin : public IOleObject,
                     public IOleInPlaceObject,
                     public IOleInPlaceActiveObject,
                     public IOleControl,
                     public IPersistStreamInit,
                     public IDispatch,
                     public IConnectionPointContainer {
public:
    // {D27CDB6E-AE6D-11CF-96B8-444553540000}
    static constexpr CLSID kClassId = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
    // IShockwaveFlash {D27CDB6C-AE6D-11CF-96B8-444553540000}: only its IDispatch part is
    // there; the stand-in answers every member through Invoke.
    static constexpr IID kInterfaceId = {0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
    // _IShockwaveFlashEvents {D27CDB6D-AE6D-11CF-96B8-444553540000}
    static constexpr IID kEventsId = {0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

    enum : DISPID {
        kPlay = 0x70,
        kStop = 0x71,
        kIsPlaying = 0x81,
        kCallFunction = 0xC6,
        kDisableLocalSecurity = 0xC8,
    };
    enum : DISPID {
        kFSCommandEvent = 0x96,
        kFlashCallEvent = 0xC5,
    };

    // What CallFunction answers until a test sets something else.
    static constexpr const wchar_t* kDefaultAnswer = L"<string></string>";

    FlashStandin();
    FlashStandin(const FlashStandin&) = delete;
    FlashStandin& operator=(const FlashStandin&) = delete;

    // What the control holds and received.
    const std::vector<uint8_t>& movie() const { return movie_; }
    // The movie's header; valid when movieIsSwf().
    bool movieIsSwf() const { return movieIsSwf_; }
    const SwfHeader& swf() const { return swf_; }
    // "movie W x H px, R fps, N bytes", "no movie" or "not a SWF movie".
    std::wstring Description() const;
    // Dispatch calls in order: "Play", "Stop", "IsPlaying", "DisableLocalSecurity",
    // "CallFunction:" followed by the request.
    const std::vector<std::wstring>& calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }
    bool isPlaying() const { return playing_; }
    // The loaded movie's script: its steps, and what the control has shown of its run.
    const std::vector<ScriptStep>& script() const { return script_; }
    const std::vector<std::wstring>& scriptLines() const { return scriptLines_; }
    // The in-place window; null while the control is not active.
    HWND window() const { return view_.window(); }
    size_t sinkCount() const { return events_.sinkCount(); }

    // The key messages that reached the control, in order: offered by the host through
    // IOleInPlaceActiveObject::TranslateAccelerator (used or declined), or dispatched to
    // its window.
    enum class KeyRoute { kUsed, kDeclined, kReceived };
    struct KeyRecord {
        KeyRoute route;
        UINT message;
        WPARAM key;
    };
    const std::vector<KeyRecord>& keys() const { return keys_; }
    void ClearKeys() { keys_.clear(); }
    // How the key-down messages of `key` reached the control since ClearKeys: "used",
    // "declined" and "received" in their order, separated by blanks; empty when none did.
    std::string KeyDownRoute(WPARAM key) const;
    // While a text field of the movie has the focus the control uses the keys of editing
    // (Tab, the arrows, Enter, Backspace, Delete, Ctrl+A, C, V and X) and answers S_OK for
    // them; otherwise it uses no key and answers S_FALSE.
    void SetTextFieldFocused(bool focused) { textFieldFocused_ = focused; }

    // Fire the events synchronously on every advised sink; return how many were called.
    size_t FireFSCommand(const wchar_t* command, const wchar_t* arguments);
    size_t FireFlashCall(const wchar_t* request);

    // CallFunction answers `answer`; or, after SetCallFunctionFailure with a failure
    // code, fails with it (DISP_E_EXCEPTION comes with an EXCEPINFO). S_OK answers again.
    void SetCallFunctionAnswer(const std::wstring& answer) { answer_ = answer; }
    void SetCallFunctionFailure(HRESULT failure) { failure_ = failure; }
    // Play fails with `failure` (and is not recorded) until it is set back to S_OK.
    void SetPlayFailure(HRESULT failure) { playFailure_ = failure; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID id, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override;
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override;
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** data) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND parent,
                        LPCRECT position) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* id) override;
    STDMETHODIMP GetUserType(DWORD, LPOLESTR* type) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink*, DWORD* connection) override;
    STDMETHODIMP Unadvise(DWORD) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override;

    // IOleWindow, IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override;
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override;

    // IOleInPlaceActiveObject
    STDMETHODIMP TranslateAccelerator(LPMSG message) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL) override;
    STDMETHODIMP OnDocWindowActivate(BOOL) override;
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
    STDMETHODIMP EnableModeless(BOOL) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG*) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID) override;
    STDMETHODIMP FreezeEvents(BOOL) override;

    // IPersist, IPersistStreamInit
    STDMETHODIMP GetClassID(CLSID* id) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM stream) override;
    STDMETHODIMP Save(LPSTREAM, BOOL) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID member, REFIID id, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* badArgument) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID id, IConnectionPoint** point) override;

private:
    virtual ~FlashStandin();

    HRESULT ActivateInPlace(IOleClientSite* activeSite, HWND parent, LPCRECT position);
    HRESULT ReadMovie(IStream* stream, std::vector<uint8_t>* movie);
    void SetMovie(std::vector<uint8_t> movie);
    size_t FireStrings(DISPID id, const wchar_t* const* texts, UINT count);
    HRESULT CallFunction(const DISPPARAMS& parameters, VARIANT* result, EXCEPINFO* exception, UINT* badArgument);
    void OnScriptRequest(const std::wstring& request);
    void OnScriptEvents();
    void AddScriptLine(const std::wstring& line);
    void ShowText();

    LONG references_ = 1;
    CComPtr<IOleClientSite> site_;
    CComPtr<IOleInPlaceSite> inPlaceSite_;  // held while in-place active
    FlashStandinView view_;
    SIZEL extent_ = {};  // HIMETRIC
    FlashEventPoint events_;

    std::vector<uint8_t> movie_;
    bool movieIsSwf_ = false;
    SwfHeader swf_ = {};

    std::vector<ScriptStep> script_;
    std::vector<std::wstring> scriptLines_;
    bool drainingScriptEvents_ = false;
    ScriptReport report_;
    // Declared after the report and the view: its worker stops before they go.
    ScriptRunner runner_;

    bool playing_ = false;
    bool textFieldFocused_ = false;
    std::vector<KeyRecord> keys_;
    std::vector<std::wstring> calls_;
    std::wstring answer_ = kDefaultAnswer;
    HRESULT failure_ = S_OK;
    HRESULT playFailure_ = S_OK;
};

// The object behind a control's IUnknown when it is a stand-in made by this module;
// null otherwise. The caller's reference keeps it alive.
FlashStandin* FlashStandinFromUnknown(IUnknown* control);

// Makes the stand-in this process's control for the Flash class id, or for another
// control's class id so that it takes that control's place (CoRegisterClassObject,
// in-process, multiple use) until RevokeFlashStandin. One registration at a time.
HRESULT RegisterFlashStandin(REFCLSID classId = FlashStandin::kClassId);
void RevokeFlashStandin();

// The class factory, for a DLL's DllGetClassObject.
IClassFactory* FlashStandinClassFactory();
// True while objects of this module or locks of its factory are alive.
bool FlashStandinModuleInUse();
