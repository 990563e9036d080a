// The Flash splash: the package's config/launcher.swf played over the whole screen with
// every white pixel see-through. The movie drives it through FSCommand and FlashCall:
// open a configured link, minimise, quit, or end the splash and go on to the login window.
#pragma once

#include <functional>
#include <memory>

#include "app/launcher_host.h"
#include "flash/package_movie.h"
#include "flash/shockwave_flash.h"
#include "framework/dialog.h"
#include "res/resource.h"

class CFlashDialog : public CDialog, private IFlashEventHandler {
public:
    enum { IDD = IDD_STANDARD_LAYER };
    enum : UINT { kMovieControlId = 500 };

    explicit CFlashDialog(LauncherHost& host);

    BOOL PreTranslateMessage(MSG* message) override;

    // Opens a link's address in the browser; ShellExecuteA unless replaced (tests).
    using OpenLinkFunction = std::function<void(const char* url)>;
    void SetOpenLink(OpenLinkFunction openLink) { openLink_ = std::move(openLink); }

    CShockwaveFlash* movieControl() const { return movie_.get(); }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;
    // Closes the parent window, if any, and ends the splash with IDOK.
    void OnOK() override;

private:
    void OnFSCommand(UINT controlId, const wchar_t* command, const wchar_t* arguments) override;
    void OnFlashCall(UINT controlId, const wchar_t* request) override;
    bool OpenLinkCommand(const std::wstring& text);
    void MakeWhiteTransparent();

    LauncherHost& host_;
    std::unique_ptr<CShockwaveFlash> movie_;
    CFlashEventSink events_;
    PackageMovie packageMovie_;
    bool leftButtonDown_ = false;
    OpenLinkFunction openLink_;
};
