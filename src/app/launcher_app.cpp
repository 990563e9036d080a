#include "app/launcher_app.h"

#include <commctrl.h>
#include <ole2.h>
#include <gdiplus.h>
#include <shellapi.h>
#include <shlobj.h>
#include <string.h>

#include "app/system_integration.h"
#include "flash/flash_dialog.h"
#include "framework/escaped_exception.h"
#include "framework/handles.h"
#include "framework/paths.h"
#include "game/game_dialog.h"
#include "login/launcher_dialog.h"
#include "framework/text.h"
#include "res/resource.h"
#include "ravlib/log.h"
#include "server/file_server.h"
#include "server/session_server.h"
#include "server/suffix_list.h"
#include "update/download_request.h"
#include "update/http_client.h"
#include "update/update_dialog.h"
#include "update/version_checker.h"

namespace {

const char kBackupExe[] = "Launcher_back_up.exe";
const char kUpdateBatch[] = "Launcher_update.bat";

// Text up to and including the last backslash; empty when there is none.
template <class String>
String UpToLastBackslash(const String& path) {
    size_t cut = path.find_last_of('\\');
    return cut == String::npos ? String() : path.substr(0, cut + 1);
}

}  // namespace

FirstWindowChoice ChooseFirstWindow(const char* firstUrl, bool playSplash, const wchar_t* commandLine) {
    FirstWindowChoice choice;
    size_t length = firstUrl ? strlen(firstUrl) : 0;
    int argc = 0;
    wchar_t** argv = nullptr;
    if (length < 2 && commandLine && *commandLine) argv = CommandLineToArgvW(commandLine, &argc);
    if (length >= 2) {
        choice.gameAddress = firstUrl;
    } else if (length == 1) {
        for (int i = 1; argv && i < argc; ++i) {
            if (argv[i][0] != L'/' && argv[i][0] != L'-') {
                choice.gameAddress = AnsiFromWide(argv[i]);
                break;
            }
        }
    } else if (argv && argc >= 2 && argv[1]) {
        choice.startedWithArgument = true;
    }
    if (argv) LocalFree(argv);

    if (!choice.gameAddress.empty())
        choice.window = FirstWindow::DirectStart;
    else
        choice.window = playSplash ? FirstWindow::FlashSplash : FirstWindow::Login;
    return choice;
}

std::wstring CacheDirectoryFor(const std::wstring& exeDirectory, const std::wstring& desktopFolder,
                               const std::wstring& spid) {
    std::wstring base;
    if (lstrcmpiW(exeDirectory.c_str(), desktopFolder.c_str()) != 0)
        base = exeDirectory + L"\\";
    else
        base = desktopFolder.substr(0, 3);
    return base + spid + L"\\";
}

bool NormaliseCdnAddress(const char* text, std::string* address) {
    if (!text || strlen(text) < 2) return false;
    std::string cut(text, strnlen(text, 259));
    char last = cut.back();
    if (last == '\\')
        cut.back() = '/';
    else if (last != '/')
        cut += '/';
    *address = cut;
    return true;
}

LauncherApp::LauncherApp() = default;

LauncherApp::~LauncherApp() {
    DeleteWindows();
}

void LauncherApp::DeleteWindows() {
    flashDialog_.reset();
    gameWindow_.reset();
    updateDialog_.reset();
    versionChecker_.reset();
    loginWindow_.reset();
}

void LauncherApp::SendRequest(uint32_t kind, const char* address) {
    CCurlHttpClient* http = CCurlHttpClient::GetInstance();
    if (!http) return;
    std::unique_ptr<CCurlHttpRequest> request(NewDownloadRequest(kind, address));
    request->SetCallback(&LauncherApp::OnRequestDone, this);
    // The client owns the request once it has taken it.
    if (http->AddRequest(request.get()) == 0) request.release();
}

void LauncherApp::OnRequestDone(void* self, CCurlHttpResponse* response) {
    auto* app = static_cast<LauncherApp*>(self);
    if (!app || !response || !response->GetRequest()) return;
    CCurlHttpRequest* request = response->GetRequest();
    uint32_t kind = static_cast<uint32_t>(request->GetTag());
    if (kind == kDownloadVersionFile || kind == kDownloadNewLauncher || kind == kDownloadUpdateSignature) {
        if (app->versionChecker_)
            app->versionChecker_->OnAnswer(kind, response->GetSuccess(), response->GetBody(),
                                           response->GetBodyLength());
        return;
    }
    if (app->updateDialog_)
        app->updateDialog_->OnDownload(kind, response->GetSuccess(), response->GetBody(), response->GetBodyLength(),
                                       request->GetUrl());
}

INT_PTR LauncherApp::RunUpdateAndGame() {
    if (!updateDialog_) updateDialog_ = std::make_unique<UpdateDlg>(*this);
    updateDialog_->SetGamePageAddress(gameAddress_.c_str());
    INT_PTR result = updateDialog_->DoModal();
    if (!goOnToGame_) return result;
    if (!gameWindow_) gameWindow_ = std::make_unique<CGameDialog>(*this);
    return gameWindow_->DoModal();
}

INT_PTR LauncherApp::ShowLoginWindow() {
    if (!loginWindow_) {
        loginWindow_ = std::make_unique<CLauncherTranslucentDlg>(*this, std::move(mainSkin_));
    }
    return loginWindow_->DoModal();
}

void LauncherApp::StartVersionCheck() {
    if (versionChecker_) return;
    const LauncherSettings& s = config_.settings();
    versionChecker_ = std::make_unique<VersionChecker>(*this, s.server, s.port, s.versionUrl);
    versionChecker_->StartCheck();
}

INT_PTR LauncherApp::RunFirstWindow(const FirstWindowChoice& choice) {
    switch (choice.window) {
    case FirstWindow::DirectStart:
        StartVersionCheck();
        SetGameAddress(choice.gameAddress.c_str());
        return RunUpdateAndGame();
    case FirstWindow::FlashSplash:
        if (!flashDialog_) flashDialog_ = std::make_unique<CFlashDialog>(*this);
        return flashDialog_->DoModal();
    case FirstWindow::Login:
        return ShowLoginWindow();
    }
    return IDCANCEL;
}

void LauncherApp::SetCdnAddress(const char* address) {
    std::string normalised;
    if (!NormaliseCdnAddress(address, &normalised)) {
        AfxMessageBox(L"cdn address is nill");
        return;
    }
    cdnAddress_ = normalised;
    FileSrvSetResourceBase(cdnAddress_.c_str());
}

void LauncherApp::DeleteLeftovers(const std::string& programDirectory) {
    for (const char* name : {kBackupExe, kUpdateBatch}) {
        std::string path = programDirectory + name;
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileA(path.c_str());
    }
}

void LauncherApp::ApplySystemIntegration(const std::string& programDirectory) {
    char exePath[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, exePath, MAX_PATH);
    char desktop[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE);
    const char* slash = strrchr(exePath, '\\');
    std::string exeName = slash ? slash + 1 : exePath;

    const LauncherSettings& s = config_.settings();
    if (s.BoRegedit) {
        std::wstring wideName = ToWide(exeName.c_str(), false);
        ApplyBrowserEmulation(wideName.c_str());
    }

    std::string desktopDir = std::string(desktop) + "\\";
    if (programDirectory != desktopDir && s.BoLihk && !ShortcutExists(exePath, desktopDir.c_str())) {
        std::wstring name;
        if (s.initname[0]) {
            name = ToWide(s.initname, true);
        } else {
            name = ToWide(exeName.c_str(), false);
            size_t dot = name.find_last_of(L'.');
            if (dot != std::wstring::npos) name.resize(dot);
        }
        std::wstring shortcut = ToWide(desktopDir.c_str(), false);
        shortcut += name + L".lnk";
        std::wstring target = ToWide(exePath, false);
        CreateShortcut(target.c_str(), shortcut.c_str(), nullptr);
    }
}

void LauncherApp::PrepareCacheDirectory() {
    wchar_t exePath[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, exePath, MAX_PATH);
    std::wstring exeDirectory = exePath;
    size_t cut = exeDirectory.find_last_of(L'\\');
    if (cut != std::wstring::npos) exeDirectory.resize(cut);
    wchar_t desktop[MAX_PATH] = L"";
    SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE);
    std::wstring spid = ToWide(config_.settings().spid, true);
    cacheDirectory_ = CacheDirectoryFor(exeDirectory, desktop, spid);
    CreateDirectoryPath(cacheDirectory_.c_str());
}

// Operators can have the local server's log written to a file: the environment variable
// LAUNCHER_LOG names it. Nothing is logged without it.
static void InstallOperatorLog() {
    wchar_t path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"LAUNCHER_LOG", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) ravlib::InstallFileLogSink(path);
}

static void LogEscapedException(const char* boundary, const char* what) {
    ravlib::LogMessage(ravlib::kLogError, L"exception caught in %hs (its message or event is dropped): %hs", boundary, what);
}

BOOL LauncherApp::InitInstance() {
    InstallOperatorLog();
    SetEscapedExceptionReporter(LogEscapedException);
    InitCommonControls();
    OleInitialize(nullptr);
    CWinApp::InitInstance();

    if (!AfxSocketInit()) {
        AfxMessageBox(IDS_SOCKETS_INIT_FAILED);
        return FALSE;
    }
    Gdiplus::GdiplusStartupInput gdiplusInput;
    if (Gdiplus::GdiplusStartup(&gdiplusToken_, &gdiplusInput, nullptr) != Gdiplus::Ok) gdiplusToken_ = 0;

    char modulePath[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
    std::string programDirectory = UpToLastBackslash(std::string(modulePath));
    DeleteLeftovers(programDirectory);

    if (!config_.OpenPackage()) return FALSE;
    if (!config_.LoadIniText("config/cg.txt")) return FALSE;
    if (!config_.ReadSettings()) return FALSE;
    Gdiplus::Bitmap* skin = nullptr;
    if (!config_.LoadPackageBitmap("config/main1.png", &skin)) return FALSE;
    mainSkin_.reset(skin);

    std::wstring suffixes = ToWide(config_.settings().suffix, true);
    FileSrvSetSuffixes(suffixes.c_str());

    ApplySystemIntegration(programDirectory);
    if (CCurlHttpClient* http = CCurlHttpClient::GetInstance()) http->StartWorkers();
    PrepareCacheDirectory();
    std::wstring leftoverBatch = cacheDirectory_ + kUpdateBatchName;
    if (FileExists(leftoverBatch.c_str())) DeleteFileW(leftoverBatch.c_str());
    StartVersionCheck();

    FirstWindowChoice choice =
        ChooseFirstWindow(config_.settings().firstUrl, config_.settings().BoPlaySwf != 0, commandLine());
    SetStartedWithArgument(choice.startedWithArgument);
    if (choice.window == FirstWindow::DirectStart) SetGameAddress(choice.gameAddress.c_str());
    if (WriteStartupReport(choice)) return FALSE;
    RunFirstWindow(choice);
    return FALSE;
}

int LauncherApp::ExitInstance() {
    int result = 0;
    try {
        // The local server's thread dispatches answers to the windows and the version
        // checker: it ends before they go.
        FileSrvShutdown();
        DeleteWindows();
        CCurlHttpClient::Shutdown();
        OleUninitialize();
        if (gdiplusToken_ == 0) return 0;
        // The login skin is still ours when no login window took it over.
        mainSkin_.reset();
        Gdiplus::GdiplusShutdown(gdiplusToken_);
        gdiplusToken_ = 0;
        if (runUpdateBatch_) RunUpdateBatch();
        ravlib::SetLogSink(nullptr);
        result = CWinApp::ExitInstance();
    } catch (...) {
        result = 0;
    }
    return result;
}

void LauncherApp::RunUpdateBatch() {
    // Quoted, so that a cache directory with spaces starts the batch and nothing else.
    StartDetached(nullptr, L"\"" + cacheDirectory_ + kUpdateBatchName + L"\"", IDLE_PRIORITY_CLASS, SW_HIDE);
}

// Operators and tests can ask start-up to say what it decided without opening a window
// (a dry run): with the environment variable LAUNCHER_STARTUP_REPORT naming a file, a
// few UTF-8 lines are written there and start-up ends. True when the report was asked for.
bool LauncherApp::WriteStartupReport(const FirstWindowChoice& choice) const {
    wchar_t path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"LAUNCHER_STARTUP_REPORT", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    static const char* const kWindowNames[] = {"direct", "splash", "login"};
    std::string report = "first_window=";
    report += kWindowNames[static_cast<int>(choice.window)];
    report += "\ngame_address=" + gameAddress_;
    report += "\nstarted_with_argument=";
    report += startedWithArgument_ ? "1" : "0";
    report += "\ncache_directory=" + Utf8FromWide(cacheDirectory_);
    report += "\ntitle=";
    report += config_.settings().title;
    report += "\n";
    CHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return true;
    DWORD written = 0;
    WriteFile(file.get(), report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    return true;
}
