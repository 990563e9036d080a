// The script bridge with a recording window and the Flash stand-in as the game control:
// incoming JsCallClient requests by their effects, outgoing requests as the stand-in
// received them, and the right-button and function-key filter on synthetic messages.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "bridge_test_support.h"
#include "game/client_services.h"
#include "game/script_bridge.h"
#include "support/test_support.h"

using game_testing::ClientRequest;
using game_testing::EventRequest;

namespace {

using Effects = std::vector<std::string>;

DWORD g_tick = 0;
DWORD WINAPI TestTick() { return g_tick; }

// An address nothing listens on: the address page cannot be reached.
const wchar_t kUnreachablePage[] = L"http://127.0.0.1:1/ip.txt";

class ScriptBridgeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registration_ = new game_testing::StandinRegistration(); }
    static void TearDownTestSuite() {
        delete registration_;
        registration_ = nullptr;
    }

    void SetUp() override {
        strcpy(settings_.title, "\xE6\xB8\xB8\xE6\x88\x8F");  // 游戏
        strcpy(settings_.from, "site7");
        window_.control = host_.control();
        services_.SetIpPageAddress(kUnreachablePage);
        bridge_.SetTickSource(TestTick);
        host_.TakeRequests();
    }

    void Call(const std::vector<std::wstring>& arguments) { bridge_.OnFlashCall(ClientRequest(arguments).c_str()); }

    MSG Message(UINT message, WPARAM wParam, POINT point = {0, 0}, LPARAM lParam = 0) const {
        MSG msg = {};
        msg.hwnd = host_.window();
        msg.message = message;
        msg.wParam = wParam;
        msg.lParam = lParam;
        msg.pt = point;
        return msg;
    }

    static game_testing::StandinRegistration* registration_;
    game_testing::StandinHost host_;
    game_testing::RecordingWindow window_;
    CClientServices services_;
    LauncherSettings settings_ = {};
    CScriptBridge bridge_{window_, services_, settings_};
};

game_testing::StandinRegistration* ScriptBridgeTest::registration_ = nullptr;

struct CommandCase {
    std::vector<std::wstring> arguments;
    bool fullScreen;
    Effects effects;
};

TEST_F(ScriptBridgeTest, CommandsActOnTheWindow) {
    const CommandCase cases[] = {
        {{L"1"}, false, {"end"}},
        {{L"4", L"http://pay.example/?a=1;b=2"}, false, {"address 12 http://pay.example/?a=1;b=2"}},
        {{L"4"}, false, {}},
        {{L"5", L"notice"}, false, {}},
        {{L"6", L"abc"}, false, {"title \xE6\xB8\xB8\xE6\x88\x8F-abc"}},
        {{L"6", L"\x4E2D\x6587"}, false, {"title \xE6\xB8\xB8\xE6\x88\x8F-\xE4\xB8\xAD\xE6\x96\x87"}},
        {{L"6", L"a&lt;b&amp;c"}, false, {"title \xE6\xB8\xB8\xE6\x88\x8F-a<b&c"}},
        {{L"6"}, false, {}},
        {{L"8", L"http://notice.example/"}, false, {"address 13 http://notice.example/", "show 13"}},
        {{L"8"}, false, {}},
        {{L"9"}, false, {"flash"}},
        {{L"10", L"3"}, false, {"end"}},
        {{L"10", L"4"}, false, {}},
        {{L"10", L"4"}, true, {"leave"}},
        {{L"10", L"5"}, false, {"enter"}},
        {{L"10", L"5"}, true, {}},
        {{L"10", L"2"}, false, {}},
        {{L"10", L"9"}, true, {}},
        {{L"10"}, false, {}},
        {{L"01"}, false, {"end"}},
        {{L"0"}, false, {}},
        {{L"11"}, false, {}},
        {{L"-1"}, false, {}},
        {{L"x"}, false, {}},
        {{L"1x"}, false, {"end"}},
    };
    for (const CommandCase& c : cases) {
        window_.effects.clear();
        window_.fullScreen = c.fullScreen;
        Call(c.arguments);
        EXPECT_EQ(c.effects, window_.effects) << Utf8FromWide(ClientRequest(c.arguments));
        EXPECT_TRUE(host_.TakeRequests().empty());
        EXPECT_FALSE(bridge_.functionKeysForwarded());
    }
}

TEST_F(ScriptBridgeTest, ArgumentsAreTheFilledStringElementsInOrder) {
    const std::wstring nine = L"<invoke name=\"JsCallClient\"><arguments><string>6</string><string/>"
                              L"<string></string><number>5</number><string>b</string><string>c</string>"
                              L"<string>d</string><string>e</string><string>f</string><string>g</string>"
                              L"<string>h</string><string>i</string></arguments></invoke>";
    std::vector<std::string> arguments;
    ASSERT_TRUE(ParseClientRequest(nine.c_str(), &arguments));
    EXPECT_EQ((std::vector<std::string>{"6", "b", "c", "d", "e", "f", "g", "h"}), arguments);

    bridge_.OnFlashCall(nine.c_str());
    EXPECT_EQ(Effects{"title \xE6\xB8\xB8\xE6\x88\x8F-b"}, window_.effects);
}

TEST_F(ScriptBridgeTest, MalformedRequestsDoNothing) {
    const std::wstring longArgument(1100, L'a');
    const std::wstring requests[] = {
        L"",
        L"JsCallClient 1",
        L"<invoke name=\"JsCallClient\"><arguments><string>1</string>",
        L"<invoke name=\"JsCallClient\"><arguments><string>1</arguments></invoke>",
        L"<invoke name=\"jscallclient\"><arguments><string>1</string></arguments></invoke>",
        L"<invoke name=\"ClientCallJs\"><arguments><string>1</string></arguments></invoke>",
        L"<invoke><arguments><string>1</string></arguments></invoke>",
        L"<call name=\"JsCallClient\"><arguments><string>1</string></arguments></call>",
        L"<invoke name=\"JsCallClient\"/>",
        L"<invoke name=\"JsCallClient\"><arguments/></invoke>",
        L"<invoke name=\"JsCallClient\"><arguments><number>1</number></arguments></invoke>",
        L"<invoke name=\"JsCallClient\"><arguments><string><b>1</b></string></arguments></invoke>",
        L"<invoke name=\"JsCallClient\"><string>1</string></invoke>",
        ClientRequest({L"1", longArgument}),
    };
    for (const std::wstring& request : requests) {
        bridge_.OnFlashCall(request.c_str());
        EXPECT_TRUE(window_.effects.empty()) << Utf8FromWide(request);
        window_.effects.clear();
    }
    bridge_.OnFlashCall(nullptr);
    EXPECT_TRUE(window_.effects.empty());
    EXPECT_TRUE(host_.TakeRequests().empty());

    // Just under the limit still counts.
    const std::wstring padding(1024 - ClientRequest({L"1", L""}).size() - 1, L'a');
    bridge_.OnFlashCall(ClientRequest({L"1", padding}).c_str());
    EXPECT_EQ(Effects{"end"}, window_.effects);
}

// Bytes of `text` in the OEM code page, with the terminator.
int OemSize(const std::wstring& text) {
    return WideCharToMultiByte(CP_OEMCP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
}

// The limit is the OEM code page's 1024 bytes, whatever the characters take in UTF-8.
TEST_F(ScriptBridgeTest, RequestsAreTakenUpToTheOemLimit) {
    const wchar_t* characters[] = {L"\x4E2D", L"\xD83D\xDE00", L"\xE9", L"a"};
    for (const std::wstring character : characters) {
        std::wstring title;
        while (OemSize(ClientRequest({L"6", title + character})) <= 1024) title += character;
        SCOPED_TRACE(Utf8FromWide(character));
        window_.effects.clear();
        Call({L"6", title});
        EXPECT_EQ(1u, window_.effects.size());
        window_.effects.clear();
        Call({L"6", title + character});
        EXPECT_TRUE(window_.effects.empty());
    }
}

// A title request with `inside` after its arguments: <invoke> and <arguments> are two levels.
std::wstring TitleRequestWith(const std::wstring& inside, const std::wstring& attribute = L"") {
    return L"<invoke name=\"JsCallClient\"" + attribute + L"><arguments><string>6</string><string>abc</string>" +
           inside + L"</arguments></invoke>";
}

std::wstring Repeated(const wchar_t* text, int count) {
    std::wstring out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

TEST_F(ScriptBridgeTest, RequestsNestedBeyond64LevelsAreRefusedAndMarkupThatOnlyLooksDeepIsNot) {
    const std::string titled = "title \xE6\xB8\xB8\xE6\x88\x8F-abc";
    const struct {
        const char* name;
        std::wstring request;
        bool taken;
    } cases[] = {
        {"64 levels", TitleRequestWith(Repeated(L"<x>", 62) + Repeated(L"</x>", 62)), true},
        {"65 levels", TitleRequestWith(Repeated(L"<x>", 63) + Repeated(L"</x>", 63)), false},
        {"comment", TitleRequestWith(L"<!--" + Repeated(L"<x>", 70) + L"-->"), true},
        {"CDATA", TitleRequestWith(L"<y><![CDATA[" + Repeated(L"<x>", 70) + L"]]></y>"), true},
        {"processing instruction", TitleRequestWith(L"<?note" + Repeated(L" <x", 70) + L"?>"), true},
        {"attribute value", TitleRequestWith(L"", L" note=\"" + Repeated(L"<x>", 70) + L"\""), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window_.effects.clear();
        bridge_.OnFlashCall(c.request.c_str());
        EXPECT_EQ(c.taken ? Effects{titled} : Effects{}, window_.effects);
    }
}

TEST_F(ScriptBridgeTest, InitGameParamsCarriesTheParametersUnescaped) {
    bridge_.InitGameParams("user=a&b<c>\"d\",e");
    EXPECT_EQ(std::vector<std::wstring>{L"<invoke name=\"_InitGameParams\"><arguments><string>user=a&b<c>\"d\",e"
                                        L"</string></arguments></invoke>"},
              host_.TakeRequests());
}

TEST_F(ScriptBridgeTest, EventTextIsCutAt63BytesAndSplitAtCommas) {
    const std::string sixty(60, 'a');
    struct Case {
        std::string text;
        std::vector<std::wstring> items;
    } cases[] = {
        {"a,b", {L"a", L"b"}},
        {",a,,b,", {L"a", L"b"}},
        {"", {}},
        {",,,", {}},
        {"1,2,3,4,5,6,7,8,9,10", {L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8"}},
        {sixty + ",bbbbbb", {std::wstring(60, L'a'), L"bb"}},
        {std::string(70, 'x'), {std::wstring(63, L'x')}},
        // A character that does not fit whole is left out rather than cut in two.
        {std::string(62, 'y') + "\xE4\xB8\xAD", {std::wstring(62, L'y')}},
        {std::string(60, 'y') + "\xE4\xB8\xAD", {std::wstring(60, L'y') + L"\x4E2D"}},
        {"<&>", {L"<&>"}},
    };
    for (const Case& c : cases) {
        bridge_.CallScript(9, "%s", c.text.c_str());
        EXPECT_EQ(std::vector<std::wstring>{EventRequest(L"9", c.items)}, host_.TakeRequests()) << c.text;
    }
    bridge_.CallScript(4, nullptr);
    EXPECT_EQ(std::vector<std::wstring>{EventRequest(L"4", {})}, host_.TakeRequests());
    bridge_.CallScript(2, "%d,%d", 12, -3);
    EXPECT_EQ(std::vector<std::wstring>{L"<invoke name=\"ClientCallJs\"><arguments><string>2</string>"
                                        L"<string>12</string><string>-3</string></arguments></invoke>"},
              host_.TakeRequests());
}

TEST_F(ScriptBridgeTest, FailedCallsAreSwallowedAndMissingControlDropsThem) {
    host_.standin()->SetCallFunctionFailure(DISP_E_EXCEPTION);
    bridge_.CallScript(6, "%d", 4);
    bridge_.InitGameParams("x");
    host_.standin()->SetCallFunctionFailure(S_OK);
    bridge_.CallScript(6, "%d", 5);
    const std::vector<std::wstring> requests = host_.TakeRequests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(EventRequest(L"6", {L"5"}), requests[2]);

    window_.control = nullptr;
    bridge_.CallScript(6, "%d", 6);
    Call({L"7"});
    EXPECT_TRUE(host_.TakeRequests().empty());
}

// A conversion that cannot allocate its buffer gives no text.
static const wchar_t* FailingConversion(const char*, bool) { return L""; }

TEST_F(ScriptBridgeTest, RequestsThatCannotBeConvertedAreNotSentAndSaySo) {
    bridge_.SetRequestConverter(FailingConversion);
    bridge_.CallScript(6, "%d", 4);
    bridge_.InitGameParams("x");
    EXPECT_TRUE(host_.TakeRequests().empty());
    EXPECT_EQ((Effects{"message Call Param too long", "message Call Param too long"}), window_.effects);

    window_.effects.clear();
    bridge_.SetRequestConverter(ToWide);
    bridge_.CallScript(6, "%d", 4);
    EXPECT_EQ(std::vector<std::wstring>{EventRequest(L"6", {L"4"})}, host_.TakeRequests());
    EXPECT_TRUE(window_.effects.empty());
}

TEST_F(ScriptBridgeTest, ClientInfoWithoutTheAddressPageCarriesLoopback) {
    Call({L"07"});
    const std::vector<std::wstring> requests = host_.TakeRequests();
    ASSERT_EQ(1u, requests.size());
    const std::wstring head = L"<invoke name=\"ClientCallJs\"><arguments><string>5</string><string>";
    ASSERT_EQ(head, requests[0].substr(0, head.size()));
    const std::wstring mac = requests[0].substr(head.size(), 17);
    for (size_t i = 0; i < mac.size(); ++i) {
        if (i % 3 == 2) {
            EXPECT_EQ(L'-', mac[i]) << Utf8FromWide(mac);
        } else {
            EXPECT_TRUE(iswxdigit(mac[i]) && !iswupper(mac[i])) << Utf8FromWide(mac);
        }
    }
    EXPECT_EQ(L"</string><string>127.0.0.1</string><string>site7</string></arguments></invoke>",
              requests[0].substr(head.size() + 17));
    EXPECT_TRUE(window_.effects.empty());
}

TEST_F(ScriptBridgeTest, RestartCommandsStartTheLauncherAgainAndEnd) {
    testing_support::TempDir dir;
    const std::wstring exe = game_testing::CopyRestartMarker(dir.path(), L"Launcher.exe");
    ASSERT_FALSE(exe.empty());
    services_.SetExecutablePath(exe.c_str());

    Call({L"2"});
    EXPECT_EQ(Effects{"end"}, window_.effects);
    Call({L"10", L"1"});
    EXPECT_EQ((Effects{"end", "end"}), window_.effects);
    const std::vector<std::string> lines = game_testing::WaitForMarkerLines(dir.path(), 2);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("1 \"" + Utf8FromWide(exe) + "\"", lines[0]);
}

TEST_F(ScriptBridgeTest, RightButtonSendsScreenPointAndIsAlwaysConsumed) {
    struct Case {
        UINT message;
        POINT point;
        std::vector<std::wstring> requests;
    } cases[] = {
        {WM_RBUTTONDOWN, {100, 200}, {EventRequest(L"2", {L"100", L"200"})}},
        {WM_RBUTTONUP, {-30, 40}, {EventRequest(L"3", {L"-30", L"40"})}},
        {WM_RBUTTONDOWN, {0, 0}, {EventRequest(L"2", {L"0", L"0"})}},
        {WM_RBUTTONDOWN, {50, -5}, {}},
        {WM_RBUTTONUP, {50, -1}, {}},
    };
    for (const Case& c : cases) {
        // lParam holds client coordinates, which must not be what is sent.
        EXPECT_EQ(InputDecision::Consumed, bridge_.FilterInput(Message(c.message, MK_RBUTTON, c.point, MAKELPARAM(7, 9))));
        EXPECT_EQ(c.requests, host_.TakeRequests()) << c.point.x << "," << c.point.y;
    }
    EXPECT_EQ(InputDecision::Continue, bridge_.FilterInput(Message(WM_LBUTTONDOWN, MK_LBUTTON, {1, 1})));
    EXPECT_TRUE(host_.TakeRequests().empty());
}

TEST_F(ScriptBridgeTest, FunctionKeysAreForwardedAtMostEvery200ms) {
    struct Step {
        UINT message;
        WPARAM key;
        DWORD tick;
        InputDecision decision;
        const wchar_t* item;  // event 6 item, or null for none
    };
    const Step before[] = {
        {WM_KEYDOWN, VK_F5, 1000, InputDecision::NotHandled, nullptr},
        {WM_SYSKEYDOWN, VK_F4, 1000, InputDecision::NotHandled, nullptr},
        {WM_KEYDOWN, VK_F8, 1000, InputDecision::Continue, nullptr},
        {WM_KEYDOWN, 'A', 1000, InputDecision::Continue, nullptr},
        {WM_KEYDOWN, VK_F12 + 1, 1000, InputDecision::Continue, nullptr},
    };
    const Step after[] = {
        {WM_KEYDOWN, VK_F5, 1000, InputDecision::Consumed, L"4"},
        {WM_KEYDOWN, VK_F5, 1100, InputDecision::Continue, nullptr},
        {WM_KEYDOWN, VK_F5, 1200, InputDecision::Continue, nullptr},
        {WM_KEYDOWN, VK_F5, 1201, InputDecision::Consumed, L"4"},
        {WM_KEYUP, VK_F5, 1210, InputDecision::Continue, nullptr},
        {WM_KEYDOWN, VK_F5, 1250, InputDecision::Consumed, L"4"},
        {WM_SYSKEYUP, VK_MENU, 1260, InputDecision::Continue, nullptr},
        {WM_SYSKEYDOWN, VK_F4, 1270, InputDecision::Consumed, L"3"},
        {WM_KEYDOWN, VK_F8, 5000, InputDecision::Continue, nullptr},
        {WM_KEYDOWN, VK_F1, 5000, InputDecision::Consumed, L"0"},
        {WM_KEYDOWN, VK_F12, 5201, InputDecision::Consumed, L"11"},
        {WM_KEYDOWN, 'A', 9000, InputDecision::Continue, nullptr},
        // The tick wraps around: unsigned arithmetic still sees 301 ms.
        {WM_KEYDOWN, VK_F2, 0xFFFFFF00u, InputDecision::Consumed, L"1"},
        {WM_KEYDOWN, VK_F2, 45, InputDecision::Consumed, L"1"},
    };
    auto run = [this](const Step* steps, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const Step& s = steps[i];
            g_tick = s.tick;
            EXPECT_EQ(s.decision, bridge_.FilterInput(Message(s.message, s.key))) << "step " << i;
            const std::vector<std::wstring> expected =
                s.item ? std::vector<std::wstring>{EventRequest(L"6", {s.item})} : std::vector<std::wstring>{};
            EXPECT_EQ(expected, host_.TakeRequests()) << "step " << i;
        }
    };
    run(before, sizeof before / sizeof before[0]);
    Call({L"3"});
    EXPECT_TRUE(bridge_.functionKeysForwarded());
    EXPECT_TRUE(window_.effects.empty());
    run(after, sizeof after / sizeof after[0]);
}

}  // namespace
